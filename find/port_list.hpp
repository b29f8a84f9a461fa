#pragma once
// The serial ports that the system knows of, as vardel-find lists them.

#include <string>
#include <vector>

namespace vardel::find {

struct PortEntry {
    std::string device;      // "/dev/ttyUSB0", "COM7": the name shown first
    std::string openName;    // what the port library opens: the path, or "COM7" / "\\.\COM12"
    std::string stableName;  // a name that stays: "/dev/serial/by-id/…" (empty: none)
    std::vector<std::string> otherNames;  // more names of the same port ("/dev/serial0")
    std::string driver;      // the kernel driver, or the Windows device ("\Device\Serial0")
    std::string hardware;    // "UART 16550A", "USB 0403:6001 FTDI FT232R USB UART" (empty: unknown)
    bool console = false;    // a system console: listed, never asked
};

// Every serial port of this machine, in the order of their names; a port
// reached by two names is one entry. Each platform's file defines it.
std::vector<PortEntry> listSystemPorts();

}  // namespace vardel::find
