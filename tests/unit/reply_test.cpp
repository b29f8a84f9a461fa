// Collecting a reply: the time-out, bytes left queued, sleeping waits; with a
// scripted port and with a real pseudo-terminal.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>

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

namespace {

struct PseudoTerminal {
    int master = -1;
    std::string slavePath;

    PseudoTerminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pty");
        slavePath = ptsname(master);
    }
    ~PseudoTerminal() { hangUp(); }
    void hangUp() {
        if (master >= 0) close(master);
        master = -1;
    }
    void send(const std::string& bytes) const { ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
};

SerialLink linkTo(const std::string& path) {
    SerialLink link;
    link.portName = path;
    link.lineSettings = "baud=9600 parity=n data=8 stop=1";
    openPort(link);
    return link;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct TimedReply {
    std::string text;
    double seconds = 0;
    double cpuSeconds = 0;
};

TimedReply timedReadReply(SerialLink& link) {
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    TimedReply reply;
    reply.text = readReply(link);
    reply.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    reply.cpuSeconds = cpuSeconds() - cpuBefore;
    return reply;
}

void expectSleepingTimeOut(const TimedReply& reply) {
    EXPECT_EQ(reply.text, "");
    EXPECT_GT(reply.seconds, 1.0);
    EXPECT_LT(reply.seconds, 1.3);
    EXPECT_LT(reply.cpuSeconds, 0.05);
}

}  // namespace

TEST(PseudoTerminalLink, SilentDeviceTimesOutSleeping) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    ASSERT_GE(link.handle, 0);
    const TimedReply reply = timedReadReply(link);
    RecordProperty("cpu_microseconds", static_cast<int>(reply.cpuSeconds * 1e6));
    expectSleepingTimeOut(reply);
    releasePort(link);
}

TEST(PseudoTerminalLink, HungUpTerminalTimesOutSleeping) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    ASSERT_GE(link.handle, 0);
    terminal.hangUp();
    expectSleepingTimeOut(timedReadReply(link));
    writeText(link, "ZEA 1\r");
    releasePort(link);
}

TEST(PseudoTerminalLink, MissingPortTimesOutSleeping) {
    SerialLink link = linkTo("/nonexistent/vardel-port");
    EXPECT_EQ(link.handle, -1);
    writeText(link, "ZRECO\r");
    EXPECT_EQ(bytesWaiting(link), 0);
    expectSleepingTimeOut(timedReadReply(link));
}

TEST(PseudoTerminalLink, CommandsGoOutAndRepliesComeBackWithTheRestQueued) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    writeText(link, "ZEA 11\r");
    char sent[16] = {};
    ASSERT_EQ(read(terminal.master, sent, sizeof sent), 7);
    EXPECT_EQ(std::string(sent, 7), "ZEA 11\r");

    terminal.send("123\r\n456\r");
    EXPECT_EQ(readReply(link), "123");
    EXPECT_EQ(bytesWaiting(link), 5);
    EXPECT_EQ(readReply(link), "\n456");
    releasePort(link);
}

TEST(PseudoTerminalLink, WaitWakesWhenTheReplyComes) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    std::thread device([&terminal] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        terminal.send("4");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        terminal.send("2\r");
    });
    const TimedReply reply = timedReadReply(link);
    device.join();
    EXPECT_EQ(reply.text, "42");
    EXPECT_GT(reply.seconds, 0.29);
    EXPECT_LT(reply.seconds, 0.6);
    releasePort(link);
}

TEST(PseudoTerminalLink, OpenSetsTheLineAndLeavesTheModemLinesUp) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    termios line{};
    ASSERT_EQ(tcgetattr(static_cast<int>(link.handle), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | HUPCL), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);
    releasePort(link);
}

TEST(PseudoTerminalLink, PortHeldByOneLinkIsInvalidForAnotherUntilReleased) {
    PseudoTerminal terminal;
    SerialLink first = linkTo(terminal.slavePath);
    ASSERT_GE(first.handle, 0);
#ifdef TIOCGEXCL
    int exclusive = 0;
    EXPECT_EQ(ioctl(static_cast<int>(first.handle), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
#endif
    SerialLink second = linkTo(terminal.slavePath);
    EXPECT_EQ(second.handle, -1);

    // Someone else keeps the terminal open, so the exclusive mode would stay.
    const int other = open(terminal.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    releasePort(first);
    EXPECT_EQ(first.handle, -1);
#ifdef TIOCGEXCL
    if (other >= 0) {
        EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
    }
#endif
    SerialLink third = linkTo(terminal.slavePath);
    EXPECT_GE(third.handle, 0);
    releasePort(third);
    if (other >= 0) close(other);
}
