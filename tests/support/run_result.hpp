#pragma once
// What a test learns from one run of a program, whatever ran it, and the
// checks every suite makes of it.

#include <string>

namespace vardel::test {

// Every line the programs print ends so.
inline const std::string CRLF = "\r\n";

struct RunResult {
    std::string out;   // standard output bytes
    std::string err;   // error output bytes
    int status = -1;   // exit status, or 128 + signal
    double seconds = 0;
    double cpuSeconds = 0;     // user + system time of the child
    long maxRssKilobytes = 0;  // the child's peak resident size (ru_maxrss), where known
};

// A failure report as `text` starts: "Exception <kind> dans le module
// <program> à <8 upper hex digits>.\n" then the message and CR LF, nothing else.
void expectFailureReportText(const std::string& text, const std::string& program, const std::string& kind,
                             const std::string& message);

// The report on standard output, and exit status 1.
void expectFailureReport(const RunResult& run, const std::string& program, const std::string& kind,
                         const std::string& message);

}  // namespace vardel::test
