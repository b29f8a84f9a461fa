#include "find/finder.hpp"

#include <algorithm>

#include "device/protocol.hpp"
#include "measure/sensors.hpp"
#include "text/escaped_bytes.hpp"
#include "text/failure.hpp"

namespace vardel::find {

namespace {

constexpr std::size_t EXCERPT_BYTES = 32;
// Kinds and codes of the four inputs: fields 4 to 11.
constexpr std::size_t FIELDS_NAMING_FOUR_INPUTS = 12;
constexpr const char* LINE_SETTINGS = "baud=9600 parity=n data=8 stop=1";

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Whether the reply gives fields 0 to 11 itself, each followed by a comma:
// a short reply would repeat its remainder into them instead.
bool namesFourInputs(std::string_view reply) {
    std::size_t fields = 0;
    std::size_t start = 0;
    for (std::size_t at = reply.find(','); at != std::string_view::npos; at = reply.find(',', start)) {
        if (at == start) return false;
        start = at + 1;
        if (++fields == FIELDS_NAMING_FOUR_INPUTS) return true;
    }
    return false;
}

std::string outcomeText(const PortReport& report, const Presentation& presentation) {
    switch (report.outcome) {
        case Outcome::Listed: return "may be asked";
        case Outcome::Console: return "a system console: not asked";
        case Outcome::NoPermission: return "no permission: " + report.detail + presentation.permissionHint;
        case Outcome::Busy: return "busy, not asked: " + report.detail;
        case Outcome::Missing: return "gone: " + report.detail;
        case Outcome::NotAPort: return "not a serial port: " + report.detail;
        case Outcome::NotOpened: return "could not be opened: " + report.detail;
        case Outcome::Answered: return "the interface answers";
        case Outcome::NoAnswer: return "no answer";
        case Outcome::OtherAnswer: return "something answered, but not the interface: \"" + report.detail + "\"";
        case Outcome::HungUp:
            return "hung up while asked" + (report.detail.empty() ? std::string() : ", after \"" + report.detail + "\"");
    }
    return std::string();
}

std::size_t countOf(const std::vector<PortReport>& reports, Outcome outcome) {
    return static_cast<std::size_t>(std::count_if(reports.begin(), reports.end(),
                                                  [outcome](const PortReport& r) { return r.outcome == outcome; }));
}

}  // namespace

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            options.mode = Options::Mode::Help;
            return options;
        }
        if (argument == "--version") {
            options.mode = Options::Mode::Version;
            return options;
        }
    }
    for (const std::string& argument : arguments) {
        if (argument == "--list") {
            options.mode = Options::Mode::List;
        } else if (argument.empty() || (argument[0] == '-' && argument.size() > 1)) {
            options.mode = Options::Mode::Bad;
            options.error = argument.empty() ? "an empty port name" : "unknown option '" + argument + "'";
            return options;
        } else {
            options.ports.push_back(argument);
        }
    }
    if (options.mode == Options::Mode::List && !options.ports.empty()) {
        options.mode = Options::Mode::Bad;
        options.error = "--list asks no port: give either --list or ports";
    }
    return options;
}

void prepareQuestion(Question& question, const std::string& openName, std::FILE* scratch) {
    question.trace.ownedFile.reset(scratch);
    question.trace.stream = scratch;
    question.trace.startMs = tickCount();
    question.link.portName = openName;
    question.link.lineSettings = LINE_SETTINGS;
    question.link.timeoutMs = REPLY_TIMEOUT_MS;
    question.link.trace = &question.trace;
}

std::string readScratch(std::FILE* scratch) {
    std::string text;
    if (scratch == nullptr || std::fflush(scratch) != 0) return text;
    std::rewind(scratch);
    char buffer[512];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, scratch)) > 0;) text.append(buffer, got);
    return text;
}

OpenFailure classifyOpenFailure(std::string_view traceText) {
    // The port library's last word on the open: the line after the one
    // naming the port.
    std::string reason;
    std::size_t start = 0;
    while (start < traceText.size()) {
        std::size_t end = traceText.find('\n', start);
        if (end == std::string_view::npos) end = traceText.size();
        std::string_view line = traceText.substr(start, end - start);
        if (const auto cut = line.find(" ms: "); cut != std::string_view::npos) line.remove_prefix(cut + 5);
        if (!line.starts_with("port ")) reason = std::string(line);
        start = end + 1;
    }
    if (reason.empty()) reason = "no reason given";
    if (contains(reason, "busy") || contains(reason, "may hold the port")) return {Outcome::Busy, reason};
    if (contains(reason, "Permission denied")) return {Outcome::NoPermission, reason};
    if (reason.starts_with("refused")) return {Outcome::NotAPort, reason};
    if (contains(reason, "No such file") || contains(reason, "not find") || contains(reason, "not found")) {
        return {Outcome::Missing, reason};
    }
    return {Outcome::NotOpened, reason};
}

std::string replyExcerpt(std::string_view bytes) {
    const bool cut = bytes.size() > EXCERPT_BYTES;
    return escapedBytes(bytes.substr(0, EXCERPT_BYTES)) + (cut ? "..." : "");
}

void judgeReply(const Question& question, PortReport& report) {
    const CollectedReply& reply = question.reply;
    if (reply.timedOut) {
        // A port gone in the middle of a reply is reported as gone, with
        // what came before.
        report.outcome = question.hungUp             ? Outcome::HungUp
                         : reply.unterminated.empty() ? Outcome::NoAnswer
                                                      : Outcome::OtherAnswer;
        report.detail = reply.unterminated.empty() ? std::string() : replyExcerpt(reply.unterminated);
        return;
    }
    report.outcome = Outcome::OtherAnswer;
    report.detail = replyExcerpt(reply.text + "\r");
    if (!namesFourInputs(reply.text)) return;
    IdentificationFields fields;
    SensorTable table;
    try {
        applyIdentificationReply(reply.text, fields);
    } catch (const DriverFailure&) {
        return;
    }
    sensorsFromFields(fields, table);
    for (std::size_t j = 0; j < 4; ++j) report.sensorNames[j] = table.entries[j].name;
    report.outcome = Outcome::Answered;
    report.detail.clear();
}

std::string reportLines(const PortReport& report, const Presentation& presentation) {
    const PortEntry& entry = report.entry;
    std::string lines = entry.device;
    std::string about = entry.driver;
    if (!entry.hardware.empty()) about += (about.empty() ? "" : ", ") + entry.hardware;
    if (entry.console) about += (about.empty() ? "" : ", ") + std::string("system console");
    if (!about.empty()) lines += "  (" + about + ")";
    lines += "\n";
    if (!entry.stableName.empty()) lines += "  also " + entry.stableName + "\n";
    for (const std::string& name : entry.otherNames) lines += "  also " + name + "\n";
    lines += "  " + outcomeText(report, presentation) + "\n";
    if (report.outcome == Outcome::Answered) {
        for (std::size_t j = 0; j < 4; ++j) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
            // a literal added to a temporary string under optimisation.
            lines += "    input ";
            lines += std::to_string(j);
            lines += ": ";
            lines += presentation.names(report.sensorNames[j]);
            lines += '\n';
        }
        lines += "  use: " + presentation.command(entry) + "\n";
    }
    return lines;
}

std::string summaryLine(const std::vector<PortReport>& reports, bool listOnly) {
    if (reports.empty()) return "no serial port found\n";
    if (listOnly) return std::to_string(reports.size()) + (reports.size() == 1 ? " port\n" : " ports\n");
    std::vector<std::string> found;
    for (const PortReport& report : reports) {
        if (report.outcome == Outcome::Answered) {
            found.push_back(report.entry.stableName.empty() ? report.entry.device : report.entry.stableName);
        }
    }
    if (!found.empty()) {
        std::string line = "the interface answers on";
        for (const std::string& name : found) line += " " + name;
        return line + "\n";
    }
    struct Cause {
        Outcome outcome;
        const char* text;
    };
    static constexpr Cause CAUSES[] = {
        {Outcome::NoPermission, "without permission"}, {Outcome::Busy, "busy"},
        {Outcome::NoAnswer, "silent"},                 {Outcome::OtherAnswer, "answering something else"},
        {Outcome::HungUp, "hung up"},                  {Outcome::Missing, "gone"},
        {Outcome::NotOpened, "not opened"},            {Outcome::Console, "not asked as a console"},
    };
    std::string causes;
    for (const Cause& cause : CAUSES) {
        if (const std::size_t n = countOf(reports, cause.outcome); n > 0) {
            causes += (causes.empty() ? "" : ", ") + std::to_string(n) + " " + cause.text;
        }
    }
    return "the interface answers on no port (" + causes + ")\n";
}

int exitStatusOf(const std::vector<PortReport>& reports) {
    return countOf(reports, Outcome::Answered) > 0 ? FOUND : NOT_FOUND;
}

std::string usageText(std::string_view program) {
    const std::string name(program);
    return "Usage: " + name + " [--list | PORT...]\n"
           "Finds the serial port that the measurement interface answers on.\n"
           "\n"
           "  (no argument)  list every serial port of this machine and ask each one\n"
           "                 that is free whether the interface answers\n"
           "  --list         only list the ports, opening none\n"
           "  PORT...        ask only these ports\n"
           "  --help         show this text\n"
           "  --version      show the version\n"
           "\n"
           "Exit status: 0 the interface answered, 1 it did not, 2 bad usage.\n";
}

}  // namespace vardel::find
