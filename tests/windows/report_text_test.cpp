// The code page of the failure report's fixed texts: the system's ANSI code
// page when it is a single-byte one, Windows-1252 otherwise.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli/process.hpp"
#include "cli/process_win32.hpp"

using namespace vardel;

namespace {

constexpr unsigned UTF8 = 65001;

struct CodePageCase {
    unsigned ansiCodePage;
    unsigned reportCodePage;
};

const CodePageCase CODE_PAGES[] = {
    // Single-byte code pages: the texts as the system writes them.
    {1252, 1252},
    {1250, 1250},
    {1251, 1251},
    {437, 437},
    // UTF-8 and the East Asian code pages: the build's own Windows-1252.
    {UTF8, 1252},
    {932, 1252},
    {936, 1252},
    {949, 1252},
    {950, 1252},
};

}  // namespace

TEST(ReportText, CodePageChosenForEachAnsiCodePage) {
    for (const CodePageCase& c : CODE_PAGES) {
        EXPECT_EQ(reportCodePageFor(c.ansiCodePage), c.reportCodePage) << c.ansiCodePage;
    }
}

TEST(ReportText, AccentedLettersInTheChosenCodePage) {
    const std::string message = "Op\xC3\xA9ration \xC3\xA0";  // "Opération à" in UTF-8
    EXPECT_EQ(textInCodePage(message, reportCodePageFor(UTF8)), "Op\xE9ration \xE0");
    EXPECT_EQ(textInCodePage(message, reportCodePageFor(932)), "Op\xE9ration \xE0");
    EXPECT_EQ(textInCodePage(message, reportCodePageFor(1252)), "Op\xE9ration \xE0");
    // A single-byte code page keeps its own bytes: é is 0x82 in code page 437.
    EXPECT_EQ(textInCodePage("\xC3\xA9", reportCodePageFor(437)), "\x82");
}

TEST(ReportText, TheSystemsAnsiCodePage) {
    // VARDEL_EXPECT_ACP, when set, is the ANSI code page the run was set up
    // for (a Japanese locale under Wine gives 932): the test then fails
    // rather than pass on another one.
    const UINT ansiCodePage = GetACP();
    if (const char* expected = std::getenv("VARDEL_EXPECT_ACP")) {
        ASSERT_EQ(ansiCodePage, static_cast<UINT>(std::atoi(expected)));
    }
    const std::string a = toAnsi("\xC3\xA0");
    CPINFO info{};
    ASSERT_TRUE(GetCPInfo(ansiCodePage, &info));
    if (info.MaxCharSize > 1) {
        EXPECT_EQ(a, "\xE0") << "ANSI code page " << ansiCodePage;
    } else {
        EXPECT_EQ(a, textInCodePage("\xC3\xA0", ansiCodePage)) << "ANSI code page " << ansiCodePage;
    }
}
