// The serial link on a POSIX terminal: the mapping of the line settings and
// port names, and the link on a real pseudo-terminal.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/line_settings.hpp"
#include "serial/low_latency.hpp"
#include "serial/serial_link.hpp"
#include "serial/termios_mapping.hpp"
#include "tests/support/exclusive_mode.hpp"

using namespace vardel;

namespace {

LineParameters read(const std::string& mode) {
    LineParameters params;
    EXPECT_TRUE(applyModeString(mode, params)) << mode;
    return params;
}

// Attributes of a terminal in its ordinary, cooked state, with every flag set
// that the serial line must not keep.
termios cookedTerminal() {
    termios attributes{};
    attributes.c_iflag = ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | INPCK | BRKINT | PARMRK | IGNBRK;
    attributes.c_oflag = OPOST | ONLCR;
    attributes.c_lflag = ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN;
    attributes.c_cflag = CS7 | PARENB | PARODD | CSTOPB | HUPCL | CRTSCTS;
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 5;
    cfsetispeed(&attributes, B38400);
    cfsetospeed(&attributes, B38400);
    return attributes;
}

termios mapped(const std::string& mode) {
    termios attributes = cookedTerminal();
    applyLineParameters(read(mode), attributes);
    return attributes;
}

bool has(tcflag_t flags, tcflag_t wanted) { return (flags & wanted) == wanted; }

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value != nullptr) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedVariable() {
        if (saved_) setenv(name_, saved_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

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

SerialLink linkTo(const std::string& path, const Trace* trace = nullptr) {
    SerialLink link;
    link.portName = path;
    link.lineSettings = "baud=9600 parity=n data=8 stop=1";
    link.trace = trace;
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
    std::optional<std::string> text;
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
    EXPECT_EQ(reply.text, std::nullopt);
    EXPECT_GT(reply.seconds, 1.0);
    EXPECT_LT(reply.seconds, 1.3);
    EXPECT_LT(reply.cpuSeconds, 0.05);
}

}  // namespace

TEST(TerminalMapping, BuildSettingsGiveARaw9600Baud8N1Line) {
    const termios line = mapped("baud=9600 parity=n data=8 stop=1");
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | PARODD | CSTOPB), 0u);
    // Raw bytes both ways: no translation, no echo, no signals, no flow control.
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    // Reads return at once; the modem lines are ignored and stay up on close.
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    EXPECT_TRUE(has(line.c_cflag, CLOCAL | CREAD));
    EXPECT_EQ(line.c_cflag & HUPCL, 0u);
}

TEST(TerminalMapping, DefaultSettingsGive1200Baud7E1) {
    const termios line = mapped("baud=1200 parity=e data=7 stop=1");
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B1200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE(has(line.c_cflag, PARENB));
    EXPECT_EQ(line.c_cflag & (PARODD | CSTOPB), 0u);
}

TEST(TerminalMapping, ParityDataAndStopBitVariants) {
    EXPECT_TRUE(has(mapped("parity=o").c_cflag, PARENB | PARODD));
    EXPECT_EQ(mapped("data=5").c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_EQ(mapped("data=6").c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
    EXPECT_TRUE(has(mapped("stop=2").c_cflag, CSTOPB));
    EXPECT_TRUE(has(mapped("stop=1.5").c_cflag, CSTOPB));
#ifdef CMSPAR
    EXPECT_TRUE(has(mapped("parity=m").c_cflag, PARENB | CMSPAR | PARODD));
    const termios space = mapped("parity=s");
    EXPECT_TRUE(has(space.c_cflag, PARENB | CMSPAR));
    EXPECT_EQ(space.c_cflag & PARODD, 0u);
    EXPECT_EQ(mapped("parity=e").c_cflag & CMSPAR, 0u);
#endif
}

TEST(TerminalMapping, RateWithoutSpeedConstantKeepsTheSpeed) {
    EXPECT_EQ(speedConstant(14400), std::nullopt);
    const termios line = mapped("baud=14400 parity=n data=8 stop=1");
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B38400));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(speedConstant(115200), std::optional<speed_t>(B115200));
}

TEST(PortPath, ComNamesUseTheirVariableOrTheMatchingSerialDevice) {
    ScopedVariable com1("VARDEL_COM1", nullptr);
    ScopedVariable com3("VARDEL_COM3", "/tmp/somewhere/port3");
    ScopedVariable com12("VARDEL_COM12", "");
    EXPECT_EQ(portPathFor("Com1:"), "/dev/ttyS0");
    EXPECT_EQ(portPathFor("COM1"), "/dev/ttyS0");
    EXPECT_EQ(portPathFor("Com3:"), "/tmp/somewhere/port3");
    EXPECT_EQ(portPathFor("cOm3"), "/tmp/somewhere/port3");
    EXPECT_EQ(portPathFor("Com12:"), "/dev/ttyS11");
    EXPECT_EQ(portPathFor("Com2:"), "/dev/ttyS1");
}

TEST(PortPath, OtherNamesArePaths) {
    ScopedVariable com1("VARDEL_COM1", "/tmp/not-this");
    for (const char* name : {"/dev/ttyUSB0", "Com:", "Com0:", "Com1x:", "Com1::", "Com+1:", "Com 1:", "LPT1:", "ttyS0"}) {
        EXPECT_EQ(portPathFor(name), name);
    }
}

TEST(PseudoTerminalLink, SilentDeviceTimesOutSleeping) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    ASSERT_TRUE(portIsOpen(link));
    const TimedReply reply = timedReadReply(link);
    RecordProperty("cpu_microseconds", static_cast<int>(reply.cpuSeconds * 1e6));
    expectSleepingTimeOut(reply);
}

TEST(PseudoTerminalLink, HungUpTerminalTimesOutSleeping) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    ASSERT_TRUE(portIsOpen(link));
    terminal.hangUp();
    expectSleepingTimeOut(timedReadReply(link));
    writeText(link, "ZEA 1\r");
}

TEST(PseudoTerminalLink, MissingPortTimesOutSleeping) {
    SerialLink link = linkTo("/nonexistent/vardel-port");
    EXPECT_FALSE(portIsOpen(link));
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
}

TEST(PseudoTerminalLink, OpenSetsTheLineAndLeavesTheModemLinesUp) {
    PseudoTerminal terminal;
    SerialLink link = linkTo(terminal.slavePath);
    termios line{};
    ASSERT_EQ(tcgetattr(portDescriptor(link), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | HUPCL), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);
}

TEST(LowLatencyTrace, NamesWhatTheRequestGave) {
    const std::vector<std::pair<LowLatencyRequest, std::string>> cases = {
        {{LowLatency::Set, 0x10000040, ""}, "low latency set; the serial flags are put back at the close"},
        {{LowLatency::AlreadyOn, std::nullopt, ""}, "low latency already on"},
        {{LowLatency::NotAvailable, std::nullopt, "Operation not permitted"},
         "low latency not available: Operation not permitted"},
    };
    for (const auto& [request, text] : cases) EXPECT_EQ(lowLatencyTraceText(request), text);
}

// A pseudo-terminal has no serial flags: the request fails, the trace gives
// the system's reason, and the port works as without the request.
TEST(PseudoTerminalLink, LowLatencyNotAvailableLeavesTheRunAsItWas) {
    PseudoTerminal terminal;
    Trace trace;
    trace.ownedFile.reset(std::tmpfile());
    trace.stream = trace.ownedFile.get();
    ASSERT_NE(trace.stream, nullptr);
    SerialLink link = linkTo(terminal.slavePath, &trace);
    ASSERT_TRUE(portIsOpen(link));
    termios line{};
    ASSERT_EQ(tcgetattr(portDescriptor(link), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | HUPCL), static_cast<tcflag_t>(CS8));
    terminal.send("612\r");
    EXPECT_EQ(readReply(link), "612");
    releasePort(link);

    std::rewind(trace.stream);
    std::string traced;
    for (int c = std::fgetc(trace.stream); c != EOF; c = std::fgetc(trace.stream)) traced += static_cast<char>(c);
    const std::string opened = "opened " + terminal.slavePath + "\n";
    const std::string prefix = " ms: low latency not available: ";
    const std::size_t at = traced.find(prefix);
    ASSERT_NE(at, std::string::npos) << traced;
    EXPECT_LT(traced.find(opened), at) << traced;
    const std::size_t from = at + prefix.size();
    const std::string reason = traced.substr(from, traced.find('\n', from) - from);
    // Linux's answer; a user-mode emulator's for a request it doesn't pass on;
    // a system without the request.
    const std::vector<std::string> reasons = {std::strerror(ENOTTY), std::strerror(ENOSYS),
                                              "no such request on this system"};
    EXPECT_NE(std::find(reasons.begin(), reasons.end(), reason), reasons.end()) << reason;
}

TEST(PseudoTerminalLink, PortHeldByOneLinkIsInvalidForAnotherUntilReleased) {
    PseudoTerminal terminal;
    SerialLink first = linkTo(terminal.slavePath);
    ASSERT_TRUE(portIsOpen(first));
    if (const auto exclusive = test::exclusiveMode(portDescriptor(first))) {
        EXPECT_EQ(*exclusive, 1);
    }
    SerialLink second = linkTo(terminal.slavePath);
    EXPECT_FALSE(portIsOpen(second));

    // Someone else keeps the terminal open, so the exclusive mode would stay.
    const int other = open(terminal.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    releasePort(first);
    EXPECT_FALSE(portIsOpen(first));
    if (other >= 0) {
        if (const auto exclusive = test::exclusiveMode(other)) {
            EXPECT_EQ(*exclusive, 0);
        }
    }
    SerialLink third = linkTo(terminal.slavePath);
    EXPECT_TRUE(portIsOpen(third));
    if (other >= 0) close(other);
}

TEST(PortCheck, OnlyATerminalIsOpened) {
    const std::vector<std::pair<mode_t, std::string_view>> types = {
        {S_IFREG, "regular file"}, {S_IFDIR, "directory"},     {S_IFIFO, "FIFO"},
        {S_IFSOCK, "socket"},      {S_IFBLK, "block device"}, {S_IFCHR, "character device"}};
    for (const auto& [mode, name] : types) EXPECT_EQ(fileTypeName(mode | 0644), name);

    char directory[] = "/tmp/vardel-port-check-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string file = std::string(directory) + "/file";
    const int fileFd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    PseudoTerminal terminal;
    const int slaveFd = open(terminal.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_FALSE(isSerialTerminal(fileFd));
    EXPECT_FALSE(isSerialTerminal(pipeFds[0]));
    EXPECT_FALSE(isSerialTerminal(nullFd));
    EXPECT_TRUE(isSerialTerminal(slaveFd));
    for (int fd : {fileFd, pipeFds[0], pipeFds[1], nullFd, slaveFd}) close(fd);

    // A block device node is never opened, whatever driver is behind it.
    const std::string block = std::string(directory) + "/block";
    if (mknod(block.c_str(), S_IFBLK | 0600, makedev(7, 250)) == 0) {
        EXPECT_FALSE(portIsOpen(linkTo(block)));
        unlink(block.c_str());
    }
    EXPECT_FALSE(portIsOpen(linkTo(file)));
    EXPECT_FALSE(portIsOpen(linkTo(directory)));
    EXPECT_TRUE(portIsOpen(linkTo(terminal.slavePath)));
    unlink(file.c_str());
    rmdir(directory);
}

// In a session of its own whose controlling terminal is a pseudo-terminal,
// that terminal is refused by its path and as /dev/tty, and left as it was.
TEST(PortCheck, TheProcesssOwnTerminalIsRefused) {
    constexpr int SESSION_UNKNOWN = 20;
    PseudoTerminal own;
    PseudoTerminal other;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setsid() < 0) _exit(10);
        const int fd = open(own.slavePath.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0) _exit(11);
        if (tcgetsid(fd) != getsid(0)) _exit(SESSION_UNKNOWN);
        termios before{};
        tcgetattr(fd, &before);
        if (portIsOpen(linkTo(own.slavePath))) _exit(12);
        if (portIsOpen(linkTo("/dev/tty"))) _exit(13);
        termios after{};
        tcgetattr(fd, &after);
        if (after.c_lflag != before.c_lflag || after.c_iflag != before.c_iflag) _exit(14);
        if (!portIsOpen(linkTo(other.slavePath))) _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == SESSION_UNKNOWN) {
        GTEST_SKIP() << "tcgetsid does not give the session of its own terminal here (qemu-user 7.2 "
                        "answers TIOCGSID with a wrong number): the driver cannot tell its own terminal";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {

struct TraceFile {
    Trace trace;
    TraceFile() {
        trace.ownedFile.reset(std::tmpfile());
        trace.stream = trace.ownedFile.get();
    }
    std::string text() const {
        std::rewind(trace.stream);
        std::string traced;
        for (int c = std::fgetc(trace.stream); c != EOF; c = std::fgetc(trace.stream)) traced += static_cast<char>(c);
        return traced;
    }
};

}  // namespace

TEST(LinkTrace, WritesAreTracedWithTheirOutcomeAndRefusalsWithTheirReason) {
    EXPECT_EQ(writeTraceText("ZEA 1\r", 6, ""), "sent \"ZEA 1\\r\"");
    EXPECT_EQ(writeTraceText("ZEA 1\r", 2, "no room before the time-out"),
              "sent in part, 2 of 6 bytes (no room before the time-out): \"ZEA 1\\r\"");
    EXPECT_EQ(writeTraceText("ZEA 1\r", 0, "Input/output error"), "not sent (Input/output error): \"ZEA 1\\r\"");
    EXPECT_EQ(writeTraceText("", 0, ""), "sent \"\"");
    EXPECT_EQ(refusalTraceText("line settings", "Input/output error"),
              "the port refused the line settings: Input/output error");
}

// The write is traced once it has been made: on a terminal whose other end
// has gone, as not sent, with the system's reason.
TEST(PseudoTerminalLink, AWriteToAHungUpTerminalIsTracedAsNotSent) {
    PseudoTerminal terminal;
    TraceFile file;
    SerialLink link = linkTo(terminal.slavePath, &file.trace);
    ASSERT_TRUE(portIsOpen(link));
    terminal.hangUp();
    writeText(link, "ZEA 1\r");
    const std::string traced = file.text();
    EXPECT_NE(traced.find("not sent (" + std::string(std::strerror(EIO)) + "): \"ZEA 1\\r\"\n"), std::string::npos)
        << traced;
    EXPECT_EQ(traced.find(": sent \""), std::string::npos) << traced;
    // Nothing on an opened pseudo-terminal is refused.
    EXPECT_EQ(traced.find("the port refused"), std::string::npos) << traced;
}

// A far end that never reads: what the terminal took by the time-out is
// traced as sent in part.
TEST(PseudoTerminalLink, AWriteThatFindsNoRoomIsTracedAsSentInPart) {
    PseudoTerminal terminal;
    TraceFile file;
    SerialLink link = linkTo(terminal.slavePath, &file.trace);
    ASSERT_TRUE(portIsOpen(link));
    const std::string text(1 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    writeText(link, text);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 1.5);
    const std::string traced = file.text();
    const std::size_t at = traced.find(" ms: sent in part, ");
    ASSERT_NE(at, std::string::npos) << traced.substr(0, 300);
    const std::string line = traced.substr(at, traced.find('\n', at) - at);
    EXPECT_NE(line.find(" of 1048576 bytes (no room before the time-out): \"xxx"), std::string::npos)
        << line.substr(0, 120);
}
