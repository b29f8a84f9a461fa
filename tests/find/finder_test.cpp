// vardel-find's judgement: its command line, why a port couldn't be opened,
// which replies are the interface, and the lines it prints.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "find/finder.hpp"

using namespace vardel;
using namespace vardel::find;

namespace {

struct Reply {
    CollectedReply reply;
    bool hungUp = false;
};

Reply replied(const std::string& text, bool timedOut = false, const std::string& unterminated = "",
              bool hungUp = false) {
    return Reply{CollectedReply{text, timedOut, unterminated}, hungUp};
}

PortReport judged(const Reply& reply) {
    Question question;
    question.reply = reply.reply;
    question.hungUp = reply.hungUp;
    PortReport report;
    judgeReply(question, report);
    return report;
}

Presentation plain() {
    Presentation presentation;
    presentation.names = [](std::string_view bytes) { return "<" + std::string(bytes) + ">"; };
    presentation.command = [](const PortEntry& entry) { return "run " + entry.device; };
    presentation.permissionHint = " (hint)";
    return presentation;
}

}  // namespace

TEST(FindOptions, ModesPortsAndBadUsage) {
    EXPECT_EQ(parseOptions({}).mode, Options::Mode::Ask);
    EXPECT_EQ(parseOptions({"--list"}).mode, Options::Mode::List);
    EXPECT_EQ(parseOptions({"--bogus", "--help"}).mode, Options::Mode::Help);
    EXPECT_EQ(parseOptions({"-h"}).mode, Options::Mode::Help);
    EXPECT_EQ(parseOptions({"/dev/ttyS0", "--version"}).mode, Options::Mode::Version);
    const Options ports = parseOptions({"/dev/ttyUSB0", "COM7", "-"});
    EXPECT_EQ(ports.mode, Options::Mode::Ask);
    EXPECT_EQ(ports.ports, (std::vector<std::string>{"/dev/ttyUSB0", "COM7", "-"}));
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"-x", "/dev/ttyS0"}, {""}, {"--list", "COM1"}, {"COM1", "--list"}}) {
        EXPECT_EQ(parseOptions(bad).mode, Options::Mode::Bad) << bad.front();
        EXPECT_FALSE(parseOptions(bad).error.empty());
    }
}

TEST(FindOpenFailure, TheOutcomeFromThePortLibrarysTrace) {
    struct Case {
        const char* trace;
        Outcome outcome;
        const char* reason;
    };
    const Case cases[] = {
        {"vardel trace 0 ms: port /x is /x\nvardel trace 0 ms: busy: another run holds /x\n", Outcome::Busy,
         "busy: another run holds /x"},
        {"vardel trace 0 ms: open failed: Device or resource busy\n", Outcome::Busy, "open failed: Device or resource busy"},
        {"vardel trace 0 ms: open failed: Access is denied. (another program may hold the port)\n", Outcome::Busy,
         "open failed: Access is denied. (another program may hold the port)"},
        {"vardel trace 0 ms: open failed: Permission denied (the user must be allowed ...)\n", Outcome::NoPermission,
         "open failed: Permission denied (the user must be allowed ...)"},
        {"vardel trace 0 ms: refused: not a terminal (character device)\n", Outcome::NotAPort,
         "refused: not a terminal (character device)"},
        {"vardel trace 0 ms: open failed: No such file or directory\n", Outcome::Missing,
         "open failed: No such file or directory"},
        {"vardel trace 0 ms: open failed: File not found.\n", Outcome::Missing, "open failed: File not found."},
        {"vardel trace 0 ms: open failed: Input/output error\n", Outcome::NotOpened, "open failed: Input/output error"},
        {"", Outcome::NotOpened, "no reason given"},
        {"vardel trace 0 ms: port COM7 is COM7 (as named)\n", Outcome::NotOpened, "no reason given"},
    };
    for (const Case& c : cases) {
        const OpenFailure failure = classifyOpenFailure(c.trace);
        EXPECT_EQ(failure.outcome, c.outcome) << c.trace;
        EXPECT_EQ(failure.reason, c.reason) << c.trace;
    }
}

TEST(FindReply, OnlyAWholeIdentificationOfFourInputsIsTheInterface) {
    struct Case {
        Reply question;
        Outcome outcome;
        const char* detail;
    };
    const std::vector<Case> cases = {
        {replied("0,0,0,0,0,1,0,0,150,57,100,177,0,0,0,0,0,0,0,0,"), Outcome::Answered, ""},
        // Twelve fields name the four inputs; the rest may be missing.
        {replied("0,0,0,0,0,1,0,0,150,57,100,177,"), Outcome::Answered, ""},
        {replied("0,0,0,0,0,1,0,0,150,57,100,177"), Outcome::OtherAnswer, "0,0,0,0,0,1,0,0,150,57,100,177\\r"},
        {replied("5,78"), Outcome::OtherAnswer, "5,78\\r"},
        {replied("1,,2,0,0,0,0,0,0,0,0,0,0,0"), Outcome::OtherAnswer, "1,,2,0,0,0,0,0,0,0,0,0,0,0\\r"},
        {replied("0,0,0,0,0,1,0,0,150,57,100,177,x,"), Outcome::OtherAnswer, "0,0,0,0,0,1,0,0,150,57,100,177,x..."},
        {replied("0,0,0,0,0,0,0,0,0,0,0,0,99999999999,"), Outcome::OtherAnswer, "0,0,0,0,0,0,0,0,0,0,0,0,99999999..."},
        {replied(""), Outcome::OtherAnswer, "\\r"},
        {replied("OK"), Outcome::OtherAnswer, "OK\\r"},
        {replied("", true), Outcome::NoAnswer, ""},
        {replied("", true, "\x01\xFFZ"), Outcome::OtherAnswer, "\\x01\\xFFZ"},
        {replied("", true, "", true), Outcome::HungUp, ""},
        {replied("", true, "12", true), Outcome::HungUp, "12"},
    };
    for (const Case& c : cases) {
        const PortReport report = judged(c.question);
        EXPECT_EQ(report.outcome, c.outcome) << c.question.reply.text << c.question.reply.unterminated;
        EXPECT_EQ(report.detail, c.detail) << c.question.reply.text;
    }
}

TEST(FindReply, TheSensorNamesAreTheDriversOwn) {
    const PortReport report = judged(replied("0,0,0,0,0,1,0,5,150,57,71,100,"));
    ASSERT_EQ(report.outcome, Outcome::Answered);
    EXPECT_EQ(report.sensorNames[0], "pH");
    EXPECT_EQ(report.sensorNames[1], "opacit\xE9 liquide");
    EXPECT_EQ(report.sensorNames[2], "EA inconnue B");
    EXPECT_EQ(report.sensorNames[3], "EA inconnue C");
}

TEST(FindReport, LinesOfAPortAndTheSummary) {
    PortReport found;
    found.entry = PortEntry{"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI-port0", {"/dev/serial0"},
                            "ftdi_sio", "USB 0403:6001 FTDI FT232R USB UART", false};
    found.outcome = Outcome::Answered;
    found.sensorNames = {"pH", "a", "b", "c"};
    EXPECT_EQ(reportLines(found, plain()),
              "/dev/ttyUSB0  (ftdi_sio, USB 0403:6001 FTDI FT232R USB UART)\n"
              "  also /dev/serial/by-id/usb-FTDI-port0\n"
              "  also /dev/serial0\n"
              "  the interface answers\n"
              "    input 0: <pH>\n    input 1: <a>\n    input 2: <b>\n    input 3: <c>\n"
              "  use: run /dev/ttyUSB0\n");
    PortReport console;
    console.entry = PortEntry{"/dev/ttyS1", "/dev/ttyS1", "", {}, "serial", "UART 16550A", true};
    console.outcome = Outcome::Console;
    EXPECT_EQ(reportLines(console, plain()),
              "/dev/ttyS1  (serial, UART 16550A, system console)\n  a system console: not asked\n");
    PortReport denied;
    denied.entry.device = "/dev/ttyS4";
    denied.outcome = Outcome::NoPermission;
    denied.detail = "the port belongs to the group dialout";
    EXPECT_EQ(reportLines(denied, plain()), "/dev/ttyS4\n  no permission: the port belongs to the group dialout (hint)\n");

    PortReport gone;
    gone.entry.device = "COM7";
    gone.outcome = Outcome::HungUp;
    EXPECT_EQ(reportLines(gone, plain()), "COM7\n  hung up while asked\n");
    gone.detail = "0,";
    EXPECT_EQ(reportLines(gone, plain()), "COM7\n  hung up while asked, after \"0,\"\n");

    EXPECT_EQ(summaryLine({found, console, denied}, false), "the interface answers on /dev/serial/by-id/usb-FTDI-port0\n");
    PortReport busy;
    busy.outcome = Outcome::Busy;
    PortReport silent;
    silent.outcome = Outcome::NoAnswer;
    EXPECT_EQ(summaryLine({console, denied, busy, silent, silent}, false),
              "the interface answers on no port (1 without permission, 1 busy, 2 silent, 1 not asked as a console)\n");
    EXPECT_EQ(summaryLine({}, false), "no serial port found\n");
    EXPECT_EQ(summaryLine({console, denied}, true), "2 ports\n");
    EXPECT_EQ(exitStatusOf({console, found}), FOUND);
    EXPECT_EQ(exitStatusOf({console, silent}), NOT_FOUND);
    EXPECT_EQ(exitStatusOf({}), NOT_FOUND);
}
