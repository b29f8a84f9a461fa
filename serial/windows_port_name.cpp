#include "serial/windows_port_name.hpp"

#include <charconv>

namespace vardel {

namespace {

constexpr unsigned HIGHEST_COM_NUMBER = 255;
constexpr std::string_view DEVICE_PREFIX = "\\\\.\\";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

// The number of "COMn" with an optional ":"; none for anything else.
std::optional<unsigned> numberAfterCom(std::string_view name, bool colonAllowed) {
    if (!startsWithNoCase(name, "COM")) return std::nullopt;
    std::string_view digits = name.substr(3);
    if (colonAllowed && !digits.empty() && digits.back() == ':') digits.remove_suffix(1);
    if (digits.empty() || digits.front() < '1' || digits.front() > '9') return std::nullopt;
    unsigned number = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, number);
    if (error != std::errc{} || stop != end || number > HIGHEST_COM_NUMBER) return std::nullopt;
    return number;
}

}  // namespace

std::optional<unsigned> windowsComNumber(std::string_view name) {
    if (name.starts_with(DEVICE_PREFIX)) return numberAfterCom(name.substr(DEVICE_PREFIX.size()), false);
    return numberAfterCom(name, true);
}

std::string windowsDeviceName(unsigned number) {
    const std::string name = "COM" + std::to_string(number);
    return number <= 9 ? name : std::string(DEVICE_PREFIX) + name;
}

std::string windowsPortVariable(std::string_view portName) {
    // Only the programs' own form, with its colon: vardel-find's "COM7"
    // names the port it means, whatever the variables say.
    if (portName.empty() || portName.back() != ':' || portName.starts_with(DEVICE_PREFIX)) return std::string();
    const auto number = windowsComNumber(portName);
    return number ? "VARDEL_COM" + std::to_string(*number) : std::string();
}

WindowsPortChoice chooseWindowsPort(std::string_view portName, const std::string& variable, const char* value) {
    const std::string name(portName);
    if (variable.empty()) return {name, "as named"};
    if (value == nullptr || *value == '\0') return {name, variable + " unset or empty"};
    const std::string text(value);
    const auto number = windowsComNumber(text);
    return {number ? windowsDeviceName(*number) : text, "from " + variable + "=" + text};
}

}  // namespace vardel
