// The Windows listing of serial ports, from made-up answers of
// QueryDosDevice and the registry's SERIALCOMM.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "find/port_list_windows.hpp"

using namespace vardel::find;

namespace {

using namespace std::string_literals;

struct Shown {
    std::string device;
    std::string openName;
    std::string driver;
    std::string hardware;
};

std::vector<Shown> shown(const std::vector<PortEntry>& entries) {
    std::vector<Shown> result;
    for (const PortEntry& entry : entries) {
        EXPECT_TRUE(entry.stableName.empty());
        EXPECT_TRUE(entry.otherNames.empty());
        EXPECT_FALSE(entry.console);
        result.push_back(Shown{entry.device, entry.openName, entry.driver, entry.hardware});
    }
    return result;
}

bool operator==(const Shown& a, const Shown& b) {
    return a.device == b.device && a.openName == b.openName && a.driver == b.driver && a.hardware == b.hardware;
}

void PrintTo(const Shown& s, std::ostream* out) {
    *out << "{" << s.device << ", " << s.openName << ", " << s.driver << ", " << s.hardware << "}";
}

}  // namespace

TEST(WindowsPortList, TheNamesOfQueryDosDevicesList) {
    struct Case {
        std::string bytes;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"COM1\0COM2\0\0"s, {"COM1", "COM2"}},
        {"\\Device\\Serial0\0\0"s, {"\\Device\\Serial0"}},
        {"C:\0"s, {"C:"}},
        {"COM1\0COM2"s, {"COM1", "COM2"}},  // the last without its NUL
        {"\0COM1\0\0"s, {}},                // an empty string ends the list
        {""s, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(multiStringNames(c.bytes), c.names);
    }
}

TEST(WindowsPortList, ComPortsInNumberOrderOncePerNumberWithTheRegistrysDevice) {
    const std::vector<DosDevice> dos = {
        {"C:", "\\Device\\HarddiskVolume1"}, {"COM12", "\\Device\\VCP0"}, {"LPT1", "\\Device\\Parallel0"},
        {"COM2", "\\Device\\Serial1"},       {"AUX", "\\DosDevices\\COM1"}, {"COM1", "\\Device\\Serial0"},
        {"COM1", "\\Device\\Serial0"},       {"COM0", "\\Device\\Null"},   {"CONIN$", ""},
        {"COM256", "\\Device\\Serial9"},     {"COM7:", "\\Device\\X"},     {"com3", ""},
    };
    const std::vector<SerialCommValue> registry = {
        {"\\Device\\VCP0", "COM12"},       {"\\Device\\USBSER000", "COM7"}, {"\\Device\\Serial0", "COM1"},
        {"\\Device\\Parallel0", "LPT1"},   {"\\Device\\Odd", "COM1 "},      {"\\Device\\Silabser0", "COM2"},
    };
    EXPECT_EQ(shown(windowsPortsFrom(dos, registry)),
              (std::vector<Shown>{
                  {"COM1", "COM1", "\\Device\\Serial0", "UART"},
                  // The registry's device before the DOS device's target.
                  {"COM2", "COM2", "\\Device\\Silabser0", "USB, Silicon Labs CP210x driver"},
                  {"COM3", "COM3", "", ""},
                  // In the registry only.
                  {"COM7", "COM7", "\\Device\\USBSER000", "USB, usbser driver"},
                  // Above 9: opened through "\\.\".
                  {"COM12", "\\\\.\\COM12", "\\Device\\VCP0", "USB, FTDI driver"},
              }));
    EXPECT_TRUE(windowsPortsFrom({}, {}).empty());
}

TEST(WindowsPortList, TheHardwareThatADeviceNameTells) {
    EXPECT_EQ(hardwareOfDevice("\\Device\\Serial3"), "UART");
    EXPECT_EQ(hardwareOfDevice("\\device\\vcp2"), "USB, FTDI driver");
    EXPECT_EQ(hardwareOfDevice("\\Device\\ProlificSerial0"), "USB, Prolific driver");
    EXPECT_EQ(hardwareOfDevice("\\Device\\BthModem0"), "");
    EXPECT_EQ(hardwareOfDevice(""), "");
}
