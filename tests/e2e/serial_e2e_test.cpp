// The simulated device on its own, and the programs' use of the serial port
// against it: exclusive use, paths that are no terminal, a reply left over
// from an earlier run, the trace.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/e2e/harness.hpp"

using namespace vardel::e2e;
using Clock = std::chrono::steady_clock;

namespace {

// CPU time of a whole run that waits a second; a wait that polls without
// sleeping takes about a second of it.
constexpr double SLEEPING_RUN_CPU_SECONDS = 0.25;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The device's terminal as a driver opens it, raw.
class Port {
public:
    explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios line{};
        if (fd_ >= 0 && tcgetattr(fd_, &line) == 0) {
            cfmakeraw(&line);
            tcsetattr(fd_, TCSANOW, &line);
        }
    }
    ~Port() {
        if (fd_ >= 0) close(fd_);
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void send(const std::string& bytes) const {
        EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Bytes up to and with `count` bytes, or what came within `seconds`.
    std::string readBytes(std::size_t count, double seconds = 3.0) const {
        std::string bytes;
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) break;
            char byte = 0;
            if (read(fd_, &byte, 1) == 1) bytes.push_back(byte);
        }
        return bytes;
    }

    // Sends a command and returns the reply of `replySize` bytes.
    std::string ask(const std::string& command, std::size_t replySize) const {
        send(command);
        return readBytes(replySize);
    }

private:
    int fd_;
};

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// Sleeps in steps until `path` exists; false when it didn't within `seconds`.
bool appears(const std::string& path, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!exists(path)) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// True when the port reports a hang-up within `seconds`.
bool hangsUp(const Port& port, double seconds) {
    pollfd entry{port.fd(), POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(seconds * 1000)) > 0 && (entry.revents & POLLHUP) != 0;
}

// Everything that comes until nothing has come for `quietSeconds`.
std::string readUntilQuiet(const Port& port, double quietSeconds) {
    std::string bytes;
    char buffer[4096];
    pollfd entry{port.fd(), POLLIN, 0};
    while (poll(&entry, 1, static_cast<int>(quietSeconds * 1000)) > 0 && (entry.revents & POLLIN) != 0) {
        const ssize_t count = read(port.fd(), buffer, sizeof buffer);
        if (count <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

}  // namespace

// --- The simulated device ---

TEST(Simulator, AnswersTheCommandsWithRepliesAndLogsEveryByte) {
    SimDevice device({"ident 1,2,3,", "analog 11 612", "analog -3 7", "binary 2 1", "binary char:; 5"});
    Port port(device.path());
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(port.ask("ZRECO\r", 7), "1,2,3,\r");
    EXPECT_EQ(port.ask("ZEA 11\r", 4), "612\r");
    EXPECT_EQ(port.ask("ZEA -3\r", 2), "7\r");
    EXPECT_EQ(port.ask("ZEBIT 2\r", 2), "1\r");
    EXPECT_EQ(port.ask("ZEBIT ;\r", 2), "5\r");
    // No reply to these: the next bytes that come are the answer to ZRECO.
    port.send("ZEA 4\rZSBIT 2\rZRBIT 2\rZEBIT 3\rHELLO\rZRECO \r");
    EXPECT_EQ(port.ask("ZRECO\r", 7), "1,2,3,\r");
    EXPECT_EQ(device.received(),
              "ZRECO\rZEA 11\rZEA -3\rZEBIT 2\rZEBIT ;\rZEA 4\rZSBIT 2\rZRBIT 2\rZEBIT 3\rHELLO\rZRECO \rZRECO\r");
    EXPECT_EQ(device.exitStatus(), 0);
}

TEST(Simulator, LaterLinesOverrideEarlierOnes) {
    SimDevice device({"ident a", "analog * 5", "binary * 1", "analog 3 7", "silent binary", "binary 4 0",
                      "ident b"});
    Port port(device.path());
    EXPECT_EQ(port.ask("ZEA 3\r", 2), "7\r");
    EXPECT_EQ(port.ask("ZEA 2\r", 2), "5\r");
    port.send("ZEBIT 1\r");  // silenced
    EXPECT_EQ(port.ask("ZEBIT 4\r", 2), "0\r");
    EXPECT_EQ(port.ask("ZRECO\r", 2), "b\r");

    SimDevice quiet({"ident x", "analog * 1", "silent all", "analog 0 2"});
    Port quietPort(quiet.path());
    quietPort.send("ZRECO\rZEA 1\r");
    EXPECT_EQ(quietPort.ask("ZEA 0\r", 2), "2\r");
}

TEST(Simulator, RawRepliesEscapesAndSuffix) {
    SimDevice device({"analog-raw 1 12\\n", "ident \\s1\\t\\x41\\\\\\0", "binary 0", "suffix \\n"});
    Port port(device.path());
    EXPECT_EQ(port.ask("ZEA 1\r", 4), "12\n\n");
    EXPECT_EQ(port.ask("ZRECO\r", 8), std::string(" 1\tA\\\0\r\n", 8));
    EXPECT_EQ(port.ask("ZEBIT 0\r", 2), "\r\n");
}

TEST(Simulator, RefusesScenarioLinesItCannotRead) {
    for (const char* line : {"idnet 1", "analog", "binary x 1", "binary char:ab 1", "silent some", "delay soon",
                             "baud -1", "ident \\q", "ident \\x4", "hangup", "hangup x", "hangup 1 y",
                             "hangup 1 2 3", "reconnect", "reconnect -5", "flood 100", "flood x 7", "flood 100 \\q"}) {
        EXPECT_THROW(SimDevice({line}), std::runtime_error) << line;
    }
}

// A scenario file is read as a series file is: a regular file of at most
// 16 MiB. A device, a FIFO, a directory or a larger file is refused by its
// name before it is read, with status 1.
TEST(Simulator, RefusesScenarioFilesThatAreNoRegularFileOrTooLarge) {
    const vardel::test::TempDirectory directory("vardel-scenario");
    const std::string fifo = directory.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = directory.path + "/large";
    const int fd = open(large.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 16 * 1024 * 1024 + 1), 0);
    close(fd);
    const std::string limit = directory.path + "/limit";
    writeFile(limit, "analog 1 612\n" + std::string(16 * 1024 * 1024 - 14, '#') + "\n");
    struct Case {
        std::string path;
        std::string why;
    };
    for (const Case& c : {Case{"/dev/zero", "a character device"}, Case{"/dev/null", "a character device"},
                          Case{fifo, "a FIFO"}, Case{directory.path, "a directory"},
                          Case{large, "is larger than 16 MiB"}}) {
        const RunResult run =
            runProgram("vardel-sim", {"--link", directory.path + "/port", "--scenario", c.path});
        EXPECT_EQ(run.status, 1) << c.path;
        EXPECT_NE(run.err.find("\"" + c.path + "\""), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
        EXPECT_LT(run.seconds, 5.0) << c.path;
        EXPECT_EQ(run.out, "") << c.path;
    }
    // A name that is neither built in nor a file is a usage error; a file of
    // exactly the limit is read.
    EXPECT_EQ(runProgram("vardel-sim", {"--link", directory.path + "/port", "--scenario", "demo2"}).status, 2);
    SimDevice device({}, SimOptions{{"--scenario", limit}});
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "612" + CRLF);
}

TEST(Simulator, DelaysAndPacesReplies) {
    SimDevice delayed({"delay 300", "ident 1"});
    Port port(delayed.path());
    auto start = Clock::now();
    EXPECT_EQ(port.ask("ZRECO\r", 2), "1\r");
    EXPECT_GE(secondsSince(start), 0.3);

    // 20 bytes at 600 baud: 10 bits each, about 333 ms in all, from the start.
    SimDevice paced({"baud 600", "ident 0123456789012345678"});
    Port pacedPort(paced.path());
    start = Clock::now();
    pacedPort.send("ZRECO\r");
    EXPECT_EQ(pacedPort.readBytes(1), "0");
    EXPECT_LT(secondsSince(start), 0.15);
    EXPECT_EQ(pacedPort.readBytes(19), "123456789012345678\r");
    EXPECT_GE(secondsSince(start), 0.3);
}

TEST(Simulator, HangsUpInTheMiddleOfAReplyAndComesBack) {
    SimDevice device({"analog 1 612", "hangup 2 200", "reconnect 300", "ident 7"});
    {
        Port port(device.path());
        ASSERT_TRUE(port.isOpen());
        const auto start = Clock::now();
        EXPECT_EQ(port.ask("ZEA 1\r", 2), "61");
        port.send("ZRECO\r");  // queued when it hangs up: logged, not answered
        EXPECT_TRUE(hangsUp(port, 1.0));
        EXPECT_GE(secondsSince(start), 0.2);
        EXPECT_FALSE(exists(device.path()));
    }
    ASSERT_TRUE(appears(device.path(), 2.0));
    // Whole replies from here on: the hang-up was once.
    Port port(device.path());
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(port.ask("ZEA 1\r", 4), "612\r");
    EXPECT_EQ(port.ask("ZEA 1\r", 4), "612\r");
    EXPECT_EQ(device.received(), "ZEA 1\rZRECO\rZEA 1\rZEA 1\r");
    EXPECT_EQ(device.exitStatus(), 0);
}

TEST(Simulator, HungUpForGoodStillStopsWhenToldTo) {
    SimDevice device({"analog 1 612", "hangup 0"});
    {
        Port port(device.path());
        port.send("ZEA 1\r");
        EXPECT_TRUE(hangsUp(port, 1.0));
        EXPECT_EQ(readUntilQuiet(port, 0.1), "");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(exists(device.path()));
    EXPECT_EQ(device.received(), "ZEA 1\r");
    EXPECT_EQ(device.exitStatus(), 0);
    EXPECT_LT(device.cpuSeconds(), 0.1);
}

TEST(Simulator, FloodsWithoutCarriageReturnForItsTime) {
    // At 9600 baud: about 960 bytes a second, so about 290 in 300 ms.
    SimDevice paced({"analog-raw 1 12", "baud 9600", "flood 300 ab"});
    Port pacedPort(paced.path());
    pacedPort.send("ZEA 1\r");
    const std::string slow = readUntilQuiet(pacedPort, 0.2);
    EXPECT_EQ(slow.substr(0, 6), "12abab");
    EXPECT_GT(slow.size(), 250u);
    EXPECT_LT(slow.size(), 330u);
    EXPECT_EQ(slow.find('\r'), std::string::npos);

    // Unpaced: as fast as the terminal takes it, until the time is up.
    SimDevice fast({"analog 1 12", "flood 300 7"});
    Port fastPort(fast.path());
    const auto start = Clock::now();
    fastPort.send("ZEA 1\r");
    const std::string flood = readUntilQuiet(fastPort, 0.2);
    EXPECT_GE(secondsSince(start), 0.3);
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_EQ(flood.substr(0, 3), "12\r");
    EXPECT_GT(flood.size(), 100'000u);
    EXPECT_EQ(flood.find_first_not_of('7', 3), std::string::npos);
    // It answers again afterwards, and a stop signal ends a flood.
    EXPECT_EQ(fastPort.ask("ZEA 1\r", 3), "12\r");
    EXPECT_EQ(fast.received(), "ZEA 1\rZEA 1\r");
    EXPECT_EQ(fast.exitStatus(), 0);
}

TEST(Simulator, SurvivesTheTerminalOpenedAndClosedManyTimes) {
    SimDevice device({"analog 1 612"});
    std::string expected;
    for (int run = 0; run < 20; ++run) {
        Port port(device.path());
        ASSERT_TRUE(port.isOpen()) << "run " << run;
        EXPECT_EQ(port.ask("ZEA 1\r", 4), "612\r") << "run " << run;
        expected += "ZEA 1\r";
    }
    EXPECT_EQ(device.received(), expected);
    EXPECT_EQ(device.exitStatus(), 0);
}

TEST(Simulator, SleepsWhileIdle) {
    SimDevice baseline({"analog 1 612"});
    {
        Port port(baseline.path());
        EXPECT_EQ(port.ask("ZEA 1\r", 4), "612\r");
    }
    baseline.received();

    SimDevice device({"analog 1 612"});
    {
        Port port(device.path());
        EXPECT_EQ(port.ask("ZEA 1\r", 4), "612\r");
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    // The driver has gone: the device still sleeps.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    device.received();
    // Polling without sleep would have taken most of the 1.4 s.
    EXPECT_LT(device.cpuSeconds() - baseline.cpuSeconds(), 0.1);
}

TEST(Simulator, StopsAfterLoggingWhatIsStillQueuedAndRemovesItsLink) {
    SimDevice device({});
    const std::string link = device.path();
    {
        Port port(link);
        port.send("ZSBIT 1\r");
    }
    EXPECT_EQ(device.received(), "ZSBIT 1\r");
    EXPECT_EQ(device.exitStatus(), 0);
    EXPECT_FALSE(exists(link));
}

// --- The programs on the serial port ---

TEST(SerialPort, PortHeldByAnotherProcessBehavesAsNoDevice) {
    SimDevice device({"analog 1 612"});
    {
        Port holder(device.path());
        ASSERT_TRUE(holder.isOpen());
        ASSERT_EQ(flock(holder.fd(), LOCK_EX | LOCK_NB), 0);
        const RunResult run = runWith(device, "vardel1", {"ea", "1"});
        EXPECT_EQ(run.out, "-777" + CRLF);
        EXPECT_EQ(run.status, 0);
        EXPECT_GT(run.seconds, 1.0);
        EXPECT_LT(run.cpuSeconds, SLEEPING_RUN_CPU_SECONDS);
    }
    // Free again: the next run has the device.
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "612" + CRLF);
    EXPECT_EQ(device.received(), "ZEA 1\r");
}

// A port path that names anything but a terminal is left as it was and gives
// what a missing port gives: the marker after the time-out.
TEST(SerialPort, PathsThatAreNoTerminalAreLeftUntouched) {
    char directory[] = "/tmp/vardel-not-a-port-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string base = directory;
    const std::string data = "precious data line 1\nline 2\n";
    writeFile(base + "/data.csv", data);
    ASSERT_EQ(mkfifo((base + "/fifo").c_str(), 0600), 0);
    const int fifoReader = open((base + "/fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fifoReader, 0);
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = base + "/socket";
    socketPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    struct stat before {};
    ASSERT_EQ(stat((base + "/data.csv").c_str(), &before), 0);

    for (const std::string& path : {base + "/data.csv", base, base + "/fifo", socketPath,
                                    std::string("/dev/null"), std::string("/dev/zero"), base + "/absent"}) {
        RunOptions options;
        options.portPath = path;
        const RunResult run = runProgram("vardel1", {"ea", "1"}, options);
        EXPECT_EQ(run.out, "-777" + CRLF) << path;
        EXPECT_EQ(run.status, 0) << path;
        EXPECT_GT(run.seconds, 1.0) << path;
        EXPECT_LT(run.seconds, 1.5) << path;
        EXPECT_LT(run.cpuSeconds, SLEEPING_RUN_CPU_SECONDS) << path;
    }

    struct stat after {};
    ASSERT_EQ(stat((base + "/data.csv").c_str(), &after), 0);
    EXPECT_EQ(readFile(base + "/data.csv"), data);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    char byte = 0;
    EXPECT_LE(read(fifoReader, &byte, 1), 0) << "the FIFO got a byte";
    pollfd pending{listener, POLLIN, 0};
    EXPECT_EQ(poll(&pending, 1, 0), 0) << "the socket got a connection";
    EXPECT_EQ(access((base + "/absent").c_str(), F_OK), -1) << "the missing path was created";

    close(fifoReader);
    close(listener);
    for (const char* name : {"/data.csv", "/fifo", "/socket"}) unlink((base + name).c_str());
    rmdir(directory);
}

// Devices that are no terminal are told by their device number and never
// opened: a watchdog would start counting at the open, a tape rewind at the
// close. strace of the run alone shows every open it makes.
TEST(SerialPort, CharacterDevicesThatAreNoTerminalAreNeverOpened) {
    const std::string strace = "/usr/bin/strace";
    if (!programsRunNatively()) GTEST_SKIP() << "the programs run through an emulator, whose own opens strace sees too";
    if (access(strace.c_str(), X_OK) != 0) GTEST_SKIP() << "no strace (scripts/test-all.sh installs it)";
    const vardel::test::TempDirectory directory("vardel-strace");
    const std::string traceFile = directory.path + "/opens";
    for (const std::string path : {"/dev/null", "/dev/zero", "/dev/urandom"}) {
        RunOptions options;
        options.portPath = path;
        options.wrapper = {strace, "-f", "-qq", "-o", traceFile, "-e", "trace=open,openat,openat2,creat"};
        // The sanitizer build's leak check can't run under ptrace.
        options.environment = {"ASAN_OPTIONS=detect_leaks=0"};
        const RunResult run = runProgram("vardel1", {"ea", "0"}, options);
        if (run.status != 0 && run.err.find("ptrace") != std::string::npos) {
            GTEST_SKIP() << "strace may not trace here: " << run.err;
        }
        EXPECT_EQ(run.out, "-777" + CRLF) << path;
        EXPECT_EQ(run.status, 0) << path;
        const std::string opens = readFile(traceFile);
        // The trace holds the run's opens, the list of terminal drivers among them.
        EXPECT_NE(opens.find("\"/proc/tty/drivers\""), std::string::npos) << opens;
        EXPECT_EQ(opens.find("\"" + path + "\""), std::string::npos) << path << " was opened:\n" << opens;
    }
}

// A reply that came after an earlier run had given up waits in the terminal's
// queue, here kept by another program holding the port open. The next run
// discards it and prints the reply to its own command.
TEST(SerialPort, ReplyLeftFromAnEarlierRunIsNotTheNextRunsReply) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slavePath = ptsname(master);
    Port holder(slavePath);
    ASSERT_TRUE(holder.isOpen());
    const std::string late = "111\r";
    ASSERT_EQ(write(master, late.data(), late.size()), static_cast<ssize_t>(late.size()));

    std::string command;
    std::thread device([&] {
        char byte = 0;
        pollfd entry{master, POLLIN, 0};
        while (command.find('\r') == std::string::npos && poll(&entry, 1, 3000) == 1 && read(master, &byte, 1) == 1) {
            command += byte;
        }
        const std::string reply = "222\r";
        EXPECT_EQ(write(master, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    });
    RunOptions options;
    options.portPath = slavePath;
    const RunResult run = runProgram("vardel1", {"ea", "2"}, options);
    device.join();
    close(master);
    EXPECT_EQ(command, "ZEA 2\r");
    EXPECT_EQ(run.out, "222" + CRLF);
}

// A port that refuses the exclusive mode, the line settings and the flush of
// its receive queue: the trace says which, with the system's reason, and
// the run goes on to its end.
TEST(Trace, SettingsThatThePortRefusesAreTracedWithTheirReason) {
    if (!programsRunNatively()) GTEST_SKIP() << "the preloaded terminal is a library of this machine, not the emulated one's";
    SimDevice device({"analog 1 612"});
    RunOptions options;
    options.portPath = device.path();
    // The sanitizer build's runtime would want to be loaded first.
    options.environment = {std::string("LD_PRELOAD=") + VARDEL_REFUSING_PORT, "VARDEL_TRACE=1",
                           "ASAN_OPTIONS=verify_asan_link_order=0"};
    const RunResult run = runProgram("vardel1", {"ea", "1"}, options);
    EXPECT_EQ(run.status, 0);
    std::size_t at = run.err.find(" ms: opened " + device.path() + "\n");
    ASSERT_NE(at, std::string::npos) << run.err;
    for (const char* setting : {"exclusive mode", "line settings", "flush of the receive queue"}) {
        at = run.err.find(std::string(" ms: the port refused the ") + setting + ": " + std::strerror(EIO) + "\n", at);
        EXPECT_NE(at, std::string::npos) << setting << " in\n" << run.err;
    }
    EXPECT_NE(run.err.find(" ms: sent \"ZEA 1\\r\"\n"), std::string::npos) << run.err;
}

// The trace says what the link did; standard output and the exit status are
// those of the same run without it.
TEST(Trace, TellsWhatTheLinkDidAndLeavesTheOutputAlone) {
    char directory[] = "/tmp/vardel-trace-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string traceFile = std::string(directory) + "/trace.log";
    const std::string regularFile = std::string(directory) + "/data.csv";
    writeFile(regularFile, "data\n");
    SimDevice answering({"analog 1 612"});
    SimDevice unterminated({"analog-raw 1 61"});
    struct Case {
        std::string portPath;
        std::vector<std::string> traced;  // each in the trace, in this order
    };
    const std::vector<Case> cases = {
        {answering.path(),
         {"port Com1: is " + answering.path(), "opened ", "low latency not available: ", "sent \"ZEA 1\\r\"",
          "received \"612\\r\""}},
        {unterminated.path(), {"sent \"ZEA 1\\r\"", "time-out after 1000 ms; bytes without a carriage return: \"61\""}},
        {std::string(directory) + "/absent", {"open failed: No such file or directory", "not sent, no port"}},
        {regularFile, {"refused: not a terminal (regular file)"}},
    };
    for (const Case& c : cases) {
        RunOptions plain;
        plain.portPath = c.portPath;
        const RunResult untraced = runProgram("vardel1", {"ea", "1"}, plain);
        EXPECT_EQ(untraced.err, "");
        RunOptions toError = plain;
        toError.environment = {"VARDEL_TRACE=1"};
        RunOptions toFile = plain;
        toFile.environment = {"VARDEL_TRACE=" + traceFile};
        writeFile(traceFile, "earlier line\n");
        for (const RunResult& traced : {runProgram("vardel1", {"ea", "1"}, toError), runProgram("vardel1", {"ea", "1"}, toFile)}) {
            EXPECT_EQ(traced.out, untraced.out) << c.portPath;
            EXPECT_EQ(traced.status, untraced.status) << c.portPath;
        }
        const std::string fromFile = readFile(traceFile);
        EXPECT_EQ(fromFile.rfind("earlier line\nvardel trace ", 0), 0U) << fromFile;
        std::size_t at = 0;
        for (const std::string& piece : c.traced) {
            at = fromFile.find(piece, at);
            EXPECT_NE(at, std::string::npos) << piece << " in\n" << fromFile;
        }
    }
    unlink(traceFile.c_str());
    unlink(regularFile.c_str());
    rmdir(directory);
}

// A trace file that can't be opened is named once on the error output, with
// the system's reason; standard output and the exit status stay those of
// the run without a trace, with a device and without one.
TEST(Trace, AFileThatCannotBeOpenedIsNamedOnceAndTheRunGoesOn) {
    const vardel::test::TempDirectory folder("vardel-trace");
    SimDevice answering({"analog 1 612"});
    struct Case {
        std::string traceFile;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {folder.path + "/missing/trace.log", "No such file or directory"},
        {folder.path, "Is a directory"},
    };
    for (const std::string& port : {answering.path(), folder.path + "/no-port"}) {
        RunOptions plain;
        plain.portPath = port;
        const RunResult untraced = runProgram("vardel1", {"ea", "1"}, plain);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.traceFile + " with the port " + port);
            RunOptions traced = plain;
            traced.environment = {"VARDEL_TRACE=" + c.traceFile};
            const RunResult run = runProgram("vardel1", {"ea", "1"}, traced);
            EXPECT_EQ(run.out, untraced.out);
            EXPECT_EQ(run.status, untraced.status);
            EXPECT_EQ(run.err, "vardel trace: " + c.traceFile + ": " + c.reason + "; this run is not traced\n");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/missing"));
}
