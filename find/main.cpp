// vardel-find: lists the serial ports and asks them whether the
// measurement interface answers.

#include <memory>
#include <string>
#include <vector>

#include "cli/process.hpp"
#include "find/host.hpp"

#ifndef VARDEL_VERSION
#error "VARDEL_VERSION must name the project's version"
#endif

namespace {

using namespace vardel;
using namespace vardel::find;

constexpr const char* PROGRAM = "vardel-find";

int badUsage(const std::string& message) {
    writeError(std::string(PROGRAM) + ": " + message + "\n" + "Try '" + PROGRAM + " --help'.\n");
    return BAD_USAGE;
}

// The ports to ask: those named, or every port of the machine.
bool choosePorts(const Options& options, std::vector<PortEntry>& ports) {
    const std::vector<PortEntry> listed = listSystemPorts();
    if (options.ports.empty()) {
        ports = listed;
        return true;
    }
    bool allPorts = true;
    for (const std::string& argument : options.ports) {
        PortEntry entry;
        std::string error;
        if (namedPort(argument, listed, entry, error)) {
            ports.push_back(entry);
        } else {
            writeError(std::string(PROGRAM) + ": " + argument + ": " + error + "\n");
            allPorts = false;
        }
    }
    return allPorts;
}

}  // namespace

int main(int argc, char** argv) {
    prepareProcess();
    prepareOutput();
    const Options options = parseOptions(commandLineArguments(argc, argv));
    switch (options.mode) {
        case Options::Mode::Help: writeOut(usageText(PROGRAM)); return FOUND;
        case Options::Mode::Version: writeOut(std::string(PROGRAM) + " " VARDEL_VERSION "\n"); return FOUND;
        case Options::Mode::Bad: return badUsage(options.error);
        case Options::Mode::Ask:
        case Options::Mode::List: break;
    }
    const bool named = !options.ports.empty();
    std::vector<PortEntry> ports;
    if (!choosePorts(options, ports)) return BAD_USAGE;

    std::vector<PortReport> reports(ports.size());
    std::vector<std::unique_ptr<Question>> questions(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        PortReport& report = reports[i];
        report.entry = ports[i];
        if (report.entry.console) {
            report.outcome = Outcome::Console;
            continue;
        }
        const OpenFailure access = accessOf(report.entry);
        report.outcome = access.outcome;
        report.detail = access.reason;
    }
    const bool listOnly = options.mode == Options::Mode::List;
    if (!listOnly) {
        std::vector<Question*> opened;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            PortReport& report = reports[i];
            if (report.outcome != Outcome::Listed) continue;
            questions[i] = std::make_unique<Question>();
            Question& question = *questions[i];
            prepareQuestion(question, report.entry.openName, scratchFile());
            openPort(question.link);
            if (portIsOpen(question.link)) {
                opened.push_back(&question);
                continue;
            }
            const OpenFailure failure = classifyOpenFailure(readScratch(question.trace.stream));
            report.outcome = failure.outcome;
            report.detail = failure.reason;
        }
        // A named port that the port library won't take as a serial port is
        // a usage error: nothing is asked at all.
        bool refused = false;
        for (const PortReport& report : reports) {
            if (named && (report.outcome == Outcome::NotAPort || report.outcome == Outcome::Missing)) {
                writeError(std::string(PROGRAM) + ": " + report.entry.device + ": " + report.detail + "\n");
                refused = true;
            }
        }
        if (refused) return BAD_USAGE;
        askAll(opened);
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (!questions[i] || !portIsOpen(questions[i]->link)) continue;
            judgeReply(*questions[i], reports[i]);
            releasePort(questions[i]->link);
        }
    }
    const Presentation presentation = platformPresentation();
    std::string text;
    for (const PortReport& report : reports) text += reportLines(report, presentation);
    text += summaryLine(reports, listOnly);
    writeOut(text);
    if (listOnly) return reports.empty() ? NOT_FOUND : FOUND;
    return exitStatusOf(reports);
}
