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
