// Collecting a reply: the time-out, bytes left queued, sleeping waits.

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <map>
#include <stdexcept>
#include <string>

#include "serial/serial_link.hpp"

using namespace vardel;

namespace {

// A port whose bytes arrive at given clock values. Its clock moves only when
// the reader waits, so a reader that polls without waiting is caught.
struct ScriptedPort {
    std::uint32_t clock = 0;
    std::deque<char> queue;
    std::multimap<std::uint32_t, std::string> arrivals;  // keyed by the offset from the first clock value
    std::uint32_t start = 0;
    std::uint32_t step = 0xFFFFFFFF;  // the most one wait advances the clock
    std::uint32_t waitedTotal = 0;
    std::uint32_t lastWait = 0;
    bool idleSinceWait = false;

    explicit ScriptedPort(std::uint32_t startClock = 5000) : clock(startClock), start(startClock) {}

    void deliver() {
        while (!arrivals.empty() && arrivals.begin()->first <= clock - start) {
            queue.insert(queue.end(), arrivals.begin()->second.begin(), arrivals.begin()->second.end());
            arrivals.erase(arrivals.begin());
        }
    }

    std::uint16_t waiting() {
        deliver();
        if (queue.empty() && idleSinceWait) throw std::logic_error("polled again without waiting");
        idleSinceWait = queue.empty();
        return static_cast<std::uint16_t>(queue.size());
    }

    bool readByte(char& byte) {
        if (queue.empty()) return false;
        byte = queue.front();
        queue.pop_front();
        return true;
    }

    // Sleeps until the next arrival or `milliseconds`, at most `step`.
    void wait(std::uint32_t milliseconds) {
        std::uint32_t advance = std::min(milliseconds, step);
        if (!arrivals.empty()) {
            const std::uint32_t now = clock - start;
            if (arrivals.begin()->first > now) advance = std::min(advance, arrivals.begin()->first - now);
        }
        lastWait = milliseconds;
        waitedTotal += advance;
        clock += advance;
        idleSinceWait = false;
    }

    std::uint32_t elapsed() const { return clock - start; }

    std::string collect() {
        ReplySource source{[this] { return waiting(); }, [this](char& byte) { return readByte(byte); },
                           [this](std::uint32_t ms) { wait(ms); }, [this] { return clock; }};
        return collectReply(source, REPLY_TIMEOUT_MS);
    }

    std::string queued() const { return std::string(queue.begin(), queue.end()); }
};

}  // namespace

TEST(CollectReply, StopsAtTheCarriageReturnAndLeavesTheRestQueued) {
    ScriptedPort port;
    port.arrivals.insert({0, "123\r\n456\r7"});
    EXPECT_EQ(port.collect(), "123");
    EXPECT_EQ(port.queued(), "\n456\r7");
    EXPECT_EQ(port.collect(), "\n456");
    EXPECT_EQ(port.queued(), "7");
    EXPECT_EQ(port.waitedTotal, 0u);
}

TEST(CollectReply, ReplyArrivingInPiecesIsAssembled) {
    ScriptedPort port;
    port.arrivals.insert({40, "12"});
    port.arrivals.insert({300, "3"});
    port.arrivals.insert({1000, "\r"});
    EXPECT_EQ(port.collect(), "123");
    EXPECT_EQ(port.elapsed(), 1000u);
}

TEST(CollectReply, NoReplyEndsOnlyOnceMoreThanTheTimeOutHasPassed) {
    ScriptedPort port;
    port.step = 250;  // the clock reads 250, 500, 750, 1000: still waiting; then 1001
    EXPECT_EQ(port.collect(), "");
    EXPECT_EQ(port.elapsed(), 1001u);
    EXPECT_EQ(port.lastWait, 1u);
}

TEST(CollectReply, BytesWithoutCarriageReturnGiveTheEmptyTextAfterTheTimeOut) {
    ScriptedPort port;
    port.arrivals.insert({10, "612"});
    port.arrivals.insert({1500, "\r"});
    EXPECT_EQ(port.collect(), "");
    EXPECT_EQ(port.elapsed(), 1001u);
}

TEST(CollectReply, ClockWrappingAroundDoesNotEndTheWaitEarly) {
    ScriptedPort silent(0xFFFFFF00u);
    silent.step = 100;
    EXPECT_EQ(silent.collect(), "");
    EXPECT_EQ(silent.elapsed(), 1001u);

    ScriptedPort late(0xFFFFFE00u);
    late.arrivals.insert({900, "7\r"});  // after the wrap
    EXPECT_EQ(late.collect(), "7");
    EXPECT_EQ(late.elapsed(), 900u);
}

// --- On a real pseudo-terminal, the link's own platform functions ---

TEST(TraceText, BytesAreEscapedSoEveryLineStaysOneLine) {
    EXPECT_EQ(escapedBytes("ZEA 1\r"), "ZEA 1\\r");
    EXPECT_EQ(escapedBytes(std::string("\n\\\0\x7F\xE9~ ", 7)), "\\n\\\\\\x00\\x7F\\xE9~ ");
    // Text a person typed, shown back: UTF-8 kept, control bytes escaped.
    EXPECT_EQ(escapedBytes("\t\xC3\xA9\r", HighBytes::Kept), "\\x09\xC3\xA9\\r");
    EXPECT_FALSE(isTracing(nullptr));
    const Trace unset = openTrace(nullptr, 0);
    const Trace empty = openTrace("", 0);
    EXPECT_FALSE(isTracing(&unset));
    EXPECT_FALSE(isTracing(&empty));
}
