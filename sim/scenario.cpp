#include "sim/scenario.hpp"

#include <charconv>

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

template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

std::optional<int> hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
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
    ReplyRule rule{keyword.command, std::nullopt, std::nullopt};
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
    if (what == "ident" || what == "all") scenario.rules.push_back({Command::Ident, std::nullopt, std::nullopt});
    if (what == "analog" || what == "all") scenario.rules.push_back({Command::Analog, std::nullopt, std::nullopt});
    if (what == "binary" || what == "all") scenario.rules.push_back({Command::Binary, std::nullopt, std::nullopt});
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

std::optional<ReplyRule> commandOf(std::string_view command) {
    if (command == "ZRECO") return ReplyRule{Command::Ident, std::nullopt, std::nullopt};
    if (command.substr(0, 4) == "ZEA ") return ReplyRule{Command::Analog, std::string(command.substr(4)), std::nullopt};
    if (command.substr(0, 6) == "ZEBIT " && command.size() == 7) {
        return ReplyRule{Command::Binary, std::string(command.substr(6)), std::nullopt};
    }
    return std::nullopt;
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
        if (text[i] != 'x' || i + 2 >= text.size() || !hexDigit(text[i + 1]) || !hexDigit(text[i + 2])) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(*hexDigit(text[i + 1]) * 16 + *hexDigit(text[i + 2])));
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

std::optional<std::string> builtinScenario(std::string_view name) {
    if (name == "demo") return std::string(DEMO);
    if (name == "silent") return std::string(SILENT);
    if (name == "slow") return std::string(DEMO) + SLOW_ADDITIONS;
    return std::nullopt;
}

std::optional<std::string> replyTo(const Scenario& scenario, std::string_view command) {
    const auto received = commandOf(command);
    if (!received) return std::nullopt;
    for (auto rule = scenario.rules.rbegin(); rule != scenario.rules.rend(); ++rule) {
        if (rule->command != received->command) continue;
        if (rule->key && rule->key != received->key) continue;
        if (!rule->reply) return std::nullopt;
        return *rule->reply + scenario.suffix;
    }
    return std::nullopt;
}

}  // namespace vardel::sim
