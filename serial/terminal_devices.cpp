#include "serial/terminal_devices.hpp"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace vardel {
namespace {

constexpr char DRIVERS_PATH[] = "/proc/tty/drivers";
// A few dozen lines on any machine; a longer text is no list of drivers.
constexpr std::size_t DRIVERS_TEXT_LIMIT = 1 << 20;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    for (;;) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string_view::npos) return found;
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        found.push_back(line.substr(at, end - at));
        at = end;
    }
}

std::optional<std::uint32_t> number(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

// "64-95", or "64" for a driver of one device.
bool readMinorRange(std::string_view text, TerminalDriver& driver) {
    const std::size_t dash = text.find('-');
    const auto first = number(text.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : number(text.substr(dash + 1));
    if (!first || !last || *last < *first) return false;
    driver.firstMinor = *first;
    driver.lastMinor = *last;
    return true;
}

// The name may hold blanks; the four fields after it never do.
std::optional<TerminalDriver> readDriverLine(std::string_view line) {
    const std::vector<std::string_view> fields = words(line);
    if (fields.size() < 5) return std::nullopt;
    const std::size_t pathAt = fields.size() - 4;
    TerminalDriver driver;
    const auto major = number(fields[pathAt + 1]);
    if (!major || !readMinorRange(fields[pathAt + 2], driver)) return std::nullopt;
    driver.major = *major;
    const char* nameEnd = fields[pathAt - 1].data() + fields[pathAt - 1].size();
    driver.name.assign(fields[0].data(), nameEnd);
    driver.devicePath = fields[pathAt];
    driver.type = fields[pathAt + 3];
    return driver;
}

std::optional<std::string> readDriversText() {
    const int fd = open(DRIVERS_PATH, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0 || text.size() + static_cast<std::size_t>(count) > DRIVERS_TEXT_LIMIT) {
            close(fd);
            if (count != 0) return std::nullopt;
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

std::string deviceNumberText(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

}  // namespace

std::vector<TerminalDriver> parseTerminalDrivers(std::string_view text) {
    std::vector<TerminalDriver> drivers;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (auto driver = readDriverLine(text.substr(0, end))) drivers.push_back(std::move(*driver));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return drivers;
}

std::optional<TerminalDriver> terminalDriverOf(const std::vector<TerminalDriver>& drivers, std::uint32_t major,
                                               std::uint32_t minor) {
    for (const TerminalDriver& driver : drivers) {
        if (driver.major == major && minor >= driver.firstMinor && minor <= driver.lastMinor) return driver;
    }
    return std::nullopt;
}

bool isSerialTerminalType(std::string_view type) { return type == "serial" || type == "pty:slave"; }

DeviceVerdict checkTerminalDevice(const std::vector<TerminalDriver>& drivers, dev_t device) {
    const auto driver = terminalDriverOf(drivers, major(device), minor(device));
    if (!driver) return {false, "not a terminal (character device " + deviceNumberText(device) + ")"};
    if (isSerialTerminalType(driver->type)) return {true, ""};
    return {false, "not a serial port (character device " + deviceNumberText(device) + ", terminal driver " +
                       driver->name + " of type " + driver->type + ")"};
}

std::optional<DeviceVerdict> checkTerminalDevice(dev_t device) {
    const auto text = readDriversText();
    if (!text) return std::nullopt;
    const std::vector<TerminalDriver> drivers = parseTerminalDrivers(*text);
    // A list without a single driver is no list of this system's terminals.
    if (drivers.empty()) return std::nullopt;
    return checkTerminalDevice(drivers, device);
}

}  // namespace vardel
