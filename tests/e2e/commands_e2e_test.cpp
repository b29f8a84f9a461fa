// The programs run as processes against the simulated device: exact output
// bytes, exit status and the exact bytes the device received.

#include <gtest/gtest.h>

#include "tests/e2e/harness.hpp"
#include "tests/support/command_words.hpp"

using namespace vardel::e2e;
using vardel::test::expectFailureReport;

namespace {


// A device whose identification reply gives slots 4..11.
std::vector<std::string> sensors(const std::string& kinds, const std::string& codes) {
    return {"ident 0,0,0,0," + kinds + "," + codes + ",0,0,0,0,0,0,0,0,"};
}

}  // namespace

TEST(Commands, TitleAndDetailOfBothPrograms) {
    SimDevice device({});
    EXPECT_EQ(runWith(device, "vardel1", {"titre"}).out, "Orphy portable2, Com1:" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdtitre", "1E19"}).out, "Orphy portable2, Com1:" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"detail"}).out,
              "pilote ex\xE9" "cutable Orphy Portable 2 en Com1:, par Marlevoux, le 6 dec 07" + CRLF);
    EXPECT_EQ(device.received(), "");

    SimDevice device3({});
    const RunResult title3 = runWith(device3, "vardel3", {"titre"});
    EXPECT_EQ(title3.out, "Orphy portable2, Com3:" + CRLF);
    EXPECT_EQ(title3.status, 0);
    EXPECT_EQ(runWith(device3, "vardel3", {"stddetail"}).out,
              "pilote ex\xE9" "cutable Orphy Portable 2 en Com3:, par Marlevoux, le 6 dec 07" + CRLF);
}

TEST(Commands, EveryWordOnOneDevice) {
    // The table the Windows programs are held to under Wine.
    SimDevice device(vardel::test::SENSOR_DEVICE);
    for (const auto& c : vardel::test::COMMAND_WORDS) {
        SCOPED_TRACE(c.arguments.front());
        const RunResult run = runWith(device, "vardel1", c.arguments);
        EXPECT_EQ(run.out, c.line + CRLF);
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(device.received(), vardel::test::COMMAND_WORDS_RECEIVED);
}

TEST(Commands, MissingOrUnknownWordsPrintNothing) {
    SimDevice device({});
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"EA", "0"}, {"ea "}, {"e"}, {""}, {"\xFF"}}) {
        const RunResult run = runWith(device, "vardel1", args);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(device.received(), "");
}

TEST(Commands, ArgumentsThatAreNotNumbersEndTheRun) {
    SimDevice device({});
    expectFailureReport(runWith(device, "vardel1", {"ea", "abc"}), "vardel1", "EConvertError",
                 "'abc' n'est pas une valeur en virgule flottante correcte.");
    expectFailureReport(runWith(device, "vardel1", {"detail", "x"}), "vardel1", "EConvertError",
                 "'x' n'est pas une valeur en virgule flottante correcte.");
    // Argument 2 fails before argument 3 is looked at.
    expectFailureReport(runWith(device, "vardel3", {"titre", "a", "b"}), "vardel3", "EConvertError",
                 "'a' n'est pas une valeur en virgule flottante correcte.");
    expectFailureReport(runWith(device, "vardel1", {"ea", "1", "\xE9\x80"}), "vardel1", "EConvertError",
                 "'\xE9\x80' n'est pas une valeur en virgule flottante correcte.");
    expectFailureReport(runWith(device, "vardel1", {"ea", "1E600"}), "vardel1", "EOverflow",
                 "D\xE9" "bordement en virgule flottante.");
    expectFailureReport(runWith(device, "vardel1", {"ea", "1E4999"}), "vardel1", "EConvertError",
                 "'1E4999' n'est pas une valeur en virgule flottante correcte.");
    expectFailureReport(runWith(device, "vardel1", {"nsa", "1E19"}), "vardel1", "EInvalidOp",
                 "Op\xE9ration en virgule flottante incorrecte.");
    expectFailureReport(runWith(device, "vardel1", {"stdsas", "1", "1E39"}), "vardel1", "EOverflow",
                 "D\xE9" "bordement en virgule flottante.");
    EXPECT_EQ(device.received(), "");
}

TEST(Commands, LongArgumentGivesAReportCutAfter1024Characters) {
    SimDevice device({});
    const RunResult run = runWith(device, "vardel1", {"ea", std::string(1500, 'q')});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.out.size(), 1024u + 2);
    EXPECT_EQ(run.out.substr(1024), CRLF);
}

TEST(Commands, AnalogOutputWordsAnswerWithoutTheDevice) {
    SimDevice device({});
    for (const char* word : {"sa", "rsa", "stdsa", "stdrsa", "sad", "rsad", "stdsad", "stdsas", "stdrsad", "stdrsas"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(runWith(device, "vardel1", {word, "1", "2"}).out, "-777" + CRLF);
    }
    for (const char* word : {"nsa", "nsad", "stdnsa", "stdnsad"}) {
        EXPECT_EQ(runWith(device, "vardel1", {word}).out, CRLF);
    }
    EXPECT_EQ(device.received(), "");
}

TEST(AnalogRaw, SendsTheInputAndReadsTheDigits) {
    SimDevice device({"analog 11 512", "analog 1 \\s512\\s", "analog 2 V=512", "analog 3 +512", "analog 4 abc",
                      "analog -3 -12", "analog 5 1.5", "analog 6 ", "analog 7 99999999999",
                      "analog 8 2147483647"});
    EXPECT_EQ(runWith(device, "vardel1", {"ea"}).out, "512" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "1"}).out, "512" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdea", "2"}).out, "512" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "3"}).out, "512" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "4"}).out, "-777" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "-3"}).out, "12" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "5"}).out, "15" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "6"}).out, "-777" + CRLF);
    expectFailureReport(runWith(device, "vardel1", {"ea", "7"}), "vardel1", "EConvertError",
                 "'99999999999' n'est pas une valeur enti\xE8re correcte.");
    EXPECT_EQ(runWith(device, "vardel1", {"ea", "8"}).out, "2147483647" + CRLF);
    EXPECT_EQ(device.received(),
              "ZEA 11\rZEA 1\rZEA 2\rZEA 3\rZEA 4\rZEA -3\rZEA 5\rZEA 6\rZEA 7\rZEA 8\r");
}

TEST(AnalogRaw, ArgumentRoundingAndSeparators) {
    SimDevice device({"analog * 1"});
    for (const char* x : {"2.5", "3.5", "-0.5", "4294967297", " 3 ", "3.", ".", "-.", "1e", "+2E0"}) {
        EXPECT_EQ(runWith(device, "vardel1", {"ea", x}).out, "1" + CRLF) << x;
    }
    EXPECT_EQ(device.received(), "ZEA 2\rZEA 4\rZEA 0\rZEA 1\rZEA 3\rZEA 3\rZEA 0\rZEA 0\rZEA 1\rZEA 2\r");

    SimDevice french({"analog * 1"});
    RunOptions options;
    options.frenchLocale = true;
    options.portPath = french.path();
    EXPECT_EQ(runProgram("vardel1", {"ea", "2,5"}, options).out, "1" + CRLF);
    expectFailureReport(runProgram("vardel1", {"ea", "2.5"}, options), "vardel1", "EConvertError",
                 "'2.5' n'est pas une valeur en virgule flottante correcte.");
    EXPECT_EQ(french.received(), "ZEA 2\r");
}

TEST(SensorNames, FromTheIdentification) {
    SimDevice device(sensors("0,1,0,5", "150,57,71,100"));
    EXPECT_EQ(runWith(device, "vardel1", {"nea", "0"}).out, "pH" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"nead", "1"}).out, "opacit\xE9 liquide" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdnea", "2"}).out, "EA inconnue B" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdnead", "3"}).out, "EA inconnue C" + CRLF);
    EXPECT_EQ(device.received(), "ZRECO\rZRECO\rZRECO\rZRECO\r");
}

TEST(SensorNames, MalformedIdentificationEndsTheRun) {
    SimDevice device({"ident 1,,2"});
    expectFailureReport(runWith(device, "vardel1", {"nea", "0"}), "vardel1", "EConvertError",
                 "',' n'est pas une valeur enti\xE8re correcte.");
}

TEST(SensorNames, ShortAndEmptyReplies) {
    SimDevice shortReply({"ident 5,78"});  // slots 1..19 all 7: kind 7
    EXPECT_EQ(runWith(shortReply, "vardel1", {"nea", "0"}).out, "EA inconnue @" + CRLF);
    SimDevice emptyReply({"ident "});
    EXPECT_EQ(runWith(emptyReply, "vardel1", {"nea", "2"}).out, "(rien)" + CRLF);
}

TEST(AnalogConverted, ScalesByTheIdentifiedSensor) {
    SimDevice device({"ident 0,0,0,0,0,0,1,0,100,60,59,71,0,0,0,0,0,0,0,0,", "analog 0 612", "analog 1 256",
                      "analog 2 0", "analog 3 1020"});
    EXPECT_EQ(runWith(device, "vardel1", {"ead", "0"}).out, "9" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdead", "1"}).out, "-50.1960784313725483" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdeas", "1"}).out, "-50.1960792541503906" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ead", "2"}).out, "100" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"ead", "3"}).out, "1.99215686274509807" + CRLF);
    EXPECT_EQ(device.received(), "ZRECO\rZEA 0\rZRECO\rZEA 1\rZRECO\rZEA 1\rZRECO\rZEA 2\rZRECO\rZEA 3\r");

    SimDevice french({"ident 0,0,0,0,0,0,0,0,150,0,0,0,0,0,0,0,0,0,0,0,", "analog 0 1023"});
    RunOptions options;
    options.frenchLocale = true;
    options.portPath = french.path();
    EXPECT_EQ(runProgram("vardel1", {"ead", "0"}, options).out, "14,0411764705882352" + CRLF);
}

TEST(BinaryInputs, RequestFirstThenTheReply) {
    SimDevice device({"binary 2 1", "binary 3 \\s1", "binary 4 1x", "binary 5 -12a"});
    EXPECT_EQ(runWith(device, "vardel1", {"eb", "2"}).out, "1" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdeb", "3"}).out, "1" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"eb", "4"}).out, "1" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"eb", "5"}).out, "12" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"eb"}).out, "-777" + CRLF);
    EXPECT_EQ(device.received(), "ZEBIT 2\rZEBIT 3\rZEBIT 4\rZEBIT 5\rZEBIT ;\r");
}

TEST(BinaryOutputs, SwitchNameAndReadBack) {
    SimDevice device({});
    EXPECT_EQ(runWith(device, "vardel1", {"sb", "3", "1"}).out, "1" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"stdsb", "3", "0"}).out, "0" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"sb", "8", "1"}).out, "1" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"sb", "2", "0.6"}).out, "1" + CRLF);
    EXPECT_EQ(runWith(device, "vardel1", {"sb", "2", "0.5"}).out, "0" + CRLF);
    // The ends of the numbers and the names: ranges_e2e_test.cpp.
    EXPECT_EQ(runWith(device, "vardel1", {"sb", "2"}).out, "-777" + CRLF);
    EXPECT_EQ(device.received(), "ZSBIT 3\rZRBIT 3\rZSBIT 8\rZSBIT 2\rZRBIT 2\r");
}

TEST(NoDevice, SilentDeviceIsTheSameAsNone) {
    SimDevice device({"silent all"});
    const RunResult run = runWith(device, "vardel1", {"nea", "0"});
    EXPECT_EQ(run.out, "(rien)" + CRLF);
    EXPECT_GT(run.seconds, 1.0);
    EXPECT_EQ(device.received(), "ZRECO\r");
}

// Lost output of every kind: faults_e2e_test.cpp.
TEST(OutputFailures, FileTakesTheLine) {
    RunOptions toFile;
    toFile.stdoutMode = StdoutMode::File;
    const RunResult file = runProgram("vardel3", {"titre"}, toFile);
    EXPECT_EQ(file.out, "Orphy portable2, Com3:" + CRLF);
    EXPECT_EQ(file.status, 0);
}
