// vardel-find against simulated devices on pseudo-terminals: the interface
// found with its four sensor names, a silent port, ports asked together,
// what isn't a port refused before anything is asked, a port busy with
// a run of the driver, and ports that hang up while asked.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/harness.hpp"

using namespace vardel::e2e;

namespace {

const std::string DEMO_IDENT = "ident 0,0,0,0,0,1,0,0,150,57,100,177,0,0,0,0,0,0,0,0,";

RunResult find(const std::vector<std::string>& arguments, bool utf8 = true) {
    RunOptions options;
    options.frenchLocale = utf8;  // a UTF-8 locale
    return runProgram("vardel-find", arguments, options);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(Find, TheSimulatorIsFoundWithTheDemoSensorNamesAndTheCommandToUse) {
    SimDevice device({DEMO_IDENT});
    const RunResult run = find({device.path()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, device.path() + "\n"
                       "  the interface answers\n"
                       "    input 0: pH\n"
                       "    input 1: opacit\xC3\xA9 liquide\n"
                       "    input 2: 0..15V\n"
                       "    input 3: thermom\xC3\xA8tre 0..100\xC2\xB0" "C\n"
                       "  use: VARDEL_COM1=" + device.path() + " vardel1 ead 0\n"
                       "the interface answers on " + device.path() + "\n");
    EXPECT_EQ(run.err, "");
    // The drivers' request, nothing else.
    EXPECT_EQ(device.received(), "ZRECO\r");
}

TEST(Find, NamesInTheLocalesCharacterSet) {
    SimDevice device({DEMO_IDENT});
    const RunResult run = find({device.path()}, false);
    EXPECT_EQ(run.status, 0);
    // The C locale has ASCII only.
    EXPECT_TRUE(has(run.out, "    input 1: opacit? liquide\n")) << run.out;
}

TEST(Find, ASilentPortIsNoAnswerAndExitStatusOne) {
    SimDevice device({"silent all"});
    const RunResult run = find({device.path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(has(run.out, device.path() + "\n  no answer\n")) << run.out;
    EXPECT_TRUE(has(run.out, "the interface answers on no port (1 silent)\n")) << run.out;
    EXPECT_GT(run.seconds, 1.0);
    EXPECT_LT(run.cpuSeconds, 0.5);
    EXPECT_EQ(device.received(), "ZRECO\r");
}

TEST(Find, PortsAreAskedTogetherAndAReplyThatIsNoIdentificationIsShown) {
    SimDevice silent1({"silent all"});
    SimDevice silent2({"silent all"});
    SimDevice silent3({"silent all"});
    SimDevice other({"ident 1,,2"});
    SimDevice answering({DEMO_IDENT});
    SimDevice shortReply({"ident 5,78"});
    const RunResult run = find({silent1.path(), other.path(), silent2.path(), answering.path(), silent3.path(),
                                shortReply.path()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, other.path() + "\n  something answered, but not the interface: \"1,,2\\r\"\n")) << run.out;
    EXPECT_TRUE(has(run.out, shortReply.path() + "\n  something answered, but not the interface: \"5,78\\r\"\n"));
    EXPECT_TRUE(has(run.out, answering.path() + "\n  the interface answers\n"));
    EXPECT_TRUE(has(run.out, silent3.path() + "\n  no answer\n"));
    EXPECT_TRUE(has(run.out, "the interface answers on " + answering.path() + "\n"));
    // Three silent ports cost one time-out, not three.
    EXPECT_GT(run.seconds, 1.0);
    EXPECT_LT(run.seconds, 1.8);
    for (SimDevice* device : {&silent1, &silent2, &silent3, &other, &answering, &shortReply}) {
        EXPECT_EQ(device->received(), "ZRECO\r");
    }
}

TEST(Find, WhatIsNoPortIsBadUsageAndNothingIsAsked) {
    SimDevice device({DEMO_IDENT});
    const vardel::test::TempDirectory folder;
    const std::string file = folder.path + "/data.csv";
    writeFile(file, "untouched");
    const std::string fifo = folder.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string port;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"/dev/null", "vardel-find: /dev/null: refused: not a terminal (character device 1:3)\n"},
        {file, "vardel-find: " + file + ": not a serial port (regular file)\n"},
        {fifo, "vardel-find: " + fifo + ": not a serial port (FIFO)\n"},
        {folder.path, "vardel-find: " + folder.path + ": not a serial port (directory)\n"},
        {folder.path + "/absent", "vardel-find: " + folder.path + "/absent: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        const RunResult run = find({device.path(), c.port});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.message);
    }
    EXPECT_EQ(readFile(file), "untouched");
    EXPECT_EQ(device.received(), "");
}

TEST(Find, APortHeldByARunningDriverIsBusyAndNotAsked) {
    SimDevice held({"silent all"});
    SimDevice free({DEMO_IDENT});
    RunResult driverRun;
    std::thread driver([&] {
        RunOptions options;
        options.portPath = held.path();
        driverRun = runProgram("vardel1", {"ea", "1"}, options);
    });
    // The driver holds the port for its whole time-out, 1 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const RunResult run = find({held.path(), free.path()});
    driver.join();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, held.path() + "\n  busy, not asked: ")) << run.out;
    EXPECT_TRUE(has(run.out, free.path() + "\n  the interface answers\n")) << run.out;
    EXPECT_EQ(driverRun.out, "-777\r\n");
    EXPECT_EQ(held.received(), "ZEA 1\r");
    EXPECT_EQ(free.received(), "ZRECO\r");
}

TEST(Find, APortThatHangsUpWhileAskedIsReportedAndTheOthersStillAnswer) {
    SimDevice gone({DEMO_IDENT, "hangup 0"});
    SimDevice cut({DEMO_IDENT, "hangup 2 100"});
    SimDevice answering({DEMO_IDENT});
    const RunResult run = find({gone.path(), cut.path(), answering.path()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, gone.path() + "\n  hung up while asked\n")) << run.out;
    EXPECT_TRUE(has(run.out, cut.path() + "\n  hung up while asked, after \"0,\"\n")) << run.out;
    EXPECT_TRUE(has(run.out, answering.path() + "\n  the interface answers\n")) << run.out;
    // The hang-ups end their questions at once: the answer comes well before a time-out.
    EXPECT_LT(run.seconds, 0.9);
    EXPECT_EQ(gone.received(), "ZRECO\r");
    EXPECT_EQ(answering.received(), "ZRECO\r");
}

TEST(Find, UsageHelpAndVersion) {
    const RunResult help = find({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(has(help.out, "Usage: vardel-find [--list | PORT...]\n")) << help.out;
    const RunResult version = find({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(has(version.out, "vardel-find ")) << version.out;
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> bad = {
        {{"--bogus"}, "vardel-find: unknown option '--bogus'\n"},
        {{"--list", "/dev/ttyS0"}, "vardel-find: --list asks no port: give either --list or ports\n"},
        {{""}, "vardel-find: an empty port name\n"},
    };
    for (const Case& c : bad) {
        const RunResult run = find(c.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.message + "Try 'vardel-find --help'.\n");
    }
}
