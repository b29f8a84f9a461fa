// Faults of the device, the line and the output, with the real programs as
// processes: each run ends with the marker, the empty name or the failure
// report, within its reply waits and without spinning.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.hpp"
#include "tests/support/exclusive_mode.hpp"

using namespace vardel::e2e;
using vardel::test::expectFailureReportText;

namespace {

const std::string MARKER = "-777" + CRLF;
const std::vector<std::string> PH_ON_INPUT_0 = {"ident 0,0,0,0,0,0,0,0,150,0,0,0,0,0,0,0,0,0,0,0,"};

// One reply wait is a second; a run that waits has this much per wait, its
// start and end included.
constexpr double WAIT_SECONDS = 1.0;
constexpr double WAIT_LIMIT_SECONDS = 1.25;
// A run that gets its reply at once.
constexpr double QUICK_SECONDS = 0.5;
// CPU time of a whole run, sanitizers included; a polling wait takes about a
// second of it.
constexpr double CPU_LIMIT_SECONDS = 0.25;

void sleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// Keeps the measures of a run with the test's results (--gtest_output=xml).
void record(const std::string& name, const RunResult& run) {
    char text[96];
    std::snprintf(text, sizeof text, "status %d, %.3f s, cpu %.3f s, max rss %ld kB", run.status, run.seconds,
                  run.cpuSeconds, run.maxRssKilobytes);
    testing::Test::RecordProperty(name, text);
}

// A run that waited `waits` whole reply times and slept through them.
void expectWaited(const RunResult& run, int waits) {
    EXPECT_GE(run.seconds, waits * WAIT_SECONDS);
    EXPECT_LT(run.seconds, waits * WAIT_LIMIT_SECONDS);
    EXPECT_LT(run.cpuSeconds, CPU_LIMIT_SECONDS);
}

void expectQuick(const RunResult& run) {
    EXPECT_LT(run.seconds, QUICK_SECONDS);
    EXPECT_LT(run.cpuSeconds, CPU_LIMIT_SECONDS);
}

// "Exception KIND dans le module PROGRAM à XXXXXXXX.\nMESSAGE\r\n"
std::string integerMessage(const std::string& text) { return "'" + text + "' n'est pas une valeur enti\xE8re correcte."; }

std::string repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

}  // namespace

// --- No device on the port ---

// Each word's answer when nothing answers, after one wait per reply it reads.
TEST(NoDevice, EachWordGivesItsAnswerAfterItsWaits) {
    struct Row {
        const char* program;
        std::vector<std::string> arguments;
        bool french;
        std::string out;
        int waits;
    };
    const Row rows[] = {
        {"vardel1", {"ea", "1"}, false, MARKER, 1},
        {"vardel1", {"ead", "0"}, false, MARKER, 2},
        {"vardel1", {"ead", "0"}, true, MARKER, 2},
        {"vardel1", {"nea", "3"}, false, "(rien)" + CRLF, 1},
        {"vardel1", {"eb", "0"}, false, MARKER, 1},
        {"vardel3", {"sb", "1", "1"}, false, "1" + CRLF, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.program) + " " + row.arguments[0] + (row.french ? " in French" : ""));
        RunOptions options;
        options.frenchLocale = row.french;
        const RunResult run = runProgram(row.program, row.arguments, options);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.status, 0);
        if (row.waits == 0) {
            expectQuick(run);
        } else {
            expectWaited(run, row.waits);
        }
    }
}

// --- No reading: the marker, never a value made from it ---

namespace {

// What the device does with the request for a reading, and what each word
// and its twins then print: only a reply that came is ever a reading.
struct ReadingCase {
    const char* what;
    std::optional<std::vector<std::string>> device;  // no value: no device on the port
    std::string line;                                 // without its CR LF
    int waits;
};

void expectReadingCases(const std::vector<std::string>& words, const std::string& input,
                        const std::vector<ReadingCase>& cases, const std::string& received) {
    for (const ReadingCase& c : cases) {
        for (const std::string& word : words) {
            SCOPED_TRACE(word + " " + input + ", " + c.what);
            std::optional<SimDevice> device;
            if (c.device) device.emplace(*c.device);
            const RunResult run = device ? runWith(*device, "vardel1", {word, input})
                                         : runProgram("vardel1", {word, input});
            EXPECT_EQ(run.out, c.line + CRLF);
            EXPECT_EQ(run.status, 0);
            if (c.waits == 0) {
                expectQuick(run);
            } else {
                expectWaited(run, c.waits);
            }
            if (device) {
                EXPECT_EQ(device->received(), received);
            }
        }
    }
}

std::vector<std::string> phOnInput0With(const std::string& line) { return {PH_ON_INPUT_0[0], line}; }

}  // namespace

TEST(NoReading, AnalogWordsPrintTheMarkerUnlessACountCame) {
    const std::vector<ReadingCase> cases = {
        {"no device", std::nullopt, "-777", 2},
        {"silent reading", phOnInput0With("silent analog"), "-777", 1},
        {"reply without a digit", phOnInput0With("analog 0 abc"), "-777", 0},
        {"empty reply", phOnInput0With("analog-raw 0 \\r"), "-777", 0},
        {"bytes, then silence", phOnInput0With("analog-raw 0 61"), "-777", 1},
        {"count 0", phOnInput0With("analog 0 0"), "0", 0},
    };
    expectReadingCases({"ead", "stdead", "stdeas"}, "0", cases, "ZRECO\rZEA 0\r");
    // A count that came is converted as ever, in double and single precision.
    SimDevice device(phOnInput0With("analog 0 612"));
    EXPECT_EQ(runWith(device, "vardel1", {"stdead", "0"}).out, "8.40000000000000036" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdeas", "0"}).out, "8.39999961853027344" + CRLF);
    // An unidentified sensor with a count still gets the default scale.
    SimDevice unknown({"analog 2 400"});
    EXPECT_EQ(runWith(unknown, "vardel1", {"ead", "2"}).out, "1367.1875" + CRLF);
}

TEST(NoReading, BinaryWordsPrintTheMarkerUnlessAReplyCame) {
    const std::vector<ReadingCase> cases = {
        {"no device", std::nullopt, "-777", 1},
        {"silent input", std::vector<std::string>{"silent binary"}, "-777", 1},
        {"bytes, then silence", std::vector<std::string>{"binary-raw 1 1"}, "-777", 1},
        {"reply without a digit", std::vector<std::string>{"binary 1 abc"}, "0", 0},
        {"empty reply", std::vector<std::string>{"binary-raw 1 \\r"}, "0", 0},
        {"input on", std::vector<std::string>{"binary 1 1"}, "1", 0},
    };
    expectReadingCases({"eb", "stdeb"}, "1", cases, "ZEBIT 1\r");
}

// --- The device hangs up ---

TEST(HangUp, InTheMiddleOfAReplyThenBackOnTheSamePortLater) {
    SimDevice device({"analog 1 612", "hangup 2 100", "reconnect 1500"});
    // "61" comes, then the hang-up: no reply.
    const RunResult cut = runWith(device, "vardel1", {"ea", "1"});
    record("cut", cut);
    EXPECT_EQ(cut.out, MARKER);
    EXPECT_EQ(cut.status, 0);
    expectWaited(cut, 1);
    // Gone for now: the port isn't there.
    EXPECT_FALSE(exists(device.path()));
    const RunResult away = runWith(device, "vardel1", {"ea", "1"});
    record("away", away);
    EXPECT_EQ(away.out, MARKER);
    expectWaited(away, 1);
    // Back: whole replies again.
    ASSERT_TRUE(exists(device.path()));
    const RunResult back = runWith(device, "vardel1", {"ea", "1"});
    record("back", back);
    EXPECT_EQ(back.out, "612" + CRLF);
    expectQuick(back);
    EXPECT_EQ(device.received(), "ZEA 1\rZEA 1\r");
}

TEST(HangUp, InTheMiddleOfTheIdentificationLeavesTheSlotsAsTheyWere) {
    std::vector<std::string> scenario = PH_ON_INPUT_0;
    scenario.insert(scenario.end(), {"analog 0 612", "hangup 17 100"});
    SimDevice device(scenario);
    // 17 bytes of the identification, then the hang-up: the request for the
    // reading goes nowhere, both waits run out.
    const RunResult run = runWith(device, "vardel1", {"ead", "0"});
    record("ead", run);
    EXPECT_EQ(run.out, MARKER);
    EXPECT_EQ(run.status, 0);
    expectWaited(run, 2);
    EXPECT_EQ(device.received(), "ZRECO\r");
}

// Before the first byte, and the port is not back: later runs find none
// (as the run "away" above; each word's answer then: NoDevice above).
TEST(HangUp, PortClosedForGood) {
    SimDevice device({"analog 1 612", "hangup 0"});
    const RunResult first = runWith(device, "vardel1", {"ea", "1"});
    record("first", first);
    EXPECT_EQ(first.out, MARKER);
    EXPECT_EQ(first.status, 0);
    expectWaited(first, 1);
    EXPECT_FALSE(exists(device.path()));
    EXPECT_EQ(device.received(), "ZEA 1\r");
}

// --- Bytes without a carriage return for the whole time-out ---

// At the line's own speed (9600 baud, about 960 bytes a second) the run
// sleeps between bytes.
TEST(Flood, AtLineSpeedEndsWithTheMarkerInBoundedMemory) {
    const RunResult baseline = runProgram("vardel1", {"ea", "1"});
    SimDevice device({"analog-raw 1 12", "baud 9600", "flood 1500 7"});
    const RunResult run = runWith(device, "vardel1", {"ea", "1"});
    record("baseline", baseline);
    record("flood", run);
    EXPECT_EQ(run.out, MARKER);
    EXPECT_EQ(run.status, 0);
    expectWaited(run, 1);
    EXPECT_LT(run.maxRssKilobytes, baseline.maxRssKilobytes + 1024);
}

// As fast as the terminal takes bytes: every pass takes one, so the run is
// busy with them, but it ends at the time-out and holds only what came.
TEST(Flood, AsFastAsTheTerminalTakesThemEndsWithTheMarkerInBoundedMemory) {
    const RunResult baseline = runProgram("vardel1", {"ea", "1"});
    SimDevice device({"analog-raw 1 12", "flood 1500 7"});
    const RunResult run = runWith(device, "vardel1", {"ea", "1"});
    record("baseline", baseline);
    record("flood", run);
    EXPECT_EQ(run.out, MARKER);
    EXPECT_EQ(run.status, 0);
    EXPECT_GE(run.seconds, WAIT_SECONDS);
    EXPECT_LT(run.seconds, WAIT_LIMIT_SECONDS);
    EXPECT_LT(run.maxRssKilobytes, baseline.maxRssKilobytes + 16 * 1024);
}

// --- NUL and 0xFF bytes inside replies ---

TEST(OddBytes, NulAndFFInsideReplies) {
    SimDevice device({"analog 1 6\\01\\xFF2", "binary 2 3\\x009", "binary 3 2\\xFF4", "binary 4 \\xFF7",
                      "ident 0,\\0\\xFF,0,", "analog 5 \\x036\\x04\\x11\\x131\\x1A\\x7F\\x16\\x152\\x1C\\x08"});
    // Digits kept, the rest dropped.
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "612" + CRLF);
    // Bytes that a terminal would take for line control come through as data.
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "5"}).out, "612" + CRLF);
    // The lenient reading stops at the byte.
    EXPECT_EQ(runWith(device, "vardel1", {"eb", "2"}).out, "3" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"eb", "3"}).out, "2" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"eb", "4"}).out, "0" + CRLF);
    // The report holds the field's bytes as they came.
    const RunResult name = runWith(device, "vardel1", {"nea", "0"});
    EXPECT_EQ(name.status, 1);
    expectFailureReportText(name.out, "vardel1", "EConvertError", integerMessage(std::string("\0\xFF", 2)));
    EXPECT_EQ(device.received(), "ZEA 1\rZEA 5\rZEBIT 2\rZEBIT 3\rZEBIT 4\rZRECO\r");
}

// --- Replies longer than 256 bytes ---

TEST(LongReplies, WithTheCarriageReturnAreReadWhole) {
    const std::string digits300(300, '1');
    const std::string digits1100(1100, '2');
    std::string ident;
    for (int slot = 0; slot < 20; ++slot) ident += std::string(15, ' ') + (slot == 8 ? "150," : "0,");
    ASSERT_GT(ident.size(), 256u);
    std::string identLine = "ident \\s" + ident.substr(1);
    SimDevice device({identLine, "analog 1 " + std::string(297, 'x') + "612", "analog 2 " + digits300,
                      "analog 3 " + digits1100});
    // Leading blanks of the fields are accepted.
    EXPECT_EQ(runWith(device, "vardel1", {"nea", "0"}).out, "pH" + CRLF);
    const RunResult analog = runWith(device, "vardel1", {"ea", "1"});
    EXPECT_EQ(analog.out, "612" + CRLF);
    expectQuick(analog);
    // All 300 digits are the number: too large.
    const RunResult tooLarge = runWith(device, "vardel1", {"ea", "2"});
    EXPECT_EQ(tooLarge.status, 1);
    expectFailureReportText(tooLarge.out, "vardel1", "EConvertError", integerMessage(digits300));
    // The report is cut after 1,024 characters.
    const RunResult cut = runWith(device, "vardel1", {"ea", "3"});
    EXPECT_EQ(cut.status, 1);
    ASSERT_EQ(cut.out.size(), 1024u + 2);
    EXPECT_NE(cut.out.find("'" + std::string(900, '2')), std::string::npos);
    EXPECT_EQ(cut.out.substr(1024), CRLF);

    // At 9600 baud, 301 bytes take about 0.31 s.
    SimDevice paced({"baud 9600", "analog 1 " + std::string(297, 'x') + "612"});
    const RunResult slow = runWith(paced, "vardel1", {"ea", "1"});
    record("paced", slow);
    EXPECT_EQ(slow.out, "612" + CRLF);
    EXPECT_GE(slow.seconds, 0.3);
    EXPECT_LT(slow.seconds, WAIT_SECONDS);
    EXPECT_LT(slow.cpuSeconds, CPU_LIMIT_SECONDS);
}

TEST(LongReplies, WithoutTheCarriageReturnAreNoReply) {
    // Short or past 256 bytes, a reply without its carriage return is none.
    for (const std::string& reply : {std::string("612"), std::string(300, '5')}) {
        SimDevice device({"analog-raw 1 " + reply});
        const RunResult analog = runWith(device, "vardel1", {"ea", "1"});
        record("analog-" + std::to_string(reply.size()), analog);
        EXPECT_EQ(analog.out, MARKER);
        EXPECT_EQ(analog.status, 0);
        expectWaited(analog, 1);
    }
    SimDevice device({"ident-raw " + repeated("150,", 80)});
    const RunResult name = runWith(device, "vardel1", {"nea", "0"});
    record("identification", name);
    EXPECT_EQ(name.out, "(rien)" + CRLF);
    EXPECT_EQ(name.status, 0);
    expectWaited(name, 1);
}

// --- Replies around the time-out ---

TEST(ReplyTiming, JustBeforeTheTimeOutIsRead) {
    SimDevice device({"delay 900", "analog 1 612"});
    const RunResult run = runWith(device, "vardel1", {"ea", "1"});
    record("900ms", run);
    EXPECT_EQ(run.out, "612" + CRLF);
    EXPECT_GE(run.seconds, 0.9);
    EXPECT_LT(run.seconds, WAIT_LIMIT_SECONDS);
    EXPECT_LT(run.cpuSeconds, CPU_LIMIT_SECONDS);
}

TEST(ReplyTiming, JustAfterTheTimeOutIsDroppedByTheNextRun) {
    SimDevice device({"delay 1100", "analog 1 111", "analog 2 222"});
    const RunResult late = runWith(device, "vardel1", {"ea", "1"});
    record("late", late);
    EXPECT_EQ(late.out, MARKER);
    expectWaited(late, 1);
    // The late reply waits on the port; the next run drops it at its start
    // and waits for its own reply, which comes late in turn.
    sleepMs(300);
    const RunResult next = runWith(device, "vardel1", {"ea", "2"});
    record("next", next);
    EXPECT_EQ(next.out, MARKER);
    expectWaited(next, 1);
    EXPECT_EQ(device.received(), "ZEA 1\rZEA 2\r");
}

TEST(ReplyTiming, TailOfAReplyAcrossTheTimeOutIsDroppedByTheNextRun) {
    // At 50 baud a byte takes 200 ms: "6" and "1" come within the second,
    // "2", "5" and the carriage return after it.
    SimDevice device({"delay 700", "baud 50", "analog 1 6125", "analog 2 9"});
    const RunResult cut = runWith(device, "vardel1", {"ea", "1"});
    record("cut", cut);
    EXPECT_EQ(cut.out, MARKER);
    expectWaited(cut, 1);
    sleepMs(1000);
    // "25" is gone; the run's own reply "9" comes close to its time-out, on
    // one side of it or the other.
    const RunResult next = runWith(device, "vardel1", {"ea", "2"});
    EXPECT_TRUE(next.out == "9" + CRLF || next.out == MARKER) << next.out;
}

// --- A line feed left over from the previous reply ---

TEST(LeftoverLineFeed, WithinOneRunTheReadingStillWorks) {
    // The line feed after the identification starts the reply "\n612": its
    // digits give 612.
    std::vector<std::string> scenario = PH_ON_INPUT_0;
    scenario.insert(scenario.end(), {"analog 0 612", "suffix \\n"});
    SimDevice device(scenario);
    const RunResult run = runWith(device, "vardel1", {"ead", "0"});
    EXPECT_EQ(run.out, "8.40000000000000036" + CRLF);
    expectQuick(run);

    SimDevice plain({PH_ON_INPUT_0[0], "analog 0 612"});
    EXPECT_EQ(runWith(plain, "vardel1", {"ead", "0"}).out, run.out);
}

TEST(LeftoverLineFeed, AcrossRunsItIsDropped) {
    std::vector<std::string> scenario = PH_ON_INPUT_0;
    scenario.insert(scenario.end(), {"analog 0 612", "binary 1 1", "suffix \\n"});
    SimDevice device(scenario);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "0"}).out, "612" + CRLF);
    // The line feed left by each reply never starts the next run's reply.
    EXPECT_EQ(runWith(device, "vardel1", {"eb", "1"}).out, "1" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"nea", "0"}).out, "pH" + CRLF);
    EXPECT_EQ(runWith(device, "vardel3", {"ead", "0"}).out, "8.40000000000000036" + CRLF);
    EXPECT_EQ(device.received(), "ZEA 0\rZEBIT 1\rZRECO\rZRECO\rZEA 0\r");
}

// --- Runs side by side and one after the other ---

TEST(Concurrency, TwoRunsStartedTogetherOnlyOneTalksToTheDevice) {
    for (const char* other : {"vardel1", "vardel3"}) {
        SCOPED_TRACE(other);
        SimDevice device({"delay 500", "analog 1 612"});
        RunResult runs[2];
        std::latch start(2);
        auto run = [&](int i, const char* program) {
            start.arrive_and_wait();
            runs[i] = runWith(device, program, {"ea", "1"});
        };
        std::thread first(run, 0, "vardel1");
        std::thread second(run, 1, other);
        first.join();
        second.join();
        const int winner = runs[0].out == "612" + CRLF ? 0 : 1;
        const RunResult& got = runs[winner];
        const RunResult& lost = runs[1 - winner];
        record(std::string("got-") + other, got);
        record(std::string("lost-") + other, lost);
        EXPECT_EQ(got.out, "612" + CRLF);
        EXPECT_EQ(got.status, 0);
        EXPECT_LT(got.seconds, WAIT_SECONDS);
        EXPECT_EQ(lost.out, MARKER);
        EXPECT_EQ(lost.status, 0);
        expectWaited(lost, 1);
        EXPECT_EQ(device.received(), "ZEA 1\r");
    }
}

namespace {

// The port as the next run finds it.
struct PortState {
    bool lockable = false;
    std::optional<int> exclusive;  // nothing where it cannot be read back
    std::optional<termios> line;
};

PortState portState(const std::string& path) {
    PortState state;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return state;
    state.lockable = flock(fd, LOCK_EX | LOCK_NB) == 0;
    state.exclusive = vardel::test::exclusiveMode(fd);
    termios line{};
    if (tcgetattr(fd, &line) == 0) state.line = line;
    close(fd);
    return state;
}

bool sameLine(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc)) &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

}  // namespace

TEST(Concurrency, TwentyRunsInARowEachFindsThePortFreeAndAsTheLastLeftIt) {
    std::vector<std::string> scenario;
    for (int i = 0; i < 20; ++i) scenario.push_back("analog " + std::to_string(i) + " " + std::to_string(100 + i));
    SimDevice device(scenario);
    std::string expected;
    std::optional<termios> previous;
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        const RunResult run = runWith(device, i % 2 == 0 ? "vardel1" : "vardel3", {"ea", std::to_string(i)});
        EXPECT_EQ(run.out, std::to_string(100 + i) + CRLF);
        EXPECT_EQ(run.status, 0);
        expectQuick(run);
        expected += "ZEA " + std::to_string(i) + "\r";
        const PortState state = portState(device.path());
        EXPECT_TRUE(state.lockable);
        if (state.exclusive) {
            EXPECT_EQ(*state.exclusive, 0);
        }
        ASSERT_TRUE(state.line.has_value());
        // 9600 baud 8N1, and HUPCL off: closing leaves the modem lines up.
        EXPECT_EQ(cfgetospeed(&*state.line), static_cast<speed_t>(B9600));
        EXPECT_EQ(state.line->c_cflag & (CSIZE | PARENB | CSTOPB | HUPCL | CLOCAL), static_cast<tcflag_t>(CS8 | CLOCAL));
        if (previous) {
            EXPECT_TRUE(sameLine(*previous, *state.line));
        }
        previous = state.line;
    }
    EXPECT_EQ(device.received(), expected);
}

// --- Output that can't be written ---

// A reading (short) and a failure report about a long identification field
// (over the 128-byte output buffer), on each kind of lost output: never
// status 0, the report on the error output, nothing but the commands on the
// port. A word that prints nothing still ends with status 0.
TEST(LostOutput, ShortAndLongOutputOnEveryKindOfLostOutput) {
    const std::string field(200, 'z');
    struct Case {
        StdoutMode mode;
        const char* name;
        std::string message;
    };
    for (const Case& lost : {Case{StdoutMode::Closed, "closed", "Erreur E/S 103."},
                             Case{StdoutMode::DevFull, "/dev/full", "Disque plein."},
                             Case{StdoutMode::BrokenPipe, "broken pipe", "Erreur E/S 109."},
                             Case{StdoutMode::HungUpTerminal, "hung-up terminal", "Erreur E/S 29."}}) {
        SCOPED_TRACE(lost.name);
        SimDevice device({"analog 1 612", "ident " + field + ",0,"});
        RunOptions options;
        options.stdoutMode = lost.mode;
        options.portPath = device.path();
        const RunResult reading = runProgram("vardel1", {"ea", "1"}, options);
        EXPECT_EQ(reading.status, 1);
        EXPECT_EQ(reading.out, "");
        expectFailureReportText(reading.err, "vardel1", "EInOutError", lost.message);
        const RunResult report = runProgram("vardel1", {"nea", "0"}, options);
        EXPECT_EQ(report.status, 1);
        EXPECT_EQ(report.out, "");
        expectFailureReportText(report.err, "vardel1", "EConvertError", integerMessage(field));
        const RunResult quiet = runProgram("vardel1", {"unknown"}, options);
        EXPECT_EQ(quiet.status, 0);
        EXPECT_EQ(quiet.err, "");
        EXPECT_EQ(device.received(), "ZEA 1\rZRECO\r");
    }
}

// A standard output that another program sharing it made non-blocking, and
// that is full for a while: the run sleeps until it takes the line, then
// ends as usual.
TEST(LostOutput, AFullNonBlockingOutputIsWaitedFor) {
    const std::string expected = runProgram("vardel1", {"titre"}).out;
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    const std::string block(4096, 'f');
    std::size_t filled = 0;
    for (ssize_t written = 0; (written = write(ends[1], block.data(), block.size())) > 0;) {
        filled += static_cast<std::size_t>(written);
    }
    ASSERT_EQ(errno, EAGAIN);
    auto run = startProgram("vardel1", {"titre"}, RunOptions{}, ends[1]);
    close(ends[1]);
    pollfd exited{run->exitEvent(), POLLIN, 0};
    EXPECT_EQ(poll(&exited, 1, 1500), 0) << "the run ended while its output was full";
    std::string out;
    char buffer[4096];
    for (ssize_t count = 0; (count = read(ends[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(count));
    }
    close(ends[0]);
    const vardel::test::ChildEnd end = run->wait(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    EXPECT_EQ(end.status, 0);
    EXPECT_LT(end.cpuSeconds, 0.25) << "the run spun while it waited";
    EXPECT_EQ(out.size(), filled + expected.size());
    EXPECT_EQ(out.substr(std::min(filled, out.size())), expected);
}
