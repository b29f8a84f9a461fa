// The Windows programs under Wine against the simulated device: the same
// bytes as the Linux programs for the same command and device, and what
// only the Windows build has (its own command-line splitting, "vardel1.exe"
// in the failure report, the separator from the Windows locale).
//
// Not here: the exclusive open of the port. Wine 8 doesn't enforce share
// mode 0 on serial ports (a second CreateFileA succeeds), so that test runs
// on Linux only.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "tests/support/command_words.hpp"
#include "tests/wine/wine_harness.hpp"

using namespace vardel::wine;
using namespace vardel::test;

namespace {


Invocation command(std::vector<std::string> arguments, std::string program = "vardel1") {
    Invocation run;
    run.program = std::move(program);
    run.arguments = std::move(arguments);
    return run;
}

Invocation commandLine(std::string tail) {
    Invocation run;
    run.commandLineTail = std::move(tail);
    return run;
}

// The same scenario on two devices: one for each platform's program.
class BothPlatforms {
public:
    explicit BothPlatforms(const std::vector<std::string>& scenario) : linux_(scenario), windows_(scenario) {}

    // Runs on Linux, then on Windows; expects the same output bytes (the
    // program's file name apart) and exit status. The Windows outcome.
    RunResult run(Invocation run) {
        run.device = &linux_;
        const RunResult onLinux = runOn(Platform::Linux, run);
        run.device = &windows_;
        const RunResult onWindows = runOn(Platform::Windows, run);
        EXPECT_EQ(withLinuxProgramName(onWindows.out), onLinux.out);
        EXPECT_EQ(onWindows.status, onLinux.status);
        return onWindows;
    }

    // What the Windows program sent, expected to be what the Linux one sent.
    std::string received() {
        const std::string onLinux = linux_.received();
        const std::string onWindows = windows_.received();
        EXPECT_EQ(onWindows, onLinux);
        return onWindows;
    }

private:
    SimDevice linux_;
    SimDevice windows_;
};

// Runs with no device on both platforms, expecting the same bytes.
RunResult runWithoutDevice(const Invocation& run) {
    const RunResult onLinux = runOn(Platform::Linux, run);
    const RunResult onWindows = runOn(Platform::Windows, run);
    EXPECT_EQ(withLinuxProgramName(onWindows.out), onLinux.out);
    EXPECT_EQ(onWindows.status, onLinux.status);
    return onWindows;
}

// The terminal's line settings, read or changed from this side.
std::optional<termios> lineOf(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    termios line{};
    const bool read = tcgetattr(fd, &line) == 0;
    close(fd);
    return read ? std::optional<termios>(line) : std::nullopt;
}

bool setFlowControl(const std::string& path, tcflag_t controlFlags, tcflag_t inputFlags) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios line{};
    bool set = tcgetattr(fd, &line) == 0;
    line.c_cflag |= controlFlags;
    line.c_iflag |= inputFlags;
    set = set && tcsetattr(fd, TCSANOW, &line) == 0;
    close(fd);
    return set;
}

std::string notAReal(const std::string& text) {
    return "'" + text + "' n'est pas une valeur en virgule flottante correcte.";
}

}  // namespace

TEST(WindowsCommandLine, EmptyQuotesAloneAreNoArgument) {
    SimDevice device({"analog * 1"});
    Invocation exact = commandLine(R"(ea "" 3)");
    exact.device = &device;
    EXPECT_EQ(runOn(Platform::Windows, exact).out, "1" + CRLF);
    // Wine writes an empty argument as "" into the command line.
    Invocation passed = command({"ea", "", "3"});
    passed.device = &device;
    EXPECT_EQ(runOn(Platform::Windows, passed).out, "1" + CRLF);
    EXPECT_EQ(device.received(), "ZEA 3\rZEA 3\r");
}

TEST(WindowsCommandLine, QuotedRunsStayInTheirToken) {
    SimDevice device({"analog * 1"});
    for (const char* tail : {R"(ea " 3 ")", R"("ea" 2)", R"(e"a" "1"1)", "  ea\t 0  "}) {
        Invocation run = commandLine(tail);
        run.device = &device;
        EXPECT_EQ(runOn(Platform::Windows, run).out, "1" + CRLF) << tail;
    }
    EXPECT_EQ(device.received(), "ZEA 3\rZEA 2\rZEA 11\rZEA 0\r");

    expectFailureReport(runOn(Platform::Windows, commandLine(R"(ea "a b"c)")), "vardel1.exe", "EConvertError",
                 notAReal("a bc"));
    expectFailureReport(runOn(Platform::Windows, commandLine(R"(ea "a""b")")), "vardel1.exe", "EConvertError",
                 notAReal("ab"));
    expectFailureReport(runOn(Platform::Windows, commandLine(R"(ea x"y)")), "vardel1.exe", "EConvertError",
                 notAReal("xy"));
    // Wine writes the quote of an argument as \" and the backslash is an
    // ordinary byte here.
    expectFailureReport(runOn(Platform::Windows, command({"ea", "1\"2"})), "vardel1.exe", "EConvertError",
                 notAReal("1\\2"));
}

TEST(WindowsCommandLine, TokenEndsAfter4096Bytes) {
    // The 4,097th byte begins argument 3: "sb 2 1".
    SimDevice device({});
    Invocation run = command({"sb", std::string(4095, '0') + "2" + "1"});
    run.device = &device;
    const RunResult outcome = runOn(Platform::Windows, run);
    EXPECT_EQ(outcome.out, "1" + CRLF);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(device.received(), "ZSBIT 2\r");
}

TEST(WindowsFailureReport, NamesTheExeAndMatchesLinux) {
    BothPlatforms both({});
    expectFailureReport(both.run(command({"ea", "abc"})), "vardel1.exe", "EConvertError", notAReal("abc"));
    expectFailureReport(both.run(command({"titre", "a", "b"}, "vardel3")), "vardel3.exe", "EConvertError",
                 notAReal("a"));
    expectFailureReport(both.run(command({"ea", "1", "\xE9\x80"})), "vardel1.exe", "EConvertError",
                 notAReal("\xE9\x80"));
    expectFailureReport(both.run(command({"ea", "1E600"})), "vardel1.exe", "EOverflow",
                 "D\xE9" "bordement en virgule flottante.");
    expectFailureReport(both.run(command({"nsa", "1E19"})), "vardel1.exe", "EInvalidOp",
                 "Op\xE9ration en virgule flottante incorrecte.");
    EXPECT_EQ(both.received(), "");

    // Cut after 1,024 characters: four fewer of the argument than on Linux.
    const RunResult cut = runOn(Platform::Windows, command({"ea", std::string(1500, 'q')}));
    EXPECT_EQ(cut.status, 1);
    ASSERT_EQ(cut.out.size(), 1024u + 2);
    EXPECT_EQ(cut.out.substr(1024 - 3), "qqq" + CRLF);
}

TEST(WindowsLocale, SeparatorFromTheWindowsLocale) {
    BothPlatforms both({"ident 0,0,0,0,0,0,0,0,150,0,0,0,0,0,0,0,0,0,0,0,", "analog * 1023"});
    Invocation french = command({"ea", "2,5"});
    french.locale = Locale::FrenchComma;
    EXPECT_EQ(both.run(french).out, "1023" + CRLF);
    french.arguments = {"ea", "2.5"};
    expectFailureReport(both.run(french), "vardel1.exe", "EConvertError", notAReal("2.5"));
    french.arguments = {"ead", "0"};
    EXPECT_EQ(both.run(french).out, "14,0411764705882352" + CRLF);

    EXPECT_EQ(both.run(command({"ead", "0"})).out, "14.0411764705882352" + CRLF);
    expectFailureReport(both.run(command({"ea", "2,5"})), "vardel1.exe", "EConvertError", notAReal("2,5"));
    EXPECT_EQ(both.received(), "ZEA 2\rZRECO\rZEA 0\rZRECO\rZEA 0\r");
}

TEST(WindowsOutput, PipeAndFileGetTheSameBytes) {
    BothPlatforms both({"analog * 7"});
    for (const Output output : {Output::Pipe, Output::File}) {
        Invocation run = command({"detail"}, "vardel3");
        run.output = output;
        EXPECT_EQ(both.run(run).out,
                  "pilote ex\xE9" "cutable Orphy Portable 2 en Com3:, par Marlevoux, le 6 dec 07" + CRLF);
        run.arguments = {"ea", "2"};
        EXPECT_EQ(both.run(run).out, "7" + CRLF);
        run.arguments = {"ea", "x"};
        expectFailureReport(both.run(run), "vardel3.exe", "EConvertError", notAReal("x"));
    }
    EXPECT_EQ(both.received(), "ZEA 2\rZEA 2\r");
}

TEST(WindowsOutput, LostOutputIsReportedOnTheErrorOutput) {
    // A reader that went away; then a report that standard output can't
    // take, which goes to the error output whole.
    for (const auto& arguments : {std::vector<std::string>{"titre"}, {"ea", std::string(300, 'w')}}) {
        Invocation run = command(arguments);
        run.output = Output::BrokenPipe;
        const RunResult onLinux = runOn(Platform::Linux, run);
        const RunResult onWindows = runOn(Platform::Windows, run);
        EXPECT_EQ(onWindows.status, 1);
        EXPECT_EQ(withLinuxProgramName(onWindows.err), onLinux.err);
    }
    Invocation title = command({"titre"});
    title.output = Output::BrokenPipe;
    const std::string lost = runOn(Platform::Windows, title).err;
    EXPECT_NE(lost.find("EInOutError dans le module vardel1.exe"), std::string::npos) << lost;
    EXPECT_NE(lost.find("Erreur E/S 109."), std::string::npos) << lost;
    // Under Wine /dev/full is a character device: the console path, which
    // finds the failure at the line rather than at the end.
    Invocation full = command({"titre"});
    full.output = Output::DevFull;
    const RunResult outcome = runOn(Platform::Windows, full);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("EInOutError dans le module vardel1.exe"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("Disque plein."), std::string::npos) << outcome.err;
}

TEST(WindowsDevice, EveryCommandWordMatchesLinux) {
    ASSERT_EQ(COMMAND_WORDS.size(), 37u);
    BothPlatforms both(SENSOR_DEVICE);
    for (const CommandWordCase& c : COMMAND_WORDS) {
        SCOPED_TRACE(c.arguments.front());
        const RunResult outcome = both.run(command(c.arguments));
        EXPECT_EQ(outcome.out, c.line + CRLF);
        EXPECT_EQ(outcome.status, 0);
    }
    EXPECT_EQ(both.received(), COMMAND_WORDS_RECEIVED);
}

TEST(WindowsDevice, Vardel3TalksOnCom3) {
    BothPlatforms both({"analog * 33"});
    EXPECT_EQ(both.run(command({"ea", "1"}, "vardel3")).out, "33" + CRLF);
    EXPECT_EQ(both.run(command({"stdtitre"}, "vardel3")).out, "Orphy portable2, Com3:" + CRLF);
    EXPECT_EQ(both.received(), "ZEA 1\r");
}

TEST(WindowsDevice, RepliesThatComeSlowlyOrLate) {
    // 300 baud: a byte every 33 ms, each one waited for.
    BothPlatforms paced({"analog * 12345", "baud 300"});
    EXPECT_EQ(paced.run(command({"ea", "1"})).out, "12345" + CRLF);
    BothPlatforms late({"analog * 5", "delay 850"});
    const RunResult outcome = late.run(command({"ea", "1"}));
    EXPECT_EQ(outcome.out, "5" + CRLF);
    EXPECT_GT(outcome.seconds, 0.85);
}

TEST(WindowsDevice, LeftoverLineFeedStartsTheNextReply) {
    BothPlatforms both({"analog * 42", "suffix \\n"});
    EXPECT_EQ(both.run(command({"ea", "1"})).out, "42" + CRLF);
    EXPECT_EQ(both.run(command({"ea", "1"})).out, "42" + CRLF);
}

TEST(WindowsNoDevice, MarkerAfterTheTimeOutWithoutSpinning) {
    const RunResult outcome = runWithoutDevice(command({"ea", "1"}));
    EXPECT_EQ(outcome.out, "-777" + CRLF);
    EXPECT_GT(outcome.seconds, 1.0);
    EXPECT_LT(outcome.seconds, 2.0);
    EXPECT_LT(outcome.cpuSeconds, 0.5);
    // No reading is the marker for the converted and binary readings too.
    EXPECT_EQ(runWithoutDevice(command({"ead", "0"})).out, "-777" + CRLF);
    EXPECT_EQ(runWithoutDevice(command({"stdeb", "1"})).out, "-777" + CRLF);

    SimDevice silent({"silent all"});
    for (const auto& [word, line] : {std::pair<std::string, std::string>{"nea", "(rien)"}, {"stdeas", "-777"}}) {
        Invocation run = command({word, "0"});
        run.device = &silent;
        const RunResult unanswered = runOn(Platform::Windows, run);
        EXPECT_EQ(unanswered.out, line + CRLF) << word;
        EXPECT_GT(unanswered.seconds, 1.0);
        EXPECT_LT(unanswered.cpuSeconds, 0.5);
    }
    EXPECT_EQ(silent.received(), "ZRECO\rZRECO\rZEA 0\r");
}

TEST(WindowsPort, FlowControlThatAnotherProgramLeftIsTurnedOff) {
    // A terminal program, or "mode COM1 octs=on", left flow control on:
    // the run reads as usual and leaves the line without it, as the Linux
    // program does.
    struct FlowCase {
        const char* name;
        tcflag_t control;
        tcflag_t input;
    };
    const FlowCase cases[] = {
        {"crtscts", CRTSCTS, 0},
        {"ixon ixoff", 0, IXON | IXOFF},
        {"crtscts ixon ixoff", CRTSCTS, IXON | IXOFF},
    };
    for (const Platform platform : {Platform::Windows, Platform::Linux}) {
        for (const FlowCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (platform == Platform::Windows ? " under Wine" : " on Linux"));
            SimDevice device({"analog * 5"});
            ASSERT_TRUE(setFlowControl(device.path(), c.control, c.input));
            const std::optional<termios> before = lineOf(device.path());
            ASSERT_TRUE(before);
            ASSERT_EQ(before->c_cflag & CRTSCTS, c.control);
            ASSERT_EQ(before->c_iflag & (IXON | IXOFF), c.input);

            Invocation run = command({"ea", "1"});
            run.device = &device;
            const RunResult outcome = runOn(platform, run);
            EXPECT_EQ(outcome.out, "5" + CRLF);
            EXPECT_EQ(outcome.status, 0);
            const std::optional<termios> after = lineOf(device.path());
            ASSERT_TRUE(after);
            EXPECT_EQ(after->c_cflag & CRTSCTS, 0u);
            EXPECT_EQ(after->c_iflag & (IXON | IXOFF), 0u);
            EXPECT_EQ(device.received(), "ZEA 1\r");
        }
    }
}

TEST(WindowsPort, SecondOpenIsRefused) {
    GTEST_SKIP() << "Wine 8 doesn't enforce share mode 0 on serial ports; the exclusive open is tested on Linux";
}
