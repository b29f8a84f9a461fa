#pragma once
// vardel-find: which serial port the interface answers on. The ports are
// opened, set and released by the drivers' own port library, asked the
// drivers' identification request, and the reply read by the drivers' own
// identification code; only the listing of ports is the finder's own.

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "find/port_list.hpp"
#include "serial/serial_link.hpp"

namespace vardel::find {

inline constexpr int FOUND = 0;
inline constexpr int NOT_FOUND = 1;
inline constexpr int BAD_USAGE = 2;

// What the command line asks for.
struct Options {
    enum class Mode { Ask, List, Help, Version, Bad } mode = Mode::Ask;
    std::vector<std::string> ports;  // named ports; none: every port of the machine
    std::string error;               // with Bad
};
Options parseOptions(const std::vector<std::string>& arguments);

enum class Outcome {
    Listed,        // --list: not opened
    Console,       // a system console: never asked
    NoPermission,  // this user may not open it
    Busy,          // another run or program holds it
    Missing,       // no such port (any more)
    NotAPort,      // refused by the port library: no serial terminal
    NotOpened,     // the open failed for another reason
    Answered,      // the interface
    NoAnswer,      // silent for the whole time-out
    OtherAnswer,   // something answered, but not the interface
    HungUp,        // the port went away while it was asked
};

struct PortReport {
    PortEntry entry;
    Outcome outcome = Outcome::Listed;
    std::string detail;  // why it couldn't be opened; the first bytes of a reply that wasn't one
    std::array<std::string, 4> sensorNames{};  // with Answered: as nea prints them (Windows-1252)
};

// One port while it is asked: its link (through the drivers' port library),
// the trace of its open, and what came back.
struct Question {
    SerialLink link;
    Trace trace;
    CollectedReply reply;
    bool hungUp = false;  // the port signalled a hang-up or an error before a whole reply
};

// The link of a question: the drivers' line settings and time-out, the
// trace kept in `scratch` (a file of the caller's, read back by openFailure).
void prepareQuestion(Question& question, const std::string& openName, std::FILE* scratch);

// Why the open of a question failed, from its trace: the outcome and the
// port library's own words.
struct OpenFailure {
    Outcome outcome = Outcome::NotOpened;
    std::string reason;
};
OpenFailure classifyOpenFailure(std::string_view traceText);
std::string readScratch(std::FILE* scratch);

// Judges a reply: the interface when the drivers' identification reading
// accepts it without a failure and it names four inputs (kinds and codes
// of inputs 0 to 3, fields 4 to 11, all given).
void judgeReply(const Question& question, PortReport& report);
// The reply's first bytes, escaped, for "something answered".
std::string replyExcerpt(std::string_view bytes);

// How the platform shows what it found.
struct Presentation {
    std::function<std::string(std::string_view)> names;  // Windows-1252 to the output's encoding
    std::function<std::string(const PortEntry&)> command;  // the command that reads input 0 there
    std::string permissionHint;  // what to do about "no permission"
};

// The lines of one port, each ending in "\n".
std::string reportLines(const PortReport& report, const Presentation& presentation);
// The closing line: where the interface is, or the likely causes of none.
std::string summaryLine(const std::vector<PortReport>& reports, bool listOnly);
int exitStatusOf(const std::vector<PortReport>& reports);

std::string usageText(std::string_view program);

}  // namespace vardel::find
