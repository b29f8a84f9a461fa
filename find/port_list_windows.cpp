#include "find/port_list_windows.hpp"

#include <map>
#include <optional>

#include "serial/windows_port_name.hpp"

namespace vardel::find {

namespace {

// Only the port's own name: "COM7", never "COM7:" or "\\.\COM7".
std::optional<unsigned> plainComNumber(std::string_view name) {
    if (name.empty() || name.back() == ':' || name.front() == '\\') return std::nullopt;
    return windowsComNumber(name);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(text[i]) != lower(prefix[i])) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> multiStringNames(std::string_view bytes) {
    std::vector<std::string> names;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\0');
        const std::string_view name = bytes.substr(0, end);
        if (name.empty()) break;
        names.emplace_back(name);
        if (end == std::string_view::npos) break;
        bytes.remove_prefix(end + 1);
    }
    return names;
}

std::vector<PortEntry> windowsPortsFrom(const std::vector<DosDevice>& dosDevices,
                                        const std::vector<SerialCommValue>& serialComm) {
    std::map<unsigned, PortEntry> ports;
    // The first device name given for a port is the one shown: the
    // registry's comes before the DOS device's target.
    const auto addPort = [&ports](std::string_view name, const std::string& deviceName) {
        const auto number = plainComNumber(name);
        if (!number) return;
        PortEntry& entry = ports[*number];
        entry.device = "COM" + std::to_string(*number);
        entry.openName = windowsDeviceName(*number);
        if (entry.driver.empty()) {
            entry.driver = deviceName;
            entry.hardware = hardwareOfDevice(deviceName);
        }
    };
    for (const SerialCommValue& value : serialComm) addPort(value.port, value.device);
    for (const DosDevice& device : dosDevices) addPort(device.name, device.target);
    std::vector<PortEntry> entries;
    for (auto& [number, entry] : ports) entries.push_back(std::move(entry));
    return entries;
}

std::string hardwareOfDevice(std::string_view device) {
    struct Known {
        std::string_view prefix;
        std::string_view hardware;
    };
    // The device names that the common drivers give their ports.
    static constexpr Known KNOWN[] = {
        {"\\Device\\Serial", "UART"},
        {"\\Device\\VCP", "USB, FTDI driver"},
        {"\\Device\\USBSER", "USB, usbser driver"},
        {"\\Device\\Silabser", "USB, Silicon Labs CP210x driver"},
        {"\\Device\\ProlificSerial", "USB, Prolific driver"},
    };
    for (const Known& known : KNOWN) {
        if (startsWith(device, known.prefix)) return std::string(known.hardware);
    }
    return std::string();
}

}  // namespace vardel::find
