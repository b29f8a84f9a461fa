// The ends of each word's input and output numbers: the lowest and highest
// number it accepts and one past each end, with the exact line printed and
// the exact commands the device received, for the plain words and their twins.

#include <gtest/gtest.h>

#include "tests/e2e/harness.hpp"

using namespace vardel::e2e;

namespace {

struct RangeRow {
    std::vector<std::string> arguments;  // the word first
    std::string line;                    // printed, without the line end
    std::string sent;                    // what the device receives
};

// Inputs 0 and 3 hold a pH sensor (code 150) and a +/-100 mV one (code 60).
const std::vector<std::string> DEVICE = {
    "ident 0,0,0,0,0,0,0,0,150,100,177,60,0,0,0,0,0,0,0,0,",
    "analog 0 1023", "analog 3 256", "analog -1 7", "analog 4 8",
    "analog 2147483647 9", "analog -2147483648 10",
    "binary 0 1", "binary 5 1",
};

const std::string IDENTIFY = "ZRECO\r";

const std::vector<RangeRow> ROWS = {
    // ea reads whatever input it is given.
    {{"ea", "-1"}, "7", "ZEA -1\r"},
    {{"ea", "0"}, "1023", "ZEA 0\r"},
    {{"ea", "3"}, "256", "ZEA 3\r"},
    {{"ea", "4"}, "8", "ZEA 4\r"},
    {{"ea", "2147483647"}, "9", "ZEA 2147483647\r"},
    {{"ea", "-2147483648"}, "10", "ZEA -2147483648\r"},
    {{"nea", "-1"}, "", IDENTIFY},
    {{"nea", "0"}, "pH", IDENTIFY},
    {{"nea", "3"}, "+/-100 mV", IDENTIFY},
    {{"nea", "4"}, "", IDENTIFY},
    {{"nead", "-1"}, "", IDENTIFY},
    {{"nead", "0"}, "pH", IDENTIFY},
    {{"nead", "3"}, "+/-100 mV", IDENTIFY},
    {{"nead", "4"}, "", IDENTIFY},
    {{"ead", "-1"}, "-777", IDENTIFY},
    {{"ead", "0"}, "14.0411764705882352", IDENTIFY + "ZEA 0\r"},
    {{"ead", "3"}, "-50.1960784313725483", IDENTIFY + "ZEA 3\r"},
    {{"ead", "4"}, "-777", IDENTIFY},
    {{"eb", "-1"}, "-777", "ZEBIT /\r"},
    {{"eb", "0"}, "1", "ZEBIT 0\r"},
    {{"eb", "5"}, "1", "ZEBIT 5\r"},
    {{"eb", "6"}, "-777", "ZEBIT 6\r"},
    {{"neb", "-1"}, "", ""},
    {{"neb", "0"}, "entr\xE9" "e binaire 0", ""},
    {{"neb", "5"}, "entr\xE9" "e binaire 5", ""},
    {{"neb", "6"}, "", ""},
    {{"sb", "-1", "1"}, "-777", ""},
    {{"sb", "0", "1"}, "1", "ZSBIT 0\r"},
    {{"sb", "8", "0"}, "0", "ZRBIT 8\r"},
    {{"sb", "9", "1"}, "-777", ""},
    {{"sb", "0", "-1"}, "-777", ""},
    {{"sb", "8", "2"}, "-777", ""},
    {{"nsb", "-1"}, "", ""},
    {{"nsb", "0"}, "sortie logique 0", ""},
    {{"nsb", "7"}, "sortie logique 7", ""},
    {{"nsb", "8"}, "", ""},
    // Nothing is recorded before a read-back in a run of its own.
    {{"rsb", "-1"}, "0", ""},
    {{"rsb", "0"}, "0", ""},
    {{"rsb", "7"}, "0", ""},
    {{"rsb", "8"}, "0", ""},
};

// stdeas has no plain twin: the reading in single precision.
const std::vector<RangeRow> SINGLE_ROWS = {
    {{"stdeas", "-1"}, "-777", IDENTIFY},
    {{"stdeas", "0"}, "14.0411767959594727", IDENTIFY + "ZEA 0\r"},
    {{"stdeas", "3"}, "-50.1960792541503906", IDENTIFY + "ZEA 3\r"},
    {{"stdeas", "4"}, "-777", IDENTIFY},
};

}  // namespace

TEST(WordRanges, EachEndAndOnePast) {
    SimDevice device(DEVICE);
    std::string sent;
    auto check = [&](const RangeRow& row, const std::string& prefix) {
        std::vector<std::string> arguments = row.arguments;
        arguments[0] = prefix + arguments[0];
        const RunResult run = runWith(device, "vardel1", arguments);
        EXPECT_EQ(run.out, row.line + CRLF) << arguments[0] << " " << arguments[1];
        EXPECT_EQ(run.status, 0) << arguments[0] << " " << arguments[1];
        sent += row.sent;
    };
    for (const std::string prefix : {"", "std"}) {
        for (const RangeRow& row : ROWS) check(row, prefix);
    }
    for (const RangeRow& row : SINGLE_ROWS) check(row, "");
    EXPECT_EQ(device.received(), sent);
}
