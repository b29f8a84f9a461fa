// A run that is ended by a signal leaves the port as a run that ends by
// itself does: the terminal's exclusive mode off, its lock free, so that the
// next run against the same device reads as usual. The exclusive mode is read
// back from the terminal, since root opens an exclusive terminal anyway.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tests/e2e/harness.hpp"
#include "tests/support/exclusive_mode.hpp"

using namespace vardel::e2e;
using Clock = std::chrono::steady_clock;

namespace {

// The device answers "ea 1" at once and never answers ZRECO, so that
// "ead 1" waits a second for it: long enough to be killed while it has the port.
const std::vector<std::string> DEVICE = {"analog 1 612", "silent ident"};

// The device's terminal, opened beside the simulator to read its mode back.
class Observer {
public:
    explicit Observer(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Observer() {
        if (fd_ >= 0) close(fd_);
    }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    // 1 or 0; none where the mode can't be read back (qemu-user).
    std::optional<int> exclusive() const { return vardel::test::exclusiveMode(fd_); }

    // Waits until a run has set the exclusive mode, that is, has the port; where
    // the mode can't be read, a while that is long enough for that.
    void waitForARunOnThePort() const {
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        if (!exclusive()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return;
        }
        while (exclusive() != 1 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(exclusive(), 1) << "the run did not take the port";
    }

    void expectExclusive(int expected, const std::string& when) const {
        if (const auto mode = exclusive()) {
            EXPECT_EQ(*mode, expected) << when;
        }
    }

    int fd() const { return fd_; }

private:
    int fd_;
};

vardel::test::ChildEnd endOf(vardel::test::ChildProcess& run) {
    return run.wait(Clock::now() + std::chrono::seconds(10));
}

RunOptions on(const SimDevice& device) {
    RunOptions options;
    options.portPath = device.path();
    return options;
}

}  // namespace

// The run clears the exclusive mode and lets its lock go itself, before it
// ends by the signal: the simulator is held still meanwhile, so only the run
// can have done it.
TEST(KilledRun, ACaughtStopSignalPutsThePortBackAndStillEndsTheRun) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signalNumber));
        SimDevice device(DEVICE);
        const Observer observer(device.path());
        ASSERT_GE(observer.fd(), 0);
        auto run = startProgram("vardel1", {"ead", "1"}, on(device));
        observer.waitForARunOnThePort();
        device.pause();
        run->signal(signalNumber);
        const vardel::test::ChildEnd end = endOf(*run);
        EXPECT_EQ(end.status, 128 + signalNumber);
        EXPECT_LT(end.cpuSeconds, 0.5);
        observer.expectExclusive(0, "right after the run ended");
        device.resume();
        const RunResult next = runProgram("vardel1", {"ea", "1"}, on(device));
        EXPECT_EQ(next.out, "612" + CRLF);
        EXPECT_EQ(next.status, 0);
    }
}

// SIGKILL leaves the mode set: the simulator finds that no run holds the
// lock any more and clears it within 100 ms.
TEST(KilledRun, ARunKilledOutrightDoesntLockTheSimulator) {
    SimDevice device(DEVICE);
    const Observer observer(device.path());
    ASSERT_GE(observer.fd(), 0);
    auto run = startProgram("vardel1", {"ead", "1"}, on(device));
    observer.waitForARunOnThePort();
    run->signal(SIGKILL);
    EXPECT_EQ(endOf(*run).status, 128 + SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    observer.expectExclusive(0, "200 ms after the run was killed");
    const RunResult next = runProgram("vardel1", {"ea", "1"}, on(device));
    EXPECT_EQ(next.out, "612" + CRLF);
    EXPECT_EQ(next.status, 0);
}

// The simulator's check leaves a live run alone: its mode stays, and a second
// run started meanwhile finds the port busy.
TEST(KilledRun, TwoLiveRunsStayExclusive) {
    SimDevice device({"analog 1 612", "delay 1200"});
    const Observer observer(device.path());
    ASSERT_GE(observer.fd(), 0);
    auto first = startProgram("vardel1", {"ea", "1"}, on(device));
    observer.waitForARunOnThePort();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    observer.expectExclusive(1, "while the first run waits for its reply");
    const RunResult second = runProgram("vardel1", {"ea", "1"}, on(device));
    EXPECT_EQ(second.out, "-777" + CRLF);
    EXPECT_EQ(endOf(*first).status, 0);
    observer.expectExclusive(0, "after both runs");
}

// A stop signal that the calling program made the run ignore stays ignored:
// the run goes on to its end and prints its line.
TEST(KilledRun, AnInheritedIgnoredSignalStaysIgnored) {
    SimDevice device(DEVICE);
    const RunResult unsignalled = runProgram("vardel1", {"ead", "1"}, on(device));
    ASSERT_EQ(unsignalled.status, 0);
    const Observer observer(device.path());
    ASSERT_GE(observer.fd(), 0);
    const vardel::test::TempDirectory directory("vardel-ignored");
    RunOptions options = on(device);
    // The shell's trap makes SIGTERM ignored for the program it becomes.
    options.wrapper = {"/bin/sh", "-c", "trap '' TERM; exec \"$0\" \"$@\" > \"$OUT\""};
    options.environment = {"OUT=" + directory.path + "/out"};
    auto run = startProgram("vardel1", {"ead", "1"}, options);
    observer.waitForARunOnThePort();
    run->signal(SIGTERM);
    EXPECT_EQ(endOf(*run).status, 0);
    EXPECT_EQ(readFile(directory.path + "/out"), unsignalled.out);
}
