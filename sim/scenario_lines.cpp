#include "sim/scenario.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/numbers.hpp"
#include "sim/sensor_names.hpp"
#include "text/integer_text.hpp"
#include "text/windows1252.hpp"

namespace vardel::sim {
namespace {

constexpr char DEMO[] =
    "# Sensors on inputs 0..3: pH, liquid opacity, 0..15 V, thermometer 0..100 C\n"
    "ident 0,0,0,0,0,1,0,0,150,57,100,177,0,0,0,0,0,0,0,0,\n"
    "analog 0 512\n"
    "analog 1 300\n"
    "analog 2 612\n"
    "analog 3 716\n"
    "binary 0 0\n"
    "binary 1 1\n"
    "binary 2 0\n"
    "binary 3 1\n"
    "binary 4 1\n"
    "binary 5 0\n";

constexpr char SILENT[] = "silent all\n";

constexpr char SLOW_ADDITIONS[] =
    "delay 200\n"
    "baud 9600\n";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Splits off the first blank-separated word; `rest` keeps what follows it,
// leading blanks removed.
std::string_view firstWord(std::string_view text, std::string_view& rest) {
    std::size_t end = 0;
    while (end < text.size() && !isBlank(text[end])) ++end;
    rest = text.substr(end);
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    return text.substr(0, end);
}

std::optional<char> simpleEscape(char c) {
    switch (c) {
        case 'r': return '\r';
        case 'n': return '\n';
        case 't': return '\t';
        case '0': return '\0';
        case '\\': return '\\';
        case 's': return ' ';
        default: return std::nullopt;
    }
}

// The index byte of a "binary" line: "*", "char:X" or the number d of
// the byte 48 + d.
bool parseBinaryKey(std::string_view word, std::optional<std::string>& key) {
    if (word == "*") {
        key.reset();
        return true;
    }
    if (word.substr(0, 5) == "char:") {
        auto byte = decodeEscapes(word.substr(5));
        if (!byte || byte->size() != 1) return false;
        key = *byte;
        return true;
    }
    auto number = parseNumber<int>(word);
    if (!number || *number < -48 || *number > 255 - 48) return false;
    key = std::string(1, static_cast<char>(*number + 48));
    return true;
}

constexpr int INPUT_COUNT = 4;

std::string fileTypeText(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::not_found: return "it doesn't exist";
        case std::filesystem::file_type::directory: return "a directory";
        case std::filesystem::file_type::fifo: return "a FIFO";
        case std::filesystem::file_type::character: return "a character device";
        case std::filesystem::file_type::block: return "a block device";
        case std::filesystem::file_type::socket: return "a socket";
        default: return "it can't be looked at";
    }
}

std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) words.push_back(firstWord(text, text));
    return words;
}

bool isSignalWord(Command command, std::string_view word) {
    if (command == Command::Analog) {
        return word == "sine" || word == "triangle" || word == "square" || word == "noise" || word == "csv" ||
               word == "value";
    }
    return command == Command::Binary && (word == "toggle" || word == "csv");
}

std::optional<int> parseInput(std::string_view word) {
    const auto number = parseNumber<int>(word);
    if (!number || *number < 0 || *number >= INPUT_COUNT) return std::nullopt;
    return number;
}

// "csv FILE [step|linear] [loop|hold]" (no "linear" for binary inputs).
std::optional<Series> parseSeriesWords(const std::vector<std::string_view>& words, bool analog, std::string& error) {
    const std::string usage = analog ? "csv takes a file and optionally step|linear and loop|hold"
                                     : "csv takes a file and optionally loop|hold";
    if (words.size() < 2 || words.size() > 4) {
        error = usage;
        return std::nullopt;
    }
    Series series;
    for (std::size_t i = 2; i < words.size(); ++i) {
        if (analog && (words[i] == "step" || words[i] == "linear")) {
            series.linear = words[i] == "linear";
        } else if (words[i] == "loop" || words[i] == "hold") {
            series.loop = words[i] == "loop";
        } else {
            error = usage;
            return std::nullopt;
        }
    }
    const std::string path(words[1]);
    const auto text = readDataFile(path, error);
    if (!text) return std::nullopt;
    auto points = parseSeries(*text, error);
    if (!points) {
        error = path + ": " + error;
        return std::nullopt;
    }
    series.points = std::move(*points);
    return series;
}

// "sine|triangle|square LOW HIGH PERIOD_MS [PHASE_DEG]" (the phase for sine only).
std::optional<Wave> parseWaveWords(const std::vector<std::string_view>& words, std::string& error) {
    Wave wave;
    wave.shape = words[0] == "sine" ? Shape::Sine : words[0] == "triangle" ? Shape::Triangle : Shape::Square;
    const std::size_t most = wave.shape == Shape::Sine ? 5 : 4;
    const auto low = words.size() > 1 ? parseNumber<double>(words[1]) : std::nullopt;
    const auto high = words.size() > 2 ? parseNumber<double>(words[2]) : std::nullopt;
    // A period that isn't a number counts as 0, which is refused too.
    const std::uint32_t period = words.size() > 3 ? parseNumber<std::uint32_t>(words[3]).value_or(0) : 0;
    const auto phase = words.size() > 4 ? parseNumber<double>(words[4]) : std::optional<double>(0);
    if (words.size() < 4 || words.size() > most || !low || !high || period == 0 || !phase) {
        error = std::string(words[0]) + " takes LOW HIGH PERIOD_MS" + (most == 5 ? " [PHASE_DEG]" : "") +
                ", the period a whole number above 0";
        return std::nullopt;
    }
    wave.low = *low;
    wave.high = *high;
    wave.periodMs = period;
    wave.phaseDegrees = *phase;
    return wave;
}

// "noise SD [SEED]"; "noise 0" ends the noise.
bool applyNoiseWords(const std::optional<std::string>& key, const std::vector<std::string_view>& words,
                     Scenario& scenario, std::string& error) {
    const auto deviation = words.size() > 1 ? parseNumber<double>(words[1]) : std::nullopt;
    const auto seed = words.size() > 2 ? parseNumber<std::uint64_t>(words[2]) : std::optional<std::uint64_t>(1);
    if (words.size() < 2 || words.size() > 3 || !deviation || *deviation < 0 || !seed) {
        error = "noise takes a standard deviation of 0 or more and optionally a whole-number seed";
        return false;
    }
    scenario.noise.push_back({key, Noise{*deviation, *seed}});
    return true;
}

// The signal forms of "analog N ..." and "binary D ...".
bool applySignalLine(Command command, ReplyRule rule, std::string_view word, std::string_view rest,
                     Scenario& scenario, std::string& error) {
    std::vector<std::string_view> words = wordsOf(rest);
    words.insert(words.begin(), word);
    if (word == "noise") return applyNoiseWords(rule.key, words, scenario, error);
    if (word == "csv") {
        auto series = parseSeriesWords(words, command == Command::Analog, error);
        if (!series) return false;
        rule.signal = std::move(*series);
    } else if (word == "toggle") {
        const auto period = words.size() == 2 ? parseNumber<std::uint32_t>(words[1]) : std::nullopt;
        if (!period || *period == 0) {
            error = "toggle takes PERIOD_MS, a whole number above 0";
            return false;
        }
        rule.signal = Wave{Shape::Square, 0, 1, *period, 0};
    } else if (word == "value") {
        const auto input = rule.key ? parseInput(*rule.key) : std::nullopt;
        const auto reading = words.size() == 2 ? parseNumber<double>(words[1]) : std::nullopt;
        if (!input) {
            error = "value needs an input 0 to 3, whose sensor gives the scale";
            return false;
        }
        if (!reading) {
            error = "value takes one reading, e.g. 7.0";
            return false;
        }
        rule.signal = TargetReading{*input, *reading};
    } else {
        auto wave = parseWaveWords(words, error);
        if (!wave) return false;
        rule.signal = *wave;
    }
    scenario.rules.push_back(std::move(rule));
    return true;
}

// "sensor N NAME": input N's identification slots set to a code with that
// name. The changed identification goes right after the latest one that
// answers, so that a later "silent ident" still holds.
bool applySensorLine(std::string_view rest, Scenario& scenario, std::string& error) {
    std::string_view name;
    const auto input = parseInput(firstWord(rest, name));
    if (!input || name.empty()) {
        error = "sensor takes an input 0 to 3 and a sensor name";
        return false;
    }
    // A name typed in a Windows console comes in its code page: the accented
    // names' bytes are Windows-1252 there.
    auto slots = sensorForName(name, *input);
    if (!slots) slots = sensorForName(utf8FromWindows1252(name), *input);
    if (!slots) {
        error = "no sensor is named \"" + std::string(name) +
                "\" (names as the drivers print them, in UTF-8: \"pH\", \"thermom\xC3\xA8tre 0..100\xC2\xB0" "C\")";
        return false;
    }
    auto answering = std::find_if(scenario.rules.rbegin(), scenario.rules.rend(), [](const ReplyRule& rule) {
        return rule.command == Command::Ident && rule.reply;
    });
    const std::string base = answering == scenario.rules.rend() ? std::string() : *answering->reply;
    const auto position = answering == scenario.rules.rend() ? scenario.rules.begin() : answering.base();
    scenario.rules.insert(position, ReplyRule{Command::Ident, std::nullopt, replyWithSensor(base, *input, *slots), {}});
    return true;
}

// "at MS LINE": checked now on a copy, applied when due.
bool applyAtLine(std::string_view rest, Scenario& scenario, std::string& error) {
    std::string_view line;
    const auto milliseconds = parseNumber<std::uint32_t>(firstWord(rest, line));
    if (!milliseconds || line.empty()) {
        error = "at takes milliseconds and a scenario line";
        return false;
    }
    std::string_view innerRest;
    if (firstWord(line, innerRest) == "at") {
        error = "at lines don't nest";
        return false;
    }
    Scenario trial = scenario;
    trial.timed.clear();
    if (!applyScenarioLine(line, trial, error)) {
        error = "at " + std::to_string(*milliseconds) + ": " + error;
        return false;
    }
    const auto position = std::upper_bound(scenario.timed.begin(), scenario.timed.end(), *milliseconds,
                                           [](std::int64_t at, const TimedLine& timed) { return at < timed.atMs; });
    scenario.timed.insert(position, TimedLine{*milliseconds, std::string(line)});
    return true;
}

struct ReplyKeyword {
    std::string_view word;
    Command command;
    bool raw;
    bool keyed;
};

constexpr ReplyKeyword REPLY_KEYWORDS[] = {
    {"ident", Command::Ident, false, false},  {"ident-raw", Command::Ident, true, false},
    {"analog", Command::Analog, false, true}, {"analog-raw", Command::Analog, true, true},
    {"binary", Command::Binary, false, true}, {"binary-raw", Command::Binary, true, true},
};

bool applyReplyLine(const ReplyKeyword& keyword, std::string_view rest, Scenario& scenario, std::string& error) {
    ReplyRule rule{keyword.command, std::nullopt, std::nullopt, std::nullopt};
    if (keyword.keyed) {
        const std::string_view keyWord = firstWord(rest, rest);
        if (keyWord.empty()) {
            error = "missing number or *";
            return false;
        }
        if (keyword.command == Command::Binary) {
            if (!parseBinaryKey(keyWord, rule.key)) {
                error = "bad binary input \"" + std::string(keyWord) + "\"";
                return false;
            }
        } else if (keyWord != "*") {
            rule.key = std::string(keyWord);
        }
        if (!keyword.raw) {
            std::string_view signalRest;
            const std::string_view signalWord = firstWord(rest, signalRest);
            if (isSignalWord(keyword.command, signalWord)) {
                return applySignalLine(keyword.command, std::move(rule), signalWord, signalRest, scenario, error);
            }
        }
    }
    rule.reply = decodeEscapes(rest);
    if (!rule.reply) {
        error = "bad escape in \"" + std::string(rest) + "\"";
        return false;
    }
    if (!keyword.raw) rule.reply->push_back('\r');
    scenario.rules.push_back(std::move(rule));
    return true;
}

bool applySilentLine(std::string_view what, Scenario& scenario, std::string& error) {
    if (what == "ident" || what == "all") scenario.rules.push_back({Command::Ident, std::nullopt, std::nullopt, std::nullopt});
    if (what == "analog" || what == "all") scenario.rules.push_back({Command::Analog, std::nullopt, std::nullopt, std::nullopt});
    if (what == "binary" || what == "all") scenario.rules.push_back({Command::Binary, std::nullopt, std::nullopt, std::nullopt});
    if (what != "ident" && what != "analog" && what != "binary" && what != "all") {
        error = "silent takes ident, analog, binary or all";
        return false;
    }
    return true;
}

bool applyNumberLine(std::string_view keyword, std::string_view value, std::uint32_t& target, std::string& error) {
    auto number = parseNumber<std::uint32_t>(value);
    if (!number) {
        error = std::string(keyword) + " takes a whole number";
        return false;
    }
    target = *number;
    return true;
}

// "hangup BYTES [MS]"
bool applyHangupLine(std::string_view rest, Scenario& scenario, std::string& error) {
    std::string_view waitWord;
    const auto bytes = parseNumber<std::uint32_t>(firstWord(rest, waitWord));
    const auto wait = waitWord.empty() ? std::optional<std::uint32_t>(0) : parseNumber<std::uint32_t>(waitWord);
    if (!bytes || !wait) {
        error = "hangup takes a byte count and optionally milliseconds";
        return false;
    }
    scenario.hangup = Hangup{*bytes, *wait};
    return true;
}

// "flood MS TEXT"; "flood 0" ends the flood.
bool applyFloodLine(std::string_view rest, Scenario& scenario, std::string& error) {
    std::string_view textWord;
    const auto duration = parseNumber<std::uint32_t>(firstWord(rest, textWord));
    auto text = decodeEscapes(textWord);
    if (!duration || !text || (*duration > 0 && text->empty())) {
        error = "flood takes milliseconds and a text to repeat";
        return false;
    }
    scenario.floodMs = *duration;
    scenario.floodText = *duration > 0 ? *text : std::string();
    return true;
}

}  // namespace

std::optional<std::string> decodeEscapes(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        if (auto simple = simpleEscape(text[i])) {
            bytes.push_back(*simple);
            continue;
        }
        if (text[i] != 'x' || i + 2 >= text.size() || hexDigitValue(text[i + 1]) < 0 || hexDigitValue(text[i + 2]) < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
        i += 2;
    }
    return bytes;
}

bool applyScenarioLine(std::string_view line, Scenario& scenario, std::string& error) {
    line = trimmed(line);
    if (line.empty() || line.front() == '#') return true;
    std::string_view rest;
    const std::string_view keyword = firstWord(line, rest);
    for (const auto& reply : REPLY_KEYWORDS) {
        if (keyword == reply.word) return applyReplyLine(reply, rest, scenario, error);
    }
    if (keyword == "silent") return applySilentLine(rest, scenario, error);
    if (keyword == "delay") return applyNumberLine(keyword, rest, scenario.delayMs, error);
    if (keyword == "baud") return applyNumberLine(keyword, rest, scenario.baud, error);
    if (keyword == "hangup") return applyHangupLine(rest, scenario, error);
    if (keyword == "reconnect") {
        std::uint32_t milliseconds = 0;
        if (!applyNumberLine(keyword, rest, milliseconds, error)) return false;
        scenario.reconnectMs = milliseconds;
        return true;
    }
    if (keyword == "flood") return applyFloodLine(rest, scenario, error);
    if (keyword == "sensor") return applySensorLine(rest, scenario, error);
    if (keyword == "at") return applyAtLine(rest, scenario, error);
    if (keyword == "suffix") {
        auto suffix = decodeEscapes(rest);
        if (!suffix) {
            error = "bad escape in \"" + std::string(rest) + "\"";
            return false;
        }
        scenario.suffix = *suffix;
        return true;
    }
    error = "unknown keyword \"" + std::string(keyword) + "\"";
    return false;
}

bool applyScenarioText(std::string_view text, Scenario& scenario, std::string& error) {
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!applyScenarioLine(line, scenario, error)) {
            error = "line " + std::to_string(lineNumber) + ": " + error;
            return false;
        }
    }
    return true;
}

std::optional<std::string> readDataFile(const std::string& path, std::string& error) {
    // Only a regular file: a FIFO could keep the device waiting, a device
    // could give bytes without end.
    std::error_code status;
    const std::filesystem::file_type type = std::filesystem::status(path, status).type();
    if (type != std::filesystem::file_type::regular) {
        error = "\"" + path + "\" is no regular file that can be read (" + fileTypeText(type) + ")";
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "can't read \"" + path + "\"";
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    while (text.size() <= DATA_FILE_LIMIT && file.read(buffer, sizeof buffer).gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad()) {
        error = "can't read \"" + path + "\"";
        return std::nullopt;
    }
    if (text.size() > DATA_FILE_LIMIT) {
        error = "\"" + path + "\" is larger than 16 MiB";
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> builtinScenario(std::string_view name) {
    if (name == "demo") return std::string(DEMO);
    if (name == "silent") return std::string(SILENT);
    if (name == "slow") return std::string(DEMO) + SLOW_ADDITIONS;
    return std::nullopt;
}

}  // namespace vardel::sim
