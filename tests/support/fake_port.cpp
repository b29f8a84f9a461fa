// The platform functions of the serial link, served by a FakeDevice.

#include "tests/support/fake_port.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

namespace vardel {

struct PortState {
    fake::FakeDevice* device = nullptr;
    bool open = false;  // opened, and the device is there
};

namespace {

// tickCount() has no link to reach a device through: the clock is the one
// piece of state kept for the whole process.
struct FakeClock {
    std::uint32_t start = 0;
    std::uint64_t passed = 0;
};
FakeClock fakeClock;

constexpr std::uint64_t CALL_LIMIT = 10'000'000;

fake::FakeDevice* deviceOf(const SerialLink& link) { return link.port && link.port->open ? link.port->device : nullptr; }

// Every call counts: a driver that polls without end is a finding, not a hang.
void countCall(fake::FakeDevice& device) {
    if (++device.calls > CALL_LIMIT) {
        std::fprintf(stderr, "the driver keeps polling the port without end\n");
        std::abort();
    }
}

// Arrival times only grow along the queue.
std::size_t arrived(const fake::FakeDevice& device) {
    const auto end = std::partition_point(device.incoming.begin(), device.incoming.end(),
                                          [](const fake::FakeDevice::Arrival& arrival) { return arrival.at <= fakeClock.passed; });
    return static_cast<std::size_t>(end - device.incoming.begin());
}

void answer(fake::FakeDevice& device) {
    if (device.nextReply >= device.replies.size()) return;
    const fake::ScriptedReply& reply = device.replies[device.nextReply++];
    fake::arriveAt(device, fakeClock.passed + reply.delayMs, reply.bytes);
}

}  // namespace

void openPort(SerialLink& link) {
    if (!link.port || link.port->device == nullptr) return;
    fake::FakeDevice& device = *link.port->device;
    ++device.opens;
    device.portName = link.portName;
    device.lineSettings = link.lineSettings;
    link.port->open = !device.missing;
}

bool portIsOpen(const SerialLink& link) { return deviceOf(link) != nullptr; }

void writeText(SerialLink& link, std::string_view text) {
    fake::FakeDevice* device = deviceOf(link);
    if (device == nullptr) return;
    countCall(*device);
    device->written.emplace_back(text);
    answer(*device);
}

std::uint16_t bytesWaiting(SerialLink& link) {
    fake::FakeDevice* device = deviceOf(link);
    if (device == nullptr) return 0;
    countCall(*device);
    const std::size_t count = arrived(*device);
    if (count == 0 && device->emptySinceWait) ++device->pollsWithoutWait;
    device->emptySinceWait = count == 0;
    return static_cast<std::uint16_t>(std::min<std::size_t>(count, std::numeric_limits<std::uint16_t>::max()));
}

bool readOneByte(SerialLink& link, char& byte) {
    fake::FakeDevice* device = deviceOf(link);
    if (device == nullptr) return false;
    countCall(*device);
    if (arrived(*device) == 0) return false;
    byte = device->incoming.front().byte;
    device->incoming.pop_front();
    return true;
}

// Returns when the next byte arrives or the time is up, whichever is first.
void waitForInput(SerialLink& link, std::uint32_t milliseconds) {
    std::uint64_t until = fakeClock.passed + milliseconds;
    if (fake::FakeDevice* device = deviceOf(link)) {
        countCall(*device);
        device->lastWaitMs = milliseconds;
        device->emptySinceWait = false;
        until = fakeClock.passed + std::min(milliseconds, device->longestWaitMs);
        if (!device->incoming.empty()) until = std::min(until, std::max(device->incoming.front().at, fakeClock.passed));
    }
    fakeClock.passed = until;
}

std::uint32_t tickCount() { return static_cast<std::uint32_t>(fakeClock.start + fakeClock.passed); }

void PortRelease::operator()(PortState* state) const noexcept {
    if (state->open) ++state->device->releases;
    delete state;
}

namespace fake {

void attachDevice(SerialLink& link, FakeDevice& device) { link.port.reset(new PortState{&device, false}); }

void arriveAt(FakeDevice& device, std::uint64_t atMs, std::string_view bytes) {
    // Bytes still on their way go first; these follow them.
    if (!device.incoming.empty()) atMs = std::max(atMs, device.incoming.back().at + device.byteSpacingMs);
    for (char byte : bytes) {
        device.incoming.push_back({atMs, byte});
        atMs += device.byteSpacingMs;
    }
}

std::string queuedBytes(const FakeDevice& device) {
    std::string bytes;
    for (const FakeDevice::Arrival& arrival : device.incoming) bytes += arrival.byte;
    return bytes;
}

void resetFakeClock(std::uint32_t start) { fakeClock = FakeClock{start, 0}; }

std::uint64_t fakeMillisecondsPassed() { return fakeClock.passed; }

OpenedDevice::OpenedDevice(std::vector<ScriptedReply> replies) {
    device.replies = std::move(replies);
    resetFakeClock(0);
    attachDevice(link, device);
    openPort(link);
}

}  // namespace fake
}  // namespace vardel
