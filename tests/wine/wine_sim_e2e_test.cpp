// vardel-sim.exe under Wine on COM2, the driver on COM1, the two ports the
// ends of a socat pseudo-terminal pair: the bytes of the Linux end-to-end
// tests, the time-out, live control through the named pipe, the hang-up,
// the Linux driver on the pair's other end, and the batch file of the
// examples.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <regex>
#include <sstream>

#include "tests/support/command_words.hpp"
#include "tests/wine/wine_harness.hpp"

using namespace vardel::wine;
using namespace vardel::test;

namespace {

namespace fs = std::filesystem;

const std::string MARKER = "-777" + CRLF;

RunResult runAgainst(const WindowsSimDevice& device, Platform platform, std::vector<std::string> arguments) {
    Invocation run;
    run.arguments = std::move(arguments);
    run.portPath = device.path();
    return runOn(platform, run);
}

// The whole table of command words through the simulator, by one driver.
void expectEveryCommandWord(Platform platform) {
    WindowsSimDevice device(SENSOR_DEVICE);
    for (const CommandWordCase& c : COMMAND_WORDS) {
        SCOPED_TRACE(c.arguments.front());
        const RunResult outcome = runAgainst(device, platform, c.arguments);
        EXPECT_EQ(withLinuxProgramName(outcome.out), c.line + CRLF);
        EXPECT_EQ(outcome.status, 0);
    }
    EXPECT_EQ(device.received(), COMMAND_WORDS_RECEIVED);
    EXPECT_EQ(device.exitStatus(), 0) << device.errorsSoFar();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// examples\log_ead.cmd COUNT INPUT log.csv in the device's directory, with
// vardel1.exe on COM1.
RunResult runLogEad(const WindowsSimDevice& device, const std::string& count, const std::string& input,
                    Locale locale) {
    return runUnderWine({"cmd", "/c", windowsPathOf(VARDEL_EXAMPLES_DIR "/log_ead.cmd"), count, input,
                         windowsPathOf(device.file("log.csv"))},
                        {"VARDEL1=" + windowsPathOf(windowsProgramFile("vardel1"))}, locale);
}

}  // namespace

TEST(WindowsSimulator, EveryCommandWordGivesTheBytesOfTheLinuxTests) {
    ASSERT_EQ(COMMAND_WORDS.size(), 37u);
    expectEveryCommandWord(Platform::Windows);
}

TEST(WindowsSimulator, TheLinuxDriverOnTheOtherEndGetsTheSameAnswers) {
    expectEveryCommandWord(Platform::Linux);
}

TEST(WindowsSimulator, SilentScenarioGivesTheMarkerAfterTheTimeOut) {
    WindowsSimDevice device({}, WindowsSimOptions{{"--scenario", "silent"}});
    const RunResult outcome = runAgainst(device, Platform::Windows, {"ea", "1"});
    EXPECT_EQ(outcome.out, MARKER);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_GT(outcome.seconds, 1.0);
    EXPECT_LT(outcome.cpuSeconds, 0.5);
    EXPECT_EQ(device.received(), "ZEA 1\r");
}

TEST(WindowsSimulator, ControlLineThroughTheNamedPipeChangesTheNextReading) {
    WindowsSimDevice device({"analog 1 100"}, WindowsSimOptions{{}, true});
    EXPECT_EQ(runAgainst(device, Platform::Windows, {"ea", "1"}).out, "100" + CRLF);
    ASSERT_TRUE(device.control("analog 1 500")) << device.errorsSoFar();
    EXPECT_EQ(runAgainst(device, Platform::Windows, {"ea", "1"}).out, "500" + CRLF);
    // A line the simulator can't read is named and changes nothing.
    EXPECT_FALSE(device.control("analog 1 sine 1 2"));
    const std::string refusal =
        "vardel-sim: control: 'analog 1 sine 1 2': sine takes LOW HIGH PERIOD_MS [PHASE_DEG], the period a whole "
        "number above 0";
    EXPECT_NE(device.errorsSoFar().find(refusal + "\r\n"), std::string::npos) << device.errorsSoFar();
    EXPECT_EQ(runAgainst(device, Platform::Windows, {"ea", "1"}).out, "500" + CRLF);
    EXPECT_EQ(runAgainst(device, Platform::Windows, {"ea", "2"}).out, MARKER);
    // The acknowledgement is also in the log, between the requests.
    EXPECT_EQ(device.received(), "ZEA 1\rvardel-sim: control: 'analog 1 500': ok\nZEA 1\r"
                                 + refusal + "\nZEA 1\rZEA 2\r");
    EXPECT_EQ(device.exitStatus(), 0) << device.errorsSoFar();
}

// Eight lines from one batch file, one redirection each, as fast as cmd
// goes: each writer finds an instance of the pipe listening, none is told
// "Pipe busy", and every line applies.
TEST(WindowsSimulator, EightControlLinesBackToBackFromABatchFileAllApply) {
    WindowsSimDevice device({"analog * 100", "binary * 0"}, WindowsSimOptions{{}, true});
    const std::vector<std::string> lines = {"analog 0 500", "analog 1 501", "analog 2 502", "analog 3 503",
                                            "binary 0 1",   "binary 1 1",   "binary 2 1",   "binary 3 1"};
    const RunResult sent = runUnderWine({"cmd", "/c", windowsPathOf(device.controlBatch("eight.bat", lines))});
    EXPECT_EQ(sent.status, 0);
    EXPECT_EQ(sent.err.find("busy"), std::string::npos) << sent.err;
    EXPECT_EQ(device.waitForAcknowledgements(lines).size(), lines.size()) << device.errorsSoFar();
    for (int input = 0; input < 4; ++input) {
        SCOPED_TRACE(input);
        EXPECT_EQ(runAgainst(device, Platform::Windows, {"ea", std::to_string(input)}).out,
                  std::to_string(500 + input) + CRLF);
        EXPECT_EQ(runAgainst(device, Platform::Windows, {"eb", std::to_string(input)}).out, "1" + CRLF);
    }
    device.received();
    EXPECT_EQ(device.exitStatus(), 0) << device.errorsSoFar();
}

// Four cmd processes started at once, each writing three lines for its own
// input through one redirection: every line applies, and each writer's
// lines apply in the order it wrote them, whole.
TEST(WindowsSimulator, FourWritersAtOnceEachInItsOwnOrder) {
    WindowsSimDevice device({"analog * 100"}, WindowsSimOptions{{}, true});
    std::vector<std::vector<std::string>> writers;
    std::vector<std::future<RunResult>> runs;
    for (int input = 0; input < 4; ++input) {
        const std::string n = std::to_string(input);
        writers.push_back({"analog " + n + " 30" + n, "analog " + n + " 40" + n, "analog " + n + " 50" + n});
        const std::string batch = device.controlFileBatch("writer" + n + ".bat", writers.back());
        runs.push_back(std::async(std::launch::async, [batch] { return runUnderWine({"cmd", "/c", windowsPathOf(batch)}); }));
    }
    std::vector<std::string> all;
    for (auto& run : runs) {
        const RunResult sent = run.get();
        EXPECT_EQ(sent.status, 0);
        EXPECT_EQ(sent.err.find("busy"), std::string::npos) << sent.err;
    }
    for (const auto& lines : writers) all.insert(all.end(), lines.begin(), lines.end());
    const std::vector<std::string> order = device.waitForAcknowledgements(all);
    EXPECT_EQ(order.size(), all.size()) << device.errorsSoFar();
    for (const auto& lines : writers) {
        std::vector<std::string> own;
        for (const auto& line : order) {
            if (std::find(lines.begin(), lines.end(), line) != lines.end()) own.push_back(line);
        }
        EXPECT_EQ(own, lines);
    }
    for (int input = 0; input < 4; ++input) {
        EXPECT_EQ(runAgainst(device, Platform::Windows, {"ea", std::to_string(input)}).out,
                  "50" + std::to_string(input) + CRLF);
    }
    device.received();
    EXPECT_EQ(device.exitStatus(), 0) << device.errorsSoFar();
}

// A trace file in a folder that doesn't exist, as C:\temp\trace.txt on a
// fresh PC: one line on the error output names it with the reason, and the
// reading is the one without a trace.
TEST(WindowsTrace, AFileInAMissingFolderIsNamedOnceAndTheReadingStays) {
    WindowsSimDevice device({"analog 1 612"});
    const std::string traceFile = windowsPathOf(device.file("missing")) + "\\trace.txt";
    const RunResult run =
        runUnderWine({windowsProgramFile("vardel1"), "ea", "1"}, {"VARDEL_TRACE=" + traceFile}, Locale::Point);
    EXPECT_EQ(run.out, "612" + CRLF);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "vardel trace: " + traceFile + ": No such file or directory; this run is not traced\r\n");
    EXPECT_FALSE(fs::exists(device.file("missing")));
    EXPECT_EQ(device.received(), "ZEA 1\r");
}

TEST(WindowsSimulator, HangUpInTheMiddleOfAReplyThenBackOnTheSamePort) {
    // As HangUp.InTheMiddleOfAReplyThenBackOnTheSamePortLater on Linux:
    // "61", the hang-up, no answer while the port is closed, whole replies
    // once it is open again. The pair keeps what the run "away" sent while
    // COM2 was closed; the simulator opens the port again during that run's
    // wait and must drop it, as a new pseudo-terminal starts empty, or that
    // run would get "612".
    WindowsSimDevice device({"analog 1 612", "hangup 2 100", "reconnect 1500"});
    const RunResult cut = runAgainst(device, Platform::Windows, {"ea", "1"});
    EXPECT_EQ(cut.out, MARKER);
    EXPECT_EQ(cut.status, 0);
    EXPECT_GT(cut.seconds, 1.0);
    const RunResult away = runAgainst(device, Platform::Windows, {"ea", "1"});
    EXPECT_EQ(away.out, MARKER);
    EXPECT_GT(away.seconds, 1.0);
    const RunResult back = runAgainst(device, Platform::Windows, {"ea", "1"});
    EXPECT_EQ(back.out, "612" + CRLF);
    EXPECT_EQ(device.received(), "ZEA 1\rZEA 1\r");
}

TEST(WindowsSimulator, HangUpForGood) {
    WindowsSimDevice device({"analog 1 612", "binary 2 1", "hangup 0"});
    EXPECT_EQ(runAgainst(device, Platform::Windows, {"ea", "1"}).out, MARKER);
    EXPECT_EQ(runAgainst(device, Platform::Windows, {"nea", "0"}).out, "(rien)" + CRLF);
    EXPECT_EQ(runAgainst(device, Platform::Windows, {"sb", "1", "1"}).out, "1" + CRLF);
    EXPECT_EQ(device.received(), "ZEA 1\r");
}

// What the simulator answers or refuses before it serves: its message and status.
TEST(WindowsSimulator, AnswersOrRefusesBeforeItServes) {
    const std::string busyPipe = "\\\\.\\pipe\\vardel-sim-busy-test";
    WindowsSimDevice holder({}, WindowsSimOptions{{"--control", busyPipe}});
    const TempDirectory folder;
    struct Refusal {
        std::vector<std::string> arguments;
        std::string message;
        int status;
    };
    const std::vector<Refusal> refusals = {
        {{"--port", "COM9"},
         "vardel-sim: COM9: File not found. No port COM9 here: is the null-modem pair installed (com0com: "
         "\"setupc list\"), with COM9 as the simulator's end?",
         1},
        {{"--port", "\\\\.\\COM12"}, "vardel-sim: \\\\.\\COM12: File not found. No port \\\\.\\COM12 here", 1},
        {{"--port", "COM2", "--control", "pipe\\x"}, "vardel-sim: pipe\\x: is no pipe name", 1},
        {{"--port", "COM2", "--control", "\\\\.\\pipe\\a\\b"}, "is no pipe name", 1},
        {{"--port", "COM2", "--control", busyPipe}, busyPipe + ": a pipe of that name exists already", 1},
        {{"--port", "COM2", "--log", windowsPathOf(folder.path)}, "is a directory, not a regular file", 1},
        {{"--port", "COM2", "--set", "bogus"}, "vardel-sim: --set 'bogus': unknown keyword \"bogus\"", 2},
        {{"--scenario", "demo"}, "vardel-sim: --port is required", 2},
        {{"--link", "/tmp/com1"}, "vardel-sim: unknown option '--link'", 2},
    };
    const RunResult version = runUnderWine({windowsProgramFile("vardel-sim"), "--version"}, {}, Locale::Point);
    EXPECT_EQ(version.out, "vardel-sim " VARDEL_VERSION "\r\n");
    EXPECT_EQ(version.status, 0);
    const RunResult help = runUnderWine({windowsProgramFile("vardel-sim"), "--help"}, {}, Locale::Point);
    EXPECT_NE(help.out.find("--port COMn"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("  hangup BYTES [MS]"), std::string::npos) << help.out;
    // cmd knows only double quotes: the help quotes the line so.
    EXPECT_NE(help.out.find("--set \"LINE\""), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("'LINE'"), std::string::npos) << help.out;
    EXPECT_EQ(help.status, 0);
    for (const Refusal& refusal : refusals) {
        std::vector<std::string> command{windowsProgramFile("vardel-sim")};
        command.insert(command.end(), refusal.arguments.begin(), refusal.arguments.end());
        SCOPED_TRACE(refusal.arguments.back());
        const RunResult run = runUnderWine(command, {}, Locale::Point);
        EXPECT_NE(run.err.find(refusal.message), std::string::npos) << run.err;
        EXPECT_EQ(run.status, refusal.status);
        EXPECT_EQ(run.out, "");
    }
}

TEST(WindowsExample, LogEadWritesOneTimedLinePerReading) {
    // French settings: the driver writes "-50,19...", the file "-50.19...".
    WindowsSimDevice device(SENSOR_DEVICE);
    const RunResult run = runLogEad(device, "3", "1", Locale::FrenchComma);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::string text = readFile(device.file("log.csv"));
    const std::vector<std::string> lines = linesOf(text);
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_EQ(lines[0], "time,value\r");
    // The time as %TIME% gives it, with a "." before the hundredths; Wine's
    // cmd leaves the seconds out.
    const std::regex reading(R"([0-2][0-9]:[0-5][0-9](:[0-5][0-9]\.[0-9][0-9])?,-50\.1960784313725483\r)");
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], reading)) << lines[i];
    // A second between readings.
    EXPECT_GT(run.seconds, 2.0);
    EXPECT_EQ(device.received(), "ZRECO\rZEA 1\rZRECO\rZEA 1\rZRECO\rZEA 1\r");
    EXPECT_FALSE(fs::exists(device.file("log.csv.reading")));
}

TEST(WindowsExample, LogEadStopsAtAFailureReport) {
    // The driver's exit status 1 ends the log; its report is shown.
    WindowsSimDevice device(SENSOR_DEVICE);
    const RunResult run = runLogEad(device, "2", "x", Locale::Point);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Exception EConvertError dans le module vardel1.exe"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(device.file("log.csv")), "time,value\r\n");
    EXPECT_EQ(device.received(), "");

    const RunResult usage = runLogEad(device, "two", "1", Locale::Point);
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("usage: log_ead.cmd COUNT INPUT FILE.csv"), std::string::npos) << usage.err;
}

// examples\read_ead.cmd where the zip puts it, next to bin\vardel1.exe and
// without VARDEL1: it finds the driver there, appends the reading to the
// CSV file and shows it; a failure report is shown and appends nothing.
TEST(WindowsExample, ReadEadFromTheZipsFoldersAppendsOneReading) {
    WindowsSimDevice device(SENSOR_DEVICE);
    fs::create_directories(device.file("zip/bin"));
    fs::create_directories(device.file("zip/examples"));
    fs::copy_file(windowsProgramFile("vardel1"), device.file("zip/bin/vardel1.exe"));
    fs::copy_file(VARDEL_EXAMPLES_DIR "/read_ead.cmd", device.file("zip/examples/read_ead.cmd"));
    const std::string script = windowsPathOf(device.file("zip/examples/read_ead.cmd"));
    const std::string csv = windowsPathOf(device.file("readings.csv"));
    const std::string reading = "-50.1960784313725483";
    for (int run = 1; run <= 2; ++run) {
        const RunResult read = runUnderWine({"cmd", "/c", script, "1", csv});
        EXPECT_EQ(read.status, 0) << read.out << read.err;
        EXPECT_EQ(read.out, reading + CRLF);
    }
    EXPECT_EQ(readFile(device.file("readings.csv")), reading + CRLF + reading + CRLF);

    const RunResult failed = runUnderWine({"cmd", "/c", script, "x", csv});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("Exception EConvertError dans le module vardel1.exe"), std::string::npos) << failed.err;
    EXPECT_EQ(readFile(device.file("readings.csv")), reading + CRLF + reading + CRLF);
    EXPECT_EQ(runUnderWine({"cmd", "/c", script, "1"}).status, 2);
    EXPECT_EQ(device.received(), "ZRECO\rZEA 1\rZRECO\rZEA 1\r");
}
