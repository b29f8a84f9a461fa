// Serial ports from sysfs: each tty's driver, its UART or its USB device.

#include "find/port_list_linux.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vardel::find {

namespace {

namespace fs = std::filesystem;

constexpr const char* PORT_PREFIXES[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"};

// The first line of a small sysfs file, without its line end; empty when
// it can't be read.
std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::string();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// "ttyUSB12": the prefix it starts with and its number; false for other names.
bool splitName(const std::string& name, std::string& prefix, unsigned long& number) {
    for (const char* candidate : PORT_PREFIXES) {
        const std::string p(candidate);
        if (name.size() <= p.size() || name.compare(0, p.size(), p) != 0) continue;
        const std::string digits = name.substr(p.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
            digits.size() > 6) {
            return false;
        }
        prefix = p;
        number = std::stoul(digits);
        return true;
    }
    return false;
}

bool comesBefore(const std::string& a, const std::string& b) {
    std::string prefixA, prefixB;
    unsigned long numberA = 0, numberB = 0;
    splitName(a, prefixA, numberA);
    splitName(b, prefixB, numberB);
    if (prefixA != prefixB) return prefixA < prefixB;
    return numberA < numberB;
}

std::string linkName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// The USB device above a tty's device: the first folder up that has an idVendor.
std::string usbDescription(const fs::path& device) {
    std::error_code error;
    fs::path at = fs::canonical(device, error);
    if (error) return std::string();
    for (int depth = 0; depth < 8 && at.has_relative_path(); ++depth, at = at.parent_path()) {
        const std::string vendor = firstLine(at / "idVendor");
        if (vendor.empty()) continue;
        std::string text = "USB " + vendor + ":" + firstLine(at / "idProduct");
        for (const char* field : {"manufacturer", "product"}) {
            const std::string value = firstLine(at / field);
            if (!value.empty()) text += " " + value;
        }
        return text;
    }
    return std::string();
}

// The driver of a tty's device; above the serial core's own port and
// controller devices (Linux 6.2 on), the driver of the hardware.
std::string driverOf(const fs::path& device) {
    std::error_code error;
    fs::path at = fs::canonical(device, error);
    if (error) return std::string();
    for (int depth = 0; depth < 4 && at.has_relative_path(); ++depth, at = at.parent_path()) {
        const std::string name = linkName(at / "driver");
        if (!name.empty() && name != "port" && name != "ctrl") return name;
    }
    return std::string();
}

std::vector<std::string> activeConsoles(const fs::path& classTty) {
    std::vector<std::string> names;
    std::ifstream in(classTty / "console" / "active");
    for (std::string name; in >> name;) names.push_back(name);
    return names;
}

// A link to a listed port is another name of it, not a port of its own:
// the first one found is the name to use (by-id before serial0).
void foldLink(const fs::path& link, std::vector<PortEntry>& ports) {
    std::error_code error;
    if (!fs::is_symlink(link, error)) return;
    const fs::path target = fs::canonical(link, error);
    if (error) return;
    for (PortEntry& port : ports) {
        if (fs::path(port.device).filename() != target.filename()) continue;
        if (port.stableName.empty()) {
            port.stableName = link.string();
        } else {
            port.otherNames.push_back(link.string());
        }
    }
}

}  // namespace

std::string uartTypeName(int type) {
    static constexpr const char* NAMES[] = {"", "8250", "16450", "16550", "16550A", "Cirrus", "16650", "16650V2",
                                            "16750", "Startech", "16C950", "16654", "16850", "RSA"};
    if (type <= 0) return std::string();
    if (type < static_cast<int>(std::size(NAMES))) return NAMES[type];
    return "type " + std::to_string(type);
}

std::vector<PortEntry> listPortsUnder(const std::string& sysRoot, const std::string& devRoot) {
    const fs::path classTty = fs::path(sysRoot) / "class" / "tty";
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(classTty, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::string prefix;
        unsigned long number = 0;
        if (splitName(name, prefix, number)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), comesBefore);
    const std::vector<std::string> consoles = activeConsoles(classTty);
    std::vector<PortEntry> ports;
    for (const std::string& name : names) {
        const fs::path entry = classTty / name;
        PortEntry port;
        port.device = (fs::path(devRoot) / name).string();
        port.openName = port.device;
        port.driver = driverOf(entry / "device");
        if (name.rfind("ttyS", 0) == 0) {
            // A ttyS node without a UART behind it opens, but nothing answers there.
            const std::string type = firstLine(entry / "type");
            const std::string uart = type.empty() ? std::string() : uartTypeName(std::atoi(type.c_str()));
            if (uart.empty()) continue;
            port.hardware = "UART " + uart;
        } else {
            port.hardware = usbDescription(entry / "device");
        }
        port.console = std::find(consoles.begin(), consoles.end(), name) != consoles.end();
        ports.push_back(port);
    }
    std::vector<fs::path> links;
    for (fs::directory_iterator it(fs::path(devRoot) / "serial" / "by-id", error), end; !error && it != end;
         it.increment(error)) {
        links.push_back(it->path());
    }
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) foldLink(link, ports);
    for (const char* alias : {"serial0", "serial1"}) foldLink(fs::path(devRoot) / alias, ports);
    return ports;
}

std::vector<PortEntry> listSystemPorts() { return listPortsUnder("/sys", "/dev"); }

}  // namespace vardel::find
