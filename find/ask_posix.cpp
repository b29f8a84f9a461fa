// Asking many ports at once on POSIX: the request written to each, then one
// poll over all their descriptors until each has replied or the time-out
// has passed for it.

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "device/protocol.hpp"
#include "find/host.hpp"
#include "serial/monotonic_clock.hpp"
#include "serial/termios_mapping.hpp"

namespace vardel::find {

namespace {

constexpr char CARRIAGE_RETURN = '\r';

struct Pending {
    Question* question;
    std::string bytes;
    std::int64_t deadline;
    bool done = false;
};

void finish(Pending& pending, bool timedOut) {
    CollectedReply& reply = pending.question->reply;
    if (timedOut) {
        reply = CollectedReply{std::string(), true, pending.bytes};
    } else {
        reply = CollectedReply{pending.bytes.substr(0, pending.bytes.find(CARRIAGE_RETURN)), false, std::string()};
    }
    pending.done = true;
}

// Takes what the port holds, as the drivers read it: one byte at a time,
// up to the carriage return.
void takeBytes(Pending& pending, short events) {
    SerialLink& link = pending.question->link;
    char byte = 0;
    bool gotByte = false;
    while (bytesWaiting(link) > 0 && readOneByte(link, byte)) {
        gotByte = true;
        pending.bytes.push_back(byte);
        if (byte == CARRIAGE_RETURN) return finish(pending, false);
    }
    // An event without a byte to read (hung up, unplugged, in error) ends
    // the question: polling again would only spin.
    if (!gotByte || (events & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        pending.question->hungUp = true;
        finish(pending, true);
    }
}

}  // namespace

void askAll(const std::vector<Question*>& questions) {
    std::vector<Pending> pending;
    for (Question* question : questions) {
        writeText(question->link, identificationRequest());
        const std::int64_t deadline =
            monotonicNanos() + (std::int64_t{question->link.timeoutMs} + 1) * NANOS_PER_MILLI;
        pending.push_back(Pending{question, std::string(), deadline});
    }
    for (;;) {
        std::vector<pollfd> entries;
        std::vector<Pending*> owners;
        std::int64_t nearest = 0;
        for (Pending& p : pending) {
            if (p.done) continue;
            if (millisecondsUntil(p.deadline) == 0) {
                finish(p, true);
                continue;
            }
            entries.push_back(pollfd{portDescriptor(p.question->link), POLLIN, 0});
            owners.push_back(&p);
            if (nearest == 0 || p.deadline < nearest) nearest = p.deadline;
        }
        if (entries.empty()) return;
        const int ready = poll(entries.data(), entries.size(), static_cast<int>(millisecondsUntil(nearest)));
        if (ready < 0 && errno != EINTR) {
            for (Pending* p : owners) finish(*p, true);
            return;
        }
        for (std::size_t i = 0; ready > 0 && i < entries.size(); ++i) {
            if (entries[i].revents != 0) takeBytes(*owners[i], entries[i].revents);
        }
    }
}

}  // namespace vardel::find
