// Collecting a reply: the time-out, bytes left queued, sleeping waits.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "serial/serial_link.hpp"
#include "tests/support/fake_port.hpp"

using namespace vardel;
using fake::arriveAt;

namespace {

// The scripted device with bytes arriving at given clock values only, and
// the clock starting at `startClock`. Its clock moves only when the reader
// waits, so a reader that polls without waiting is caught.
struct ReplyPort : fake::OpenedDevice {
    explicit ReplyPort(std::uint32_t startClock = 5000) : fake::OpenedDevice({}) {
        device.byteSpacingMs = 0;
        fake::resetFakeClock(startClock);
    }
    std::optional<std::string> collect() {
        std::optional<std::string> reply = readReply(link);
        EXPECT_EQ(device.pollsWithoutWait, 0) << "polled again without waiting";
        return reply;
    }
    static std::uint64_t elapsed() { return fake::fakeMillisecondsPassed(); }
};

}  // namespace

TEST(CollectReply, StopsAtTheCarriageReturnAndLeavesTheRestQueued) {
    ReplyPort port;
    arriveAt(port.device, 0, "123\r\n456\r7");
    EXPECT_EQ(port.collect(), "123");
    EXPECT_EQ(fake::queuedBytes(port.device), "\n456\r7");
    EXPECT_EQ(port.collect(), "\n456");
    EXPECT_EQ(fake::queuedBytes(port.device), "7");
    EXPECT_EQ(port.elapsed(), 0u);
}

TEST(CollectReply, ReplyArrivingInPiecesIsAssembled) {
    ReplyPort port;
    arriveAt(port.device, 40, "12");
    arriveAt(port.device, 300, "3");
    arriveAt(port.device, 1000, "\r");
    EXPECT_EQ(port.collect(), "123");
    EXPECT_EQ(port.elapsed(), 1000u);
}

TEST(CollectReply, NoReplyEndsOnlyOnceMoreThanTheTimeOutHasPassed) {
    ReplyPort port;
    port.device.longestWaitMs = 250;  // the clock reads 250, 500, 750, 1000: still waiting; then 1001
    EXPECT_EQ(port.collect(), std::nullopt);
    EXPECT_EQ(port.elapsed(), 1001u);
    EXPECT_EQ(port.device.lastWaitMs, 1u);
}

TEST(CollectReply, BytesWithoutCarriageReturnAreNoReplyButALoneCarriageReturnIsAnEmptyOne) {
    ReplyPort port;
    arriveAt(port.device, 10, "612");
    arriveAt(port.device, 1500, "\r");
    EXPECT_EQ(port.collect(), std::nullopt);
    EXPECT_EQ(port.elapsed(), 1001u);
    ReplyPort empty;
    arriveAt(empty.device, 30, "\r");
    EXPECT_EQ(empty.collect(), "");
}

TEST(CollectReply, ClockWrappingAroundDoesNotEndTheWaitEarly) {
    {
        ReplyPort silent(0xFFFFFF00u);
        silent.device.longestWaitMs = 100;
        EXPECT_EQ(silent.collect(), std::nullopt);
        EXPECT_EQ(silent.elapsed(), 1001u);
    }
    ReplyPort late(0xFFFFFE00u);
    arriveAt(late.device, 900, "7\r");  // after the wrap
    EXPECT_EQ(late.collect(), "7");
    EXPECT_EQ(late.elapsed(), 900u);
}

// --- The trace text ---

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
