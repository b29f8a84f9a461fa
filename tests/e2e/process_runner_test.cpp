// The tests' process runner on the shell: what goes in, what comes out, the
// time limit, and when collecting ends.

#include <fcntl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.hpp"

using namespace vardel::test;

namespace {

ProcessLaunch shell(const std::string& script) {
    ProcessLaunch launch;
    launch.argv = {"/bin/sh", "-c", script};
    launch.environment = std::vector<std::string>{"PATH=/usr/bin:/bin", "GREETING=bonjour"};
    return launch;
}

}  // namespace

TEST(ProcessRunner, StreamsEnvironmentAndStatus) {
    struct Row {
        std::string script;
        std::string input;
        std::string out;
        std::string err;
        int status;
    };
    const Row rows[] = {
        {"cat", std::string("a\0\xFF\r\n", 5), std::string("a\0\xFF\r\n", 5), "", 0},
        {"cat", "", "", "", 0},  // /dev/null
        {"echo \"$GREETING\"; echo oops >&2; exit 3", "", "bonjour\n", "oops\n", 3},
        {"echo \"${HOME-unset}\"", "", "unset\n", "", 0},  // only the environment given
        {"kill -TERM $$", "", "", "", 128 + 15},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script);
        ProcessLaunch launch = shell(row.script);
        launch.input = row.input;
        const ProcessRun run = runProcess(launch);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(run.status, row.status);
        EXPECT_FALSE(run.timedOut);
    }
}

// The child has its standard streams and what this process was given to
// pass on; the runner's own pipes and files close at exec.
TEST(ProcessRunner, OnlyTheStandardStreamsPassOn) {
    std::string inherited;
    for (int fd = 3; fd < 10; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) inherited += std::to_string(fd) + "\n";
    }
    const ProcessRun run = runProcess(shell("for fd in 3 4 5 6 7 8 9; do [ -e /proc/$$/fd/$fd ] && echo $fd; done; true"));
    EXPECT_EQ(run.out, inherited);
}

TEST(ProcessRunner, OutputToAFileOrClosed) {
    TempDirectory directory;
    ProcessLaunch toFile = shell("echo line");
    toFile.output = OutputTo::File;
    toFile.outputFile = directory.path + "/out";
    EXPECT_EQ(runProcess(toFile).out, "line\n");
    ProcessLaunch closed = shell("[ -e /proc/$$/fd/1 ] || echo closed >&2");
    closed.output = OutputTo::Closed;
    EXPECT_EQ(runProcess(closed).err, "closed\n");
}

TEST(ProcessRunner, ChildStillRunningAtTheLimitIsKilled) {
    ProcessLaunch launch = shell("echo started; exec sleep 60");
    launch.timeLimit = std::chrono::milliseconds(300);
    const ProcessRun run = runProcess(launch);
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.status, 128 + 9);
    EXPECT_EQ(run.out, "started\n");
}

// A process left behind holds the output open: collecting until the exit
// doesn't wait for it, collecting until the end of the output does.
TEST(ProcessRunner, CollectingUntilTheExitLeavesWhatHoldsTheOutputOpen) {
    ProcessLaunch launch = shell("sleep 2 & echo done");
    launch.collect = CollectUntil::Exit;
    const ProcessRun atExit = runProcess(launch);
    EXPECT_EQ(atExit.out, "done\n");
    EXPECT_EQ(atExit.status, 0);
    EXPECT_LT(atExit.seconds, 2.0);

    launch.collect = CollectUntil::EndOfOutput;
    const ProcessRun atEnd = runProcess(launch);
    EXPECT_EQ(atEnd.out, "done\n");
    EXPECT_GE(atEnd.seconds, 2.0);
}
