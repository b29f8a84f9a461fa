// Mode strings read into line parameters.

#include <gtest/gtest.h>

#include <string>

#include "serial/line_settings.hpp"

using namespace vardel;

namespace {

bool operator==(const LineParameters& a, const LineParameters& b) {
    return a.baud == b.baud && a.parity == b.parity && a.dataBits == b.dataBits && a.stopBits == b.stopBits;
}

LineParameters read(const std::string& mode) {
    LineParameters params;
    EXPECT_TRUE(applyModeString(mode, params)) << mode;
    return params;
}


}  // namespace

TEST(ModeString, TheTwoSettingsTextsOfTheLink) {
    EXPECT_TRUE(read("baud=9600 parity=n data=8 stop=1") == (LineParameters{9600, Parity::None, 8, StopBits::One}));
    EXPECT_TRUE(read("baud=1200 parity=e data=7 stop=1") == (LineParameters{1200, Parity::Even, 7, StopBits::One}));
}

TEST(ModeString, KeysAndValuesInAnyCaseAndOrderWithAnyBlanks) {
    EXPECT_TRUE(read("  STOP=2\tData=5   PARITY=O baud=300 ") == (LineParameters{300, Parity::Odd, 5, StopBits::Two}));
    EXPECT_EQ(read("parity=M").parity, Parity::Mark);
    EXPECT_EQ(read("parity=s").parity, Parity::Space);
    EXPECT_EQ(read("stop=1.5").stopBits, StopBits::OnePointFive);
    EXPECT_EQ(read("data=6").dataBits, 6u);
}

TEST(ModeString, KeysNotGivenKeepTheirValuesAndTheLastOfAKeyWins) {
    LineParameters params{9600, Parity::None, 8, StopBits::Two};
    EXPECT_TRUE(applyModeString("baud=19200 baud=4800", params));
    EXPECT_TRUE(params == (LineParameters{4800, Parity::None, 8, StopBits::Two}));
}

TEST(ModeString, TextsThatAreNotModeStringsChangeNothing) {
    const LineParameters before{2400, Parity::Odd, 6, StopBits::Two};
    for (const char* mode : {"", "   ", "baud", "baud=", "=9600", "baud=abc", "baud=0", "baud=-9600", "baud=+9600",
                             "baud=4294967296", "baud=96OO", "parity=x", "parity=none", "parity=", "data=4", "data=9",
                             "data=08x", "stop=3", "stop=1.0", "stop=0", "speed=9600", "baud = 9600",
                             "baud=9600,parity=n", "9600,n,8,1", "baud=9600 parity=n data=8 stop=1 xon=on",
                             "baud=9600 parity=q"}) {
        LineParameters params = before;
        EXPECT_FALSE(applyModeString(mode, params)) << '"' << mode << '"';
        EXPECT_TRUE(params == before) << '"' << mode << '"';
    }
}
