// A whole run in process: a command line and the device's answers go through
// runDriver, with the scripted device in place of the port and a sink that
// captures standard output and the error output.
//
// Input, lines separated by LF:
//   1. options, any of: '3' the program on Com3:, ',' the comma separator,
//      'c' standard output is a console, 'n' no device on the port,
//      'o' standard output can't be opened, 'f' handing bytes to it fails,
//      'w' the millisecond clock wraps around during the run;
//   2. the command line after the program name, split by the Windows rules;
//   3. and on: the device's answers, one per command written, CR included
//      as a byte; "@<ms>:" in front delays an answer.
//
// What must hold: exit status 0 or 1; the port opened once with the
// program's settings; at most two well-formed commands, only those the word
// needs; no more waiting than one time-out per reply read; standard output
// empty, one line of the word's form, or a failure report of the exact
// shape, and a report on the error output only when standard output failed.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/build_constants.hpp"
#include "cli/dispatcher.hpp"
#include "cli/process.hpp"
#include "text/command_line.hpp"
#include "tests/support/fake_port.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using vardel::escapedBytes;

enum class Form { Integer, Real, Text };

struct Word {
    std::string_view word;
    Form form;
    std::string_view commands;  // first letters of the device commands it may send, in order
    bool convertsReplies;       // may raise the integer conversion failure
    bool roundsX;
    std::optional<std::string_view> fixedLine;  // "title"/"detail" stand for the build's texts
};

constexpr std::string_view NONE = "";
constexpr std::string_view IDENTIFY = "R";
constexpr std::string_view ANALOG = "A";
constexpr std::string_view IDENTIFY_ANALOG = "RA";
constexpr std::string_view BIT_INPUT = "E";
constexpr std::string_view BIT_OUTPUT = "S";

// A word and its name word share a line. Each also comes with "std" in
// front.
const std::array<Word, 17> WORDS{{
    {"ea", Form::Integer, ANALOG, true, true, std::nullopt}, {"nea", Form::Text, IDENTIFY, true, true, std::nullopt},
    {"ead", Form::Real, IDENTIFY_ANALOG, true, true, std::nullopt}, {"nead", Form::Text, IDENTIFY, true, true, std::nullopt},
    {"sa", Form::Integer, NONE, false, true, "-777"}, {"nsa", Form::Text, NONE, false, true, ""},
    {"rsa", Form::Integer, NONE, false, true, "-777"},
    {"sad", Form::Real, NONE, false, true, "-777"}, {"nsad", Form::Text, NONE, false, true, ""},
    {"rsad", Form::Real, NONE, false, true, "-777"},
    {"eb", Form::Integer, BIT_INPUT, false, true, std::nullopt}, {"neb", Form::Text, NONE, false, true, std::nullopt},
    {"sb", Form::Integer, BIT_OUTPUT, false, true, std::nullopt}, {"nsb", Form::Text, NONE, false, true, std::nullopt},
    {"rsb", Form::Integer, NONE, false, true, std::nullopt},
    {"titre", Form::Text, NONE, false, false, "title"}, {"detail", Form::Text, NONE, false, false, "detail"},
}};
// Words that come only with "std" in front (written here without it).
const std::array<Word, 3> STD_ONLY_WORDS{{
    {"eas", Form::Real, IDENTIFY_ANALOG, true, true, std::nullopt},
    {"sas", Form::Real, NONE, false, true, "-777"}, {"rsas", Form::Real, NONE, false, true, "-777"},
}};

const Word* findWord(std::string_view word) {
    const bool twin = word.starts_with("std");
    if (twin) word.remove_prefix(3);
    for (const Word& entry : WORDS) {
        if (entry.word == word) return &entry;
    }
    for (const Word& entry : STD_ONLY_WORDS) {
        if (twin && entry.word == word) return &entry;
    }
    return nullptr;
}

struct Options {
    int port = 1;
    char separator = '.';
    bool console = false;
    bool noDevice = false;
    bool openFails = false;
    bool writesFail = false;
    bool clockWraps = false;
};

Options readOptions(std::string_view line) {
    Options options;
    for (char c : line) {
        switch (c) {
            case '3': options.port = 3; break;
            case ',': options.separator = ','; break;
            case 'c': options.console = true; break;
            case 'n': options.noDevice = true; break;
            case 'o': options.openFails = true; break;
            case 'f': options.writesFail = true; break;
            case 'w': options.clockWraps = true; break;
            default: break;
        }
    }
    return options;
}

vardel::fake::ScriptedReply readReply(std::string_view line) {
    if (line.size() >= 3 && line[0] == '@') {
        const auto colon = line.find(':');
        const std::string_view digits = line.substr(1, colon == std::string_view::npos ? 0 : colon - 1);
        if (!digits.empty() && digits.size() <= 6 && digits.find_first_not_of("0123456789") == std::string_view::npos) {
            return {static_cast<std::uint32_t>(std::stoul(std::string(digits))), std::string(line.substr(colon + 1))};
        }
    }
    return {0, std::string(line)};
}

std::vector<std::string_view> lines(std::string_view input) {
    std::vector<std::string_view> result;
    for (;;) {
        const auto end = input.find('\n');
        result.push_back(input.substr(0, end));
        if (end == std::string_view::npos) return result;
        input.remove_prefix(end + 1);
    }
}

bool isIntegerText(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    if (text.empty() || (text[0] == '0' && text.size() > 1)) return false;
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Digits, at most one separator, an optional exponent; never INF or NAN for
// a reading.
bool isRealText(std::string_view text, char separator) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    const auto exponent = text.find('E');
    std::string_view mantissa = text.substr(0, exponent);
    if (exponent != std::string_view::npos) {
        std::string_view power = text.substr(exponent + 1);
        if (!power.empty() && power[0] == '-') power.remove_prefix(1);
        if (!isIntegerText(power)) return false;
    }
    const auto point = mantissa.find(separator);
    const std::string_view whole = mantissa.substr(0, point);
    if (whole.empty() || whole.find_first_not_of("0123456789") != std::string_view::npos) return false;
    if (point == std::string_view::npos) return true;
    const std::string_view fraction = mantissa.substr(point + 1);
    return !fraction.empty() && fraction.find_first_not_of("0123456789") == std::string_view::npos &&
           fraction.back() != '0';
}

bool isWellFormedCommand(std::string_view text) {
    if (text == "ZRECO\r") return true;
    if (text.starts_with("ZEA ") && text.ends_with("\r")) return isIntegerText(text.substr(4, text.size() - 5));
    const bool bitWord = text.starts_with("ZEBIT ") || text.starts_with("ZSBIT ") || text.starts_with("ZRBIT ");
    return bitWord && text.size() == 8 && text[7] == '\r';
}

// The letter of a command in Word::commands.
char commandLetter(std::string_view command) {
    if (command.starts_with("ZRECO")) return 'R';
    if (command.starts_with("ZEA ")) return 'A';
    if (command.starts_with("ZEBIT")) return 'E';
    return 'S';
}

// What a failed check tells about the run, built only then.
using Context = std::function<std::string()>;

struct Captured {
    std::string out;
    std::string err;
    std::vector<std::size_t> handedOver;
    int opens = 0;
};

constexpr int OPEN_FAILURE_CODE = 103;
constexpr int WRITE_FAILURE_CODE = 101;

const std::string_view FAILURE_NAMES[] = {"EConvertError", "EOverflow", "EInvalidOp", "EInOutError"};

struct Report {
    std::string_view name;
    std::string message;  // after the lone line feed, possibly cut
    bool cut = false;
};

// The exact shape: "Exception <name> dans le module <program> à <8 hex>.",
// a lone LF, the message, the cut after 1,024 bytes, CR LF.
Report readReport(const std::string& text, std::string_view program, const Context& context) {
    FUZZ_CHECK(text.size() >= 2 && text.ends_with("\r\n"), context() + ": report without its line end");
    const std::string body = text.substr(0, text.size() - 2);
    FUZZ_CHECK(body.size() <= 1024, context() + ": report longer than 1,024 bytes");
    Report report;
    for (std::string_view name : FAILURE_NAMES) {
        if (body.starts_with("Exception " + std::string(name) + " dans le module ")) report.name = name;
    }
    FUZZ_CHECK(!report.name.empty(), context() + ": report of no known failure");
    const std::string start = "Exception " + std::string(report.name) + " dans le module " + std::string(program) + " \xE0 ";
    FUZZ_CHECK(body.starts_with(start), context() + ": report names another program");
    const std::string_view location = std::string_view(body).substr(start.size(), 8);
    FUZZ_CHECK(location.size() == 8 && location.find_first_not_of("0123456789ABCDEF") == std::string_view::npos,
               context() + ": location not eight hexadecimal digits");
    FUZZ_CHECK(body.compare(start.size() + 8, 2, ".\n") == 0, context() + ": first line of the report");
    report.message = body.substr(std::min(body.size(), start.size() + 10));
    report.cut = body.size() == 1024;
    FUZZ_CHECK(report.message.find('\r') == std::string::npos || report.name == "EConvertError",
               context() + ": carriage return in the message");
    return report;
}

// `full` as it reads after the cut of the whole report to 1,024 bytes.
bool matchesMessage(const Report& report, const std::string& full, std::size_t headerSize) {
    if (!report.cut) return report.message == full;
    return full.size() >= report.message.size() && full.compare(0, report.message.size(), report.message) == 0 &&
           headerSize + report.message.size() == 1024;
}

void checkReport(const Report& report, std::size_t headerSize, const std::vector<std::string>& arguments,
                 const Word* word, int outputCode, const Context& context) {
    const std::string realSuffix = "' n'est pas une valeur en virgule flottante correcte.";
    const std::string integerSuffix = "' n'est pas une valeur enti\xE8re correcte.";
    if (report.name == "EConvertError") {
        bool known = false;
        for (std::size_t i = 1; i < std::min<std::size_t>(arguments.size(), 3); ++i) {
            known = known || matchesMessage(report, "'" + arguments[i] + realSuffix, headerSize);
        }
        if (!known && word != nullptr && word->convertsReplies) {
            // A device text: it can't hold a carriage return.
            known = report.message.starts_with("'") && report.message.find('\r') == std::string::npos &&
                    (report.cut || report.message.ends_with(integerSuffix));
        }
        FUZZ_CHECK(known, context() + ": conversion report \"" + escapedBytes(report.message) + "\"");
    } else if (report.name == "EOverflow") {
        FUZZ_CHECK(matchesMessage(report, "D\xE9" "bordement en virgule flottante.", headerSize),
                   context() + ": overflow message");
    } else if (report.name == "EInvalidOp") {
        FUZZ_CHECK(word != nullptr && word->roundsX, context() + ": invalid operation for a word that rounds nothing");
        FUZZ_CHECK(matchesMessage(report, "Op\xE9ration en virgule flottante incorrecte.", headerSize),
                   context() + ": invalid operation message");
    } else {
        FUZZ_CHECK(outputCode != 0, context() + ": output failure with a working output");
        const std::string message = outputCode == 101 ? "Disque plein." : "Erreur E/S " + std::to_string(outputCode) + ".";
        FUZZ_CHECK(matchesMessage(report, message, headerSize), context() + ": output failure message");
    }
}

std::size_t headerSizeOf(const Report& report, std::string_view program) {
    return std::string_view("Exception  dans le module  \xE0 ").size() + report.name.size() + program.size() + 10;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> parts = lines(input);
    const Options options = readOptions(parts[0]);
    const std::string commandLine = parts.size() > 1 ? std::string(parts[1]) : std::string();
    std::vector<std::string> arguments = vardel::splitCommandLine("vardel " + commandLine);
    arguments.erase(arguments.begin());

    vardel::fake::FakeDevice device;
    device.missing = options.noDevice;
    for (std::size_t i = 2; i < parts.size(); ++i) device.replies.push_back(readReply(parts[i]));

    Captured captured;
    const vardel::BuildConstants build = vardel::buildConstantsFor(options.port);
    const std::string program = "vardel" + std::to_string(options.port);
    int status = -1;
    {
        vardel::DriverRecords records;
        records.separator = options.separator;
        records.out.sink.open = [&](bool& isConsole) {
            ++captured.opens;
            isConsole = options.console;
            return options.openFails ? OPEN_FAILURE_CODE : 0;
        };
        records.out.sink.write = [&](std::string_view bytes) {
            captured.handedOver.push_back(bytes.size());
            if (options.writesFail) return WRITE_FAILURE_CODE;
            captured.out += bytes;
            return 0;
        };
        records.out.sink.writeError = [&](std::string_view bytes) { captured.err += bytes; };
        records.out.sink.toAnsi = vardel::toAnsi;
        vardel::fake::attachDevice(records.link, device);
        vardel::fake::resetFakeClock(options.clockWraps ? 0xFFFFFFFFu - 700 : 5000);
        status = vardel::runDriver(records, build, arguments, program);
    }  // the records give the port back as they go
    const std::uint64_t waited = vardel::fake::fakeMillisecondsPassed();

    const Context context = [&] {
        std::string text = "options \"" + escapedBytes(parts[0]) + "\", arguments";
        for (const std::string& argument : arguments) text += " \"" + escapedBytes(argument) + "\"";
        return text + ", status " + std::to_string(status) + ", output \"" + escapedBytes(captured.out) +
               "\", error output \"" + escapedBytes(captured.err) + "\"";
    };

    // Running a single input with VARDEL_FUZZ_SHOW set shows what happened.
    static const bool show = std::getenv("VARDEL_FUZZ_SHOW") != nullptr;
    if (show) {
        std::string commands;
        for (const std::string& command : device.written) commands += " \"" + escapedBytes(command) + "\"";
        std::fprintf(stderr, "%s, commands%s, %llu ms\n", context().c_str(), commands.c_str(),
                     static_cast<unsigned long long>(waited));
    }
    FUZZ_CHECK(status == 0 || status == 1, context() + ": exit status");
    FUZZ_CHECK(device.opens == 1 && device.portName == build.portName && device.lineSettings == build.lineSettings,
               context() + ": port not opened once with the program's settings");
    FUZZ_CHECK(device.releases == (options.noDevice ? 0 : 1), context() + ": port not given back once");
    FUZZ_CHECK(captured.opens <= 1, context() + ": standard output opened twice");
    for (std::size_t chunk : captured.handedOver) FUZZ_CHECK(chunk <= 128, context() + ": more than the buffer handed over");

    const Word* word = findWord(arguments.empty() ? std::string_view() : std::string_view(arguments[0]));
    std::string sent;
    std::uint64_t replyReads = 0;
    for (const std::string& command : device.written) {
        FUZZ_CHECK(isWellFormedCommand(command), context() + ": command \"" + escapedBytes(command) + "\"");
        const char letter = commandLetter(command);
        sent += letter;
        if (letter != 'S') ++replyReads;
    }
    FUZZ_CHECK(!options.noDevice || device.written.empty(), context() + ": commands written without a port");
    const std::string_view allowed = word != nullptr ? word->commands : NONE;
    FUZZ_CHECK(allowed.starts_with(sent), context() + ": commands " + sent + " for this word");
    // Without a port, each reply read still waits out its time-out.
    const auto readingCommands = static_cast<std::uint64_t>(std::count_if(allowed.begin(), allowed.end(), [](char c) { return c != 'S'; }));
    const std::uint64_t readsAllowed = options.noDevice ? readingCommands : replyReads;
    FUZZ_CHECK(waited <= readsAllowed * (vardel::REPLY_TIMEOUT_MS + 1),
               context() + ": waited " + std::to_string(waited) + " ms");

    const bool outputFails = options.openFails || options.writesFail;
    const int outputCode = options.openFails ? OPEN_FAILURE_CODE : options.writesFail ? WRITE_FAILURE_CODE : 0;
    if (outputFails) {
        FUZZ_CHECK(captured.out.empty(), context() + ": bytes reached a failing output");
        if (status == 0) {
            FUZZ_CHECK(word == nullptr && captured.err.empty(), context() + ": a line was lost without a report");
        } else {
            const Report report = readReport(captured.err, program, context);
            checkReport(report, headerSizeOf(report, program), arguments, word, outputCode, context);
        }
        return 0;
    }
    FUZZ_CHECK(captured.err.empty(), context() + ": error output used while standard output works");
    if (status == 1) {
        const Report report = readReport(captured.out, program, context);
        FUZZ_CHECK(report.name != "EInOutError", context() + ": output failure with a working output");
        checkReport(report, headerSizeOf(report, program), arguments, word, 0, context);
        return 0;
    }
    if (word == nullptr) {
        FUZZ_CHECK(captured.out.empty(), context() + ": output for a word not in the table");
        return 0;
    }
    FUZZ_CHECK(captured.out.ends_with("\r\n"), context() + ": no line end");
    const std::string line = captured.out.substr(0, captured.out.size() - 2);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, context() + ": more than one line");
    if (word->fixedLine) {
        const std::string_view fixed = *word->fixedLine == "title" ? build.title : *word->fixedLine == "detail" ? build.detail : *word->fixedLine;
        FUZZ_CHECK(line == fixed, context() + ": not the word's fixed answer");
    } else if (word->form == Form::Integer) {
        FUZZ_CHECK(isIntegerText(line), context() + ": not an integer");
    } else if (word->form == Form::Real) {
        FUZZ_CHECK(isRealText(line, options.separator), context() + ": not a real");
    }
    return 0;
}
