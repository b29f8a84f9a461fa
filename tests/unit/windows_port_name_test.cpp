// Which device the Windows programs open for their port, and from where.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/windows_port_name.hpp"

using namespace vardel;

namespace {

struct NameCase {
    const char* text;
    std::optional<unsigned> number;
};

struct ChoiceCase {
    const char* portName;
    const char* value;  // nullptr: unset
    const char* device;
    const char* origin;
};

}  // namespace

TEST(WindowsPortName, TheThreeFormsOfAComPortAndNothingElse) {
    const NameCase cases[] = {
        {"COM7", 7u},         {"com7", 7u},         {"Com1:", 1u},        {"COM7:", 7u},
        {"\\\\.\\COM12", 12u}, {"\\\\.\\com3", 3u},  {"COM255", 255u},     {"COM10:", 10u},
        {"COM0", std::nullopt}, {"COM256", std::nullopt}, {"COM07", std::nullopt}, {"COM+7", std::nullopt},
        {"COM", std::nullopt},  {"COM:", std::nullopt},   {"COM7::", std::nullopt}, {"COM 7", std::nullopt},
        {"\\\\.\\COM12:", std::nullopt}, {"\\\\.\\", std::nullopt}, {"LPT1", std::nullopt}, {"foo", std::nullopt},
        {"", std::nullopt},     {"COM7x", std::nullopt},  {"COM99999999999", std::nullopt}, {"/dev/ttyS0", std::nullopt},
    };
    for (const NameCase& c : cases) EXPECT_EQ(windowsComNumber(c.text), c.number) << c.text;
}

TEST(WindowsPortName, AboveNineThroughTheDevicePrefix) {
    EXPECT_EQ(windowsDeviceName(1), "COM1");
    EXPECT_EQ(windowsDeviceName(9), "COM9");
    EXPECT_EQ(windowsDeviceName(10), "\\\\.\\COM10");
    EXPECT_EQ(windowsDeviceName(255), "\\\\.\\COM255");
}

TEST(WindowsPortName, OnlyTheProgramsOwnFormReadsAVariable) {
    EXPECT_EQ(windowsPortVariable("Com1:"), "VARDEL_COM1");
    EXPECT_EQ(windowsPortVariable("Com3:"), "VARDEL_COM3");
    EXPECT_EQ(windowsPortVariable("COM12:"), "VARDEL_COM12");
    // What vardel-find asks for is the port it means.
    EXPECT_EQ(windowsPortVariable("COM7"), "");
    EXPECT_EQ(windowsPortVariable("\\\\.\\COM7"), "");
    EXPECT_EQ(windowsPortVariable("foo:"), "");
    EXPECT_EQ(windowsPortVariable(""), "");
}

TEST(WindowsPortName, TheVariableChoosesThePortWhenSetAndNotEmpty) {
    const ChoiceCase cases[] = {
        {"Com1:", nullptr, "Com1:", "VARDEL_COM1 unset or empty"},
        {"Com1:", "", "Com1:", "VARDEL_COM1 unset or empty"},
        {"Com1:", "COM7", "COM7", "from VARDEL_COM1=COM7"},
        {"Com1:", "com7:", "COM7", "from VARDEL_COM1=com7:"},
        {"Com3:", "\\\\.\\COM12", "\\\\.\\COM12", "from VARDEL_COM3=\\\\.\\COM12"},
        {"Com3:", "COM12", "\\\\.\\COM12", "from VARDEL_COM3=COM12"},
        {"Com3:", "COM12:", "\\\\.\\COM12", "from VARDEL_COM3=COM12:"},
        // Any other value is opened as it is; the open then refuses what is
        // no communications port.
        {"Com1:", "foo", "foo", "from VARDEL_COM1=foo"},
        {"Com1:", "\\\\.\\CNCA0", "\\\\.\\CNCA0", "from VARDEL_COM1=\\\\.\\CNCA0"},
        {"\\\\.\\COM4", nullptr, "\\\\.\\COM4", "as named"},
    };
    for (const ChoiceCase& c : cases) {
        const std::string variable = windowsPortVariable(c.portName);
        const WindowsPortChoice choice = chooseWindowsPort(c.portName, variable, c.value);
        EXPECT_EQ(choice.deviceName, c.device) << c.portName << " " << (c.value ? c.value : "(unset)");
        EXPECT_EQ(choice.origin, c.origin) << c.portName << " " << (c.value ? c.value : "(unset)");
    }
}
