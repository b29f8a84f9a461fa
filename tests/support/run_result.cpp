#include "tests/support/run_result.hpp"

#include <gtest/gtest.h>

namespace vardel::test {

void expectFailureReportText(const std::string& text, const std::string& program, const std::string& kind,
                             const std::string& message) {
    const std::string prefix = "Exception " + kind + " dans le module " + program + " \xE0 ";
    ASSERT_GE(text.size(), prefix.size() + 10) << text;
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    const std::string location = text.substr(prefix.size(), 8);
    EXPECT_EQ(location.find_first_not_of("0123456789ABCDEF"), std::string::npos) << location;
    EXPECT_EQ(text.substr(prefix.size() + 8, 2), ".\n");
    EXPECT_EQ(text.substr(prefix.size() + 10), message + CRLF);
}

void expectFailureReport(const RunResult& run, const std::string& program, const std::string& kind,
                         const std::string& message) {
    EXPECT_EQ(run.status, 1);
    expectFailureReportText(run.out, program, kind, message);
}

}  // namespace vardel::test
