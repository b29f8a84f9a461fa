#pragma once
// Which terminal a character device is, told from its device number alone,
// so that nothing but a serial port or a pseudo-terminal is ever opened.
// Linux lists its terminal drivers in /proc/tty/drivers: a name, the path of
// their devices, the major number, the minor range and the type.
//
//   serial               /dev/ttyS       4 64-95 serial
//   pty_slave            /dev/pts      136 0-1048575 pty:slave
//   /dev/tty             /dev/tty        5       0 system:/dev/tty

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

struct TerminalDriver {
    std::string name;
    std::string devicePath;
    std::uint32_t major = 0;
    std::uint32_t firstMinor = 0;
    std::uint32_t lastMinor = 0;
    std::string type;  // "serial", "pty:slave", "system:console", "console" ...
};

// The drivers of a /proc/tty/drivers text; lines that don't read as one are skipped.
std::vector<TerminalDriver> parseTerminalDrivers(std::string_view text);

// The driver whose numbers hold (major, minor); none when no terminal driver does.
std::optional<TerminalDriver> terminalDriverOf(const std::vector<TerminalDriver>& drivers, std::uint32_t major,
                                               std::uint32_t minor);

// UARTs, USB serial and ACM adapters and Bluetooth RFCOMM ("serial"), and the
// far ends of pseudo-terminals ("pty:slave"). Not /dev/tty, /dev/console,
// /dev/ptmx (opening it makes a new pseudo-terminal) or the virtual consoles.
bool isSerialTerminalType(std::string_view type);

// What the device-number check says of a character device.
struct DeviceVerdict {
    bool accepted = false;
    std::string reason;  // why not, for the trace
};

// The check against the system's list of drivers; none when that list can't
// be read (no /proc): then only the open can tell.
std::optional<DeviceVerdict> checkTerminalDevice(dev_t device);

// The same check against a given drivers text.
DeviceVerdict checkTerminalDevice(const std::vector<TerminalDriver>& drivers, dev_t device);

}  // namespace vardel
