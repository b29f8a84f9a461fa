// The Windows programs' port: VARDEL_COM1 choosing it, what is no serial
// port left untouched, and vardel-find.exe finding the interface.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/wine_harness.hpp"

using namespace vardel::wine;
using namespace vardel::test;

namespace {

const std::string MARKER = "-777" + CRLF;

// vardel1.exe with COM1 leading nowhere and VARDEL_COM1 as given.
RunResult runWithVariable(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    Invocation run;
    run.arguments = arguments;
    run.environment = environment;
    return runOn(Platform::Windows, run);
}

}  // namespace

TEST(WindowsPortVariable, VardelCom1ChoosesTheSimulatorOnCom2InEachForm) {
    SimDevice device({"analog 0 345"});
    pointWinePortAt('2', device.path());
    for (const std::string value : {"COM2", "COM2:", "com2", "\\\\.\\COM2"}) {
        SCOPED_TRACE(value);
        const RunResult run = runWithVariable({"ea", "0"}, {"VARDEL_COM1=" + value});
        EXPECT_EQ(run.out, "345" + CRLF);
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(device.received(), "ZEA 0\rZEA 0\rZEA 0\rZEA 0\r");
}

TEST(WindowsPortVariable, TheTraceNamesThePortAndWhereItsNameCameFrom) {
    SimDevice device({"analog 0 345"});
    pointWinePortAt('2', device.path());
    const RunResult chosen = runWithVariable({"ea", "0"}, {"VARDEL_COM1=COM2", "VARDEL_TRACE=1"});
    EXPECT_EQ(chosen.out, "345" + CRLF);
    EXPECT_NE(chosen.err.find("port Com1: is COM2 (from VARDEL_COM1=COM2)"), std::string::npos) << chosen.err;
    EXPECT_NE(chosen.err.find("opened COM2"), std::string::npos) << chosen.err;
    // Empty is unset: the program's own port, which leads nowhere here.
    const RunResult own = runWithVariable({"ea", "0"}, {"VARDEL_COM1=", "VARDEL_TRACE=1"});
    EXPECT_EQ(own.out, MARKER);
    EXPECT_NE(own.err.find("port Com1: is Com1: (VARDEL_COM1 unset or empty)"), std::string::npos) << own.err;
    EXPECT_EQ(device.received(), "ZEA 0\r");
}

TEST(WindowsPortVariable, AVariableNamingAFileLeavesTheFileUntouched) {
    const TempDirectory folder;
    const std::string file = folder.path + "/foo";
    writeFile(file, "untouched");
    for (const std::string& value : {windowsPathOf(file), windowsPathOf(folder.path)}) {
        SCOPED_TRACE(value);
        const RunResult run = runWithVariable({"ea", "1"}, {"VARDEL_COM1=" + value, "VARDEL_TRACE=1"});
        EXPECT_EQ(run.out, MARKER);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err.find("opened"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("not sent, no port"), std::string::npos) << run.err;
    }
    EXPECT_EQ(readFile(file), "untouched");
    // NUL and the console are character devices, but no communications port.
    for (const std::string value : {"NUL", "CON"}) {
        SCOPED_TRACE(value);
        const RunResult run = runWithVariable({"ea", "1"}, {"VARDEL_COM1=" + value, "VARDEL_TRACE=1"});
        EXPECT_EQ(run.out, MARKER);
        EXPECT_EQ(run.err.find("opened"), std::string::npos) << run.err;
    }
}

namespace {

const std::string DEMO_IDENT = "ident 0,0,0,0,0,1,0,0,150,57,100,177,0,0,0,0,0,0,0,0,";
const std::string SETX_COM2 =
    "  use: setx VARDEL_COM1 COM2, then in a new window: vardel1 ead 0" + CRLF +
    "  or: Device Manager, Ports (COM & LPT), COM2, Properties, Port Settings," + CRLF +
    "      Advanced..., COM Port Number: COM1 (needs an administrator)" + CRLF;

RunResult findOnWindows(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
    std::vector<std::string> command{windowsProgramFile("vardel-find")};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runUnderWine(command, environment);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The prefix's COM1 to COM3 lead nowhere again.
struct PortsReset {
    ~PortsReset() {
        for (const char digit : {'1', '2', '3'}) pointWinePortAt(digit, std::string(VARDEL_WINE_PREFIX) + "/ports/no-device");
    }
};

}  // namespace

TEST(WindowsFind, FindsTheSimulatorOnCom2WithItsSensorsAndTheLineToUse) {
    const PortsReset reset;
    SimDevice device({DEMO_IDENT});
    pointWinePortAt('2', device.path());
    const RunResult run = findOnWindows({"COM2"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // The names in the ANSI code page (Windows-1252 here): the output is a pipe.
    EXPECT_EQ(run.out, "COM2  (\\Device\\Serial1, UART)" + CRLF + "  the interface answers" + CRLF +
                           "    input 0: pH" + CRLF + "    input 1: opacit\xE9 liquide" + CRLF +
                           "    input 2: 0..15V" + CRLF + "    input 3: thermom\xE8tre 0..100\xB0" "C" + CRLF +
                           SETX_COM2 + "the interface answers on COM2" + CRLF);
    EXPECT_EQ(run.err, "");
    // Once VARDEL_COM1 names the port, vardel1 reads it as it is.
    const RunResult chosen = findOnWindows({"com2:"}, {"VARDEL_COM1=COM2"});
    EXPECT_EQ(chosen.status, 0);
    EXPECT_TRUE(has(chosen.out, "  use: vardel1 ead 0" + CRLF)) << chosen.out;
    // COM3 is vardel3's own port, unless VARDEL_COM3 names another.
    pointWinePortAt('3', device.path());
    const RunResult own = findOnWindows({"COM3"});
    EXPECT_TRUE(has(own.out, "  use: vardel3 ead 0" + CRLF + "the interface answers on COM3" + CRLF)) << own.out;
    const RunResult elsewhere = findOnWindows({"COM3"}, {"VARDEL_COM3=COM1"});
    EXPECT_TRUE(has(elsewhere.out, "  use: setx VARDEL_COM1 COM3, then in a new window: vardel1 ead 0" + CRLF))
        << elsewhere.out;
    // The drivers' request, nothing else, once per run.
    EXPECT_EQ(device.received(), "ZRECO\rZRECO\rZRECO\rZRECO\r");
}

TEST(WindowsFind, PortsAreAskedTogetherAndEachIsReported) {
    const PortsReset reset;
    SimDevice silent1({"silent all"});
    SimDevice other({"ident 1,,2"});
    SimDevice silent3({"silent all"});
    pointWinePortAt('1', silent1.path());
    pointWinePortAt('2', other.path());
    pointWinePortAt('3', silent3.path());
    const RunResult one = findOnWindows({"COM1"});
    EXPECT_EQ(one.status, 1);
    EXPECT_TRUE(has(one.out, "COM1  (\\Device\\Serial0, UART)" + CRLF + "  no answer" + CRLF)) << one.out;
    const RunResult three = findOnWindows({"COM1", "COM2", "\\\\.\\COM3"});
    EXPECT_EQ(three.status, 1) << three.out;
    EXPECT_TRUE(has(three.out, "COM2  (\\Device\\Serial1, UART)" + CRLF +
                                   "  something answered, but not the interface: \"1,,2\\r\"" + CRLF))
        << three.out;
    EXPECT_TRUE(has(three.out, "COM3  (\\Device\\Serial2, UART)" + CRLF + "  no answer" + CRLF)) << three.out;
    EXPECT_TRUE(has(three.out, "the interface answers on no port (2 silent, 1 answering something else)" + CRLF))
        << three.out;
    // Two silent ports more cost no second time-out.
    EXPECT_LT(three.seconds - one.seconds, 0.8) << one.seconds << " s for one port, " << three.seconds << " s for three";
    EXPECT_EQ(silent1.received(), "ZRECO\rZRECO\r");
    EXPECT_EQ(silent3.received(), "ZRECO\r");
}

TEST(WindowsFind, APortThatHangsUpWhileAskedIsReportedAndTheOthersStillAnswer) {
    const PortsReset reset;
    SimDevice gone({DEMO_IDENT, "hangup 0"});
    SimDevice cut({DEMO_IDENT, "hangup 2 100"});
    SimDevice answering({DEMO_IDENT});
    pointWinePortAt('1', gone.path());
    pointWinePortAt('2', cut.path());
    pointWinePortAt('3', answering.path());
    const RunResult run = findOnWindows({"COM1", "COM2", "COM3"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, "COM1  (\\Device\\Serial0, UART)" + CRLF + "  hung up while asked" + CRLF)) << run.out;
    EXPECT_TRUE(has(run.out, "COM2  (\\Device\\Serial1, UART)" + CRLF + "  hung up while asked, after \"0,\"" + CRLF))
        << run.out;
    EXPECT_TRUE(has(run.out, "COM3  (\\Device\\Serial2, UART)" + CRLF + "  the interface answers" + CRLF)) << run.out;
    EXPECT_EQ(answering.received(), "ZRECO\r");
}

TEST(WindowsFind, ListsThePrefixsComPortsWithoutOpeningAny) {
    const PortsReset reset;
    SimDevice device({DEMO_IDENT});
    pointWinePortAt('2', device.path());
    const RunResult run = findOnWindows({"--list"});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const std::string port : {"COM1  (\\Device\\Serial0, UART)", "COM2  (\\Device\\Serial1, UART)",
                                   "COM3  (\\Device\\Serial2, UART)"}) {
        EXPECT_TRUE(has(run.out, port + CRLF + "  may be asked" + CRLF)) << run.out;
    }
    EXPECT_TRUE(has(run.out, " ports" + CRLF)) << run.out;
    EXPECT_EQ(device.received(), "");
}

TEST(WindowsFind, WhatIsNoComPortIsBadUsageAndNothingIsAsked) {
    const PortsReset reset;
    SimDevice device({DEMO_IDENT});
    pointWinePortAt('2', device.path());
    const TempDirectory folder;
    const std::string file = folder.path + "/COM2";
    writeFile(file, "untouched");
    for (const std::string& named : {std::string("foo"), windowsPathOf(file), std::string("COM0"),
                                     std::string("COM99"), std::string("NUL")}) {
        SCOPED_TRACE(named);
        const RunResult run = findOnWindows({"COM2", named});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(has(run.err, "vardel-find: " + named + ": ")) << run.err;
    }
    EXPECT_EQ(readFile(file), "untouched");
    EXPECT_EQ(device.received(), "");
}

// vardel-sim.exe on COM2, the pair's other end on COM1. Wine doesn't keep
// a COM port to its first opener (Windows does), so COM2 is not asked here:
// the finder and the simulator would share its bytes.
TEST(WindowsFind, FindsVardelSimExeFromTheOtherEndOfThePair) {
    WindowsSimDevice device({DEMO_IDENT});
    const RunResult run = findOnWindows({"COM1"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(has(run.out, "COM1  (\\Device\\Serial0, UART)" + CRLF + "  the interface answers" + CRLF)) << run.out;
    EXPECT_TRUE(has(run.out, "    input 3: thermom\xE8tre 0..100\xB0" "C" + CRLF)) << run.out;
    // COM1 is vardel1's own port.
    EXPECT_TRUE(has(run.out, "  use: vardel1 ead 0" + CRLF + "the interface answers on COM1" + CRLF)) << run.out;
    EXPECT_EQ(device.received(), "ZRECO\r");
}
