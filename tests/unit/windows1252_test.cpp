// Windows-1252 read as UTF-8, as the simulator and the Wine tests read the
// programs' texts.

#include <gtest/gtest.h>

#include <string>

#include "text/windows1252.hpp"

using vardel::utf8FromWindows1252;

TEST(Windows1252, EachRangeGivesItsCharacter) {
    struct Case {
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        {"pH 7", "pH 7"},
        {"thermom\xE8tre 0..100\xB0" "C", "thermom\xC3\xA8tre 0..100\xC2\xB0" "C"},
        {"\x80", "\xE2\x82\xAC"},  // the euro sign, three bytes
        {"\x81\x9D", "\xC2\x81\xC2\x9D"},  // no character: kept as the code point of the byte
        {"\x83\x9F", "\xC6\x92\xC5\xB8"},
        {"\xA0\xFF", "\xC2\xA0\xC3\xBF"},
        {std::string("\0", 1), std::string("\0", 1)},
    };
    for (const Case& c : cases) EXPECT_EQ(utf8FromWindows1252(c.bytes), c.utf8) << c.bytes;
}
