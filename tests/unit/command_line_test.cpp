#include <gtest/gtest.h>

#include "text/command_line.hpp"

using vardel::splitCommandLine;
using Tokens = std::vector<std::string>;

TEST(SplitCommandLine, SeparatorsAndPlainTokens) {
    EXPECT_EQ(splitCommandLine("vardel1 ea 3"), (Tokens{"vardel1", "ea", "3"}));
    EXPECT_EQ(splitCommandLine("  vardel1\t\x01" "ea\r\n3  "), (Tokens{"vardel1", "ea", "3"}));
    EXPECT_EQ(splitCommandLine(""), Tokens{});
    EXPECT_EQ(splitCommandLine("   "), Tokens{});
    // Bytes above 0x7F are ordinary bytes.
    EXPECT_EQ(splitCommandLine("p \xE9t\xFF"), (Tokens{"p", "\xE9t\xFF"}));
}

TEST(SplitCommandLine, QuotedRunsHaveNoEscapes) {
    EXPECT_EQ(splitCommandLine("p \"a b\"c"), (Tokens{"p", "a bc"}));
    EXPECT_EQ(splitCommandLine("p \"a\"\"b\""), (Tokens{"p", "ab"}));
    EXPECT_EQ(splitCommandLine("p x\"y"), (Tokens{"p", "xy"}));
    EXPECT_EQ(splitCommandLine("p \" 3 \""), (Tokens{"p", " 3 "}));
    EXPECT_EQ(splitCommandLine("p 1\\\"2\""), (Tokens{"p", "1\\2"}));
    EXPECT_EQ(splitCommandLine("p \"tab\there\""), (Tokens{"p", "tab\there"}));
}

TEST(SplitCommandLine, EmptyQuotePairsBetweenTokensAreNoArgument) {
    EXPECT_EQ(splitCommandLine("vardel1 ea \"\" 3"), (Tokens{"vardel1", "ea", "3"}));
    EXPECT_EQ(splitCommandLine("p \"\"\"\"x"), (Tokens{"p", "x"}));
    EXPECT_EQ(splitCommandLine("p \"\""), (Tokens{"p"}));
    // An odd quote after skipped pairs opens a run that reaches the end.
    EXPECT_EQ(splitCommandLine("p \"\"\" a"), (Tokens{"p", " a"}));
}

TEST(SplitCommandLine, TheZeroByteEndsTheLine) {
    const std::string line("p ea\0 3", 7);
    EXPECT_EQ(splitCommandLine(line), (Tokens{"p", "ea"}));
}

TEST(SplitCommandLine, TokensHoldAtMost4096Bytes) {
    const std::string long4097(4097, 'a');
    const auto tokens = splitCommandLine("p " + long4097 + " z");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[1], std::string(4096, 'a'));
    EXPECT_EQ(tokens[2], "a");
    EXPECT_EQ(tokens[3], "z");

    // A quoted run past the limit is cut there; the run still closes.
    const auto quoted = splitCommandLine("p \"" + std::string(5000, 'b') + "\" z");
    ASSERT_EQ(quoted.size(), 3u);
    EXPECT_EQ(quoted[1], std::string(4096, 'b'));
    EXPECT_EQ(quoted[2], "z");

    // The byte after a full token begins the next one, quotes included.
    const auto next = splitCommandLine("p " + std::string(4096, 'c') + "\"d e\"");
    ASSERT_EQ(next.size(), 3u);
    EXPECT_EQ(next[2], "d e");
}
