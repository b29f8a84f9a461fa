#pragma once
// The Windows listing of serial ports, made from what the system names: its
// DOS device names (QueryDosDevice) and the registry's pairs of device and
// port (HARDWARE\DEVICEMAP\SERIALCOMM). Portable text work, so that it is
// tested on every build machine; port_list_win32.cpp asks the system.

#include <string>
#include <string_view>
#include <vector>

#include "find/port_list.hpp"

namespace vardel::find {

// The strings of a list of NUL-ended strings that ends in an empty one
// (QueryDosDevice's answer); a last string without its NUL counts too.
std::vector<std::string> multiStringNames(std::string_view bytes);

// A DOS device name and the first device it leads to ("COM1",
// "\Device\Serial0"; the target may be empty).
struct DosDevice {
    std::string name;
    std::string target;
};

// One value of SERIALCOMM: the device ("\Device\VCP0") and its port ("COM7").
struct SerialCommValue {
    std::string device;
    std::string port;
};

// The COM ports among the DOS devices and the SERIALCOMM values, one entry
// per number, in the order of their numbers: "COM7" opened as "COM7",
// "COM12" as "\\.\COM12". The driver shown is SERIALCOMM's device where it
// names the port, else the DOS device's target.
std::vector<PortEntry> windowsPortsFrom(const std::vector<DosDevice>& dosDevices,
                                        const std::vector<SerialCommValue>& serialComm);

// What a device name of SERIALCOMM says of the hardware behind it ("USB,
// FTDI driver" for \Device\VCP0); empty when the name is not a known one.
std::string hardwareOfDevice(std::string_view device);

}  // namespace vardel::find
