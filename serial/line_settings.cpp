#include "serial/line_settings.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <optional>
#include <string>

namespace vardel {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::optional<std::uint32_t> parseUnsigned(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

bool applyBaud(std::string_view value, LineParameters& params) {
    auto baud = parseUnsigned(value);
    if (!baud || *baud == 0) return false;
    params.baud = *baud;
    return true;
}

template <typename Value>
struct Choice {
    std::string_view text;
    Value value;
};

// Sets `target` to the value named by `text`, if one of `choices` names it.
template <typename Value, std::size_t Count>
bool applyChoice(std::string_view text, const std::array<Choice<Value>, Count>& choices, Value& target) {
    for (const Choice<Value>& choice : choices) {
        if (choice.text == text) {
            target = choice.value;
            return true;
        }
    }
    return false;
}

constexpr std::array<Choice<Parity>, 5> PARITIES = {{
    {"n", Parity::None}, {"o", Parity::Odd}, {"e", Parity::Even}, {"m", Parity::Mark}, {"s", Parity::Space}}};

constexpr std::array<Choice<StopBits>, 3> STOP_BITS = {{
    {"1", StopBits::One}, {"1.5", StopBits::OnePointFive}, {"2", StopBits::Two}}};

bool applyParity(std::string_view value, LineParameters& params) { return applyChoice(value, PARITIES, params.parity); }

bool applyDataBits(std::string_view value, LineParameters& params) {
    auto bits = parseUnsigned(value);
    if (!bits || *bits < 5 || *bits > 8) return false;
    params.dataBits = *bits;
    return true;
}

bool applyStopBits(std::string_view value, LineParameters& params) {
    return applyChoice(value, STOP_BITS, params.stopBits);
}

// One "key=value" word, already in lower case.
bool applySetting(std::string_view word, LineParameters& params) {
    auto equals = word.find('=');
    if (equals == std::string_view::npos) return false;
    auto key = word.substr(0, equals);
    auto value = word.substr(equals + 1);
    if (key == "baud") return applyBaud(value, params);
    if (key == "parity") return applyParity(value, params);
    if (key == "data") return applyDataBits(value, params);
    if (key == "stop") return applyStopBits(value, params);
    return false;
}

}  // namespace

bool applyModeString(std::string_view mode, LineParameters& params) {
    const std::string text = lowerCase(mode);
    LineParameters result = params;
    bool anySetting = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (isBlank(text[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < text.size() && !isBlank(text[end])) ++end;
        if (!applySetting(std::string_view(text).substr(pos, end - pos), result)) return false;
        anySetting = true;
        pos = end;
    }
    if (!anySetting) return false;
    params = result;
    return true;
}

}  // namespace vardel
