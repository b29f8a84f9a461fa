// The simulator as a lab bench, seen through the programs: a sine that
// follows the time since the simulator started, lines sent through its
// control FIFO while it runs, sensors given by name and readings by value,
// and the care it takes with the paths it is given.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <thread>

#include "tests/e2e/harness.hpp"

using namespace vardel::e2e;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double sineAt(double timeMs) { return 500 + 500 * std::sin(2 * std::numbers::pi * timeMs / 2000); }

// The lowest and highest value of the sine over [fromMs, toMs].
std::pair<double, double> sineRange(double fromMs, double toMs) {
    double low = sineAt(fromMs);
    double high = low;
    for (double t = fromMs; t <= toMs; t += 0.25) {
        low = std::min(low, sineAt(t));
        high = std::max(high, sineAt(t));
    }
    low = std::min(low, sineAt(toMs));
    high = std::max(high, sineAt(toMs));
    return {low, high};
}

// Writes a control line the way `echo LINE > PATH` does.
void sendControl(const std::string& path, const std::string& line) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    const std::string bytes = line + "\n";
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

bool isFifo(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

}  // namespace

// Each reading must be a value the sine takes while its run lasts, on the
// simulator's clock: from the run's start less the latest moment the
// simulator can have started, to its end less the earliest. The bounds widen
// by themselves when the machine is slow, and a clock of the wrong unit or
// start misses them.
TEST(LabBench, SineFollowsTheTimeSinceTheSimulatorStarted) {
    const auto beforeStart = Clock::now();
    SimDevice device({"analog 0 sine 0 1000 2000"});
    const auto afterReady = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    double lowest = 1023;
    double highest = 0;
    double worstResidual = 0;
    double residualSum = 0;
    int samples = 0;
    while (millisecondsBetween(afterReady, Clock::now()) < 2600) {
        const auto runStart = Clock::now();
        const RunResult run = runWith(device, "vardel1", {"ea", "0"});
        const auto runEnd = Clock::now();
        ASSERT_EQ(run.status, 0);
        ASSERT_EQ(run.out.size() >= 3 ? run.out.substr(run.out.size() - 2) : "", CRLF) << run.out;
        const double value = std::stod(run.out);
        const auto [low, high] =
            sineRange(millisecondsBetween(afterReady, runStart), millisecondsBetween(beforeStart, runEnd));
        EXPECT_GE(value, std::floor(low) - 1) << "at " << millisecondsBetween(afterReady, runStart) << " ms";
        EXPECT_LE(value, std::ceil(high) + 1) << "at " << millisecondsBetween(afterReady, runStart) << " ms";
        const double middle = (millisecondsBetween(afterReady, runStart) + millisecondsBetween(beforeStart, runEnd)) / 2;
        const double residual = std::fabs(value - sineAt(middle));
        worstResidual = std::max(worstResidual, residual);
        residualSum += residual;
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
        ++samples;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_GE(samples, 5);
    // Over more than a period the readings go all the way up and down.
    EXPECT_LT(lowest, 100);
    EXPECT_GT(highest, 900);
    std::printf("sine sampled %d times: mean distance %.1f counts, worst %.1f, from the sine at the run's middle\n",
                samples, residualSum / samples, worstResidual);
}

// A control line takes effect before the next request is answered: the
// runs wait for the line's acknowledgement on the simulator's error output,
// never for an order among the log's lines.
TEST(LabBench, ControlLinesTakeEffectBeforeTheNextRequest) {
    SimDevice device({"analog 1 100"}, {{"--control", "{dir}/control"}, true});
    const std::string control = device.file("control");
    ASSERT_TRUE(isFifo(control));
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "100" + CRLF);
    for (const char* value : {"700", "0", "1023", "42"}) {
        const std::string line = std::string("analog 1 ") + value;
        sendControl(control, line);
        ASSERT_TRUE(device.waitForError("vardel-sim: control: '" + line + "': ok\n")) << device.errorsSoFar();
        EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, value + CRLF);
    }
    // Written before the run starts, the line is read before the request is
    // answered, acknowledged or not yet.
    sendControl(control, "analog 1 sine 300 300 1000");
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "300" + CRLF);
    ASSERT_TRUE(device.waitForError("control: 'analog 1 sine 300 300 1000': ok\n"));

    sendControl(control, "sensor 1 no such sensor");
    ASSERT_TRUE(device.waitForError("control: 'sensor 1 no such sensor': no sensor is named \"no such sensor\""))
        << device.errorsSoFar();
    sendControl(control, "analog 1 sine 1 2");
    ASSERT_TRUE(device.waitForError("control: 'analog 1 sine 1 2': sine takes LOW HIGH PERIOD_MS"));
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "300" + CRLF);

    // A line in two writes is one line.
    const int fd = open(control.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, "analog 1 ", 9), 9);
    EXPECT_EQ(write(fd, "333\n", 4), 4);
    close(fd);
    ASSERT_TRUE(device.waitForError("control: 'analog 1 333': ok\n"));
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "333" + CRLF);

    const std::string log = device.received();
    EXPECT_NE(log.find("vardel-sim: control: 'analog 1 700': ok\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ZEA 1\r"), std::string::npos);
    EXPECT_EQ(device.exitStatus(), 0);
    EXPECT_FALSE(exists(control)) << "the FIFO stays after the simulator's end";
}

TEST(LabBench, SensorsByNameAndCountsByReading) {
    SimDevice device({"ident 0,0,0,0,0,0,0,0,0,0,0,0,", "sensor 0 pH", "analog 0 value 7.0",
                      "sensor 3 thermom\xC3\xA8tre 0..100\xC2\xB0" "C", "analog 3 value 37",
                      "sensor 1 opacit\xC3\xA9 liquide", "analog 1 value 25"});
    EXPECT_EQ(runWith(device, "vardel1", {"nead", "0"}).out, "pH" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ead", "0"}).out, "7" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"nead", "3"}).out, "thermom\xE8tre 0..100\xB0" "C" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "3"}).out, "377" + CRLF);
    EXPECT_NEAR(std::stod(runWith(device, "vardel1", {"ead", "3"}).out), 37, 100.0 / 255 / 4 / 2);
    EXPECT_EQ(runWith(device, "vardel3", {"nead", "1"}).out, "opacit\xE9 liquide" + CRLF);
    EXPECT_EQ(runWith(device, "vardel3", {"ead", "1"}).out, "25" + CRLF);
}

// The control FIFO is made only where nothing is; the log is only ever a
// regular file or a new one. Refused paths are left as they were, and the
// simulator ends at once with status 1.
TEST(LabBench, ControlAndLogPathsAreTakenWithCare) {
    SimDevice scratch({});  // only for its directory
    const std::string dir = scratch.file("paths");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    const std::string regular = dir + "/data.csv";
    writeFile(regular, "precious data line 1\nline 2\n");
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir + "/link";
    ASSERT_EQ(symlink(regular.c_str(), link.c_str()), 0);
    const std::string dangling = dir + "/dangling";
    ASSERT_EQ(symlink((dir + "/nowhere").c_str(), dangling.c_str()), 0);

    struct Refusal {
        std::string option;
        std::string path;
        std::string message;
    };
    const std::vector<Refusal> refusals = {
        {"--control", regular, "is a regular file; the control FIFO is made only where nothing exists"},
        {"--control", fifo, "is a FIFO"},
        {"--control", link, "is a symbolic link"},
        {"--control", dangling, "is a symbolic link"},
        {"--control", "/dev/null", "is a character device"},
        {"--control", dir + "/no/such/dir", "No such file or directory"},
        {"--log", fifo, "is a FIFO, not a regular file"},
        {"--log", link, "is a symbolic link"},
        {"--log", dangling, "is a symbolic link"},
        {"--log", "/dev/null", "is a character device"},
        {"--log", dir, "is a directory"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.option + " " + refusal.path);
        const std::string port = dir + "/port";
        const RunResult run = runProgram("vardel-sim", {"--link", port, refusal.option, refusal.path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("vardel-sim: " + refusal.path + ": " + refusal.message), std::string::npos) << run.err;
        EXPECT_LT(run.seconds, 5);
        EXPECT_FALSE(exists(port));
    }
    EXPECT_EQ(readFile(regular), "precious data line 1\nline 2\n");
    EXPECT_TRUE(isFifo(fifo));
    EXPECT_FALSE(exists(dir + "/nowhere"));

    // A new log and an existing one are appended to.
    SimDevice device({"analog 0 5"}, {{"--log", "{dir}/second.log"}, false});
    writeFile(device.file("second.log"), "before\n");
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "0"}).out, "5" + CRLF);
    // The harness's own --log comes first on the command line; the later one is used.
    EXPECT_EQ(device.received(), "");
    EXPECT_EQ(readFile(device.file("second.log")), "before\nZEA 0\r");
}

// A device unplugged and plugged back in through control lines: the run
// at the hang-up gets no reading, and once the port is back, replies again.
TEST(LabBench, ControlLinesUnplugAndPlugTheDeviceBackIn) {
    SimDevice device({"analog 2 612"}, {{"--control", "{dir}/control"}, true});
    const std::string control = device.file("control");
    for (const char* line : {"reconnect 300", "hangup 0"}) {
        sendControl(control, line);
        ASSERT_TRUE(device.waitForError("control: '" + std::string(line) + "': ok\n")) << device.errorsSoFar();
    }
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "2"}).out, "-777" + CRLF);
    // The port comes back on a new terminal behind the same link.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!exists(device.path()) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(exists(device.path()));
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "2"}).out, "612" + CRLF);
    const std::string log = device.received();
    std::size_t requests = 0;
    for (auto at = log.find("ZEA 2\r"); at != std::string::npos; at = log.find("ZEA 2\r", at + 1)) ++requests;
    EXPECT_EQ(requests, 2u) << log;
}
