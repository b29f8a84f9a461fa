// The device-number check that comes before the open of a port, against
// the terminal driver lists of a few kinds of machine.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <string>

#include "serial/terminal_devices.hpp"

using namespace vardel;

namespace {

// A PC with a UART, a USB serial adapter, an ACM modem and Bluetooth.
constexpr char DESKTOP[] =
    "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
    "/dev/console         /dev/console    5       1 system:console\n"
    "/dev/ptmx            /dev/ptmx       5       2 system\n"
    "/dev/vc/0            /dev/vc/0       4       0 system:vtmaster\n"
    "rfcomm               /dev/rfcomm   216 0-255 serial\n"
    "usbserial            /dev/ttyUSB   188 0-511 serial\n"
    "acm                  /dev/ttyACM   166 0-255 serial\n"
    "serial               /dev/ttyS       4 64-95 serial\n"
    "pty_slave            /dev/pts      136 0-1048575 pty:slave\n"
    "pty_master           /dev/ptm      128 0-1048575 pty:master\n"
    "unknown              /dev/tty        4 1-63 console\n";

// A container: one UART listed alone, no virtual consoles.
constexpr char CONTAINER[] =
    "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
    "/dev/console         /dev/console    5       1 system:console\n"
    "/dev/ptmx            /dev/ptmx       5       2 system\n"
    "serial               /dev/ttyS       4      64 serial\n"
    "pty_slave            /dev/pts      136 0-1048575 pty:slave\n";

// A Raspberry Pi: its PL011 UART and the mini UART, and a name with a blank.
constexpr char RASPBERRY_PI[] =
    "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
    "ttyAMA               /dev/ttyAMA   204 64-67 serial\n"
    "serial               /dev/ttyS       4 64-67 serial\n"
    "some driver          /dev/ttyX     240 0-3 serial\n"
    "pty_slave            /dev/pts      136 0-1048575 pty:slave\n";

bool accepted(const char* text, unsigned major, unsigned minor) {
    return checkTerminalDevice(parseTerminalDrivers(text), makedev(major, minor)).accepted;
}

}  // namespace

TEST(TerminalDrivers, EachLineGivesNamePathNumbersAndType) {
    const auto drivers = parseTerminalDrivers(RASPBERRY_PI);
    ASSERT_EQ(drivers.size(), 5U);
    EXPECT_EQ(drivers[0].name, "/dev/tty");
    EXPECT_EQ(drivers[0].type, "system:/dev/tty");
    EXPECT_EQ(drivers[0].firstMinor, 0U);
    EXPECT_EQ(drivers[0].lastMinor, 0U);
    EXPECT_EQ(drivers[1].name, "ttyAMA");
    EXPECT_EQ(drivers[1].devicePath, "/dev/ttyAMA");
    EXPECT_EQ(drivers[1].major, 204U);
    EXPECT_EQ(drivers[1].firstMinor, 64U);
    EXPECT_EQ(drivers[1].lastMinor, 67U);
    EXPECT_EQ(drivers[3].name, "some driver");
    EXPECT_EQ(drivers[3].major, 240U);
    EXPECT_EQ(drivers[4].lastMinor, 1048575U);
}

TEST(TerminalDrivers, LinesThatDontReadAsADriverAreSkipped) {
    const auto drivers = parseTerminalDrivers(
        "\n"
        "garbage\n"
        "x /dev/x 4 64-63 serial\n"       // a range that ends before it starts
        "x /dev/x four 64 serial\n"       // no major number
        "x /dev/x 4 64- serial\n"         // a range without its end
        "x /dev/x 99999999999 1 serial\n" // a major beyond 32 bits
        "serial /dev/ttyS 4 64-95 serial");  // the last line without its line feed
    ASSERT_EQ(drivers.size(), 1U);
    EXPECT_EQ(drivers[0].name, "serial");
    EXPECT_TRUE(parseTerminalDrivers("").empty());
}

TEST(TerminalDrivers, SerialPortsAndPseudoTerminalsAreAccepted) {
    struct Case {
        const char* text;
        unsigned major;
        unsigned minor;
    };
    for (const Case& c : {Case{DESKTOP, 4, 64}, Case{DESKTOP, 4, 95}, Case{DESKTOP, 188, 0}, Case{DESKTOP, 166, 3},
                          Case{DESKTOP, 216, 1}, Case{DESKTOP, 136, 7}, Case{CONTAINER, 4, 64},
                          Case{CONTAINER, 136, 1048575}, Case{RASPBERRY_PI, 204, 64}, Case{RASPBERRY_PI, 240, 2}}) {
        EXPECT_TRUE(accepted(c.text, c.major, c.minor)) << c.major << ":" << c.minor;
    }
}

TEST(TerminalDrivers, SystemTerminalsConsolesAndOtherDevicesAreRefused) {
    struct Case {
        const char* text;
        unsigned major;
        unsigned minor;
        const char* why;
    };
    const Case cases[] = {
        {DESKTOP, 5, 0, "terminal driver /dev/tty of type system:/dev/tty"},
        {DESKTOP, 5, 1, "type system:console"},
        {DESKTOP, 5, 2, "terminal driver /dev/ptmx of type system"},
        {DESKTOP, 4, 0, "type system:vtmaster"},
        {DESKTOP, 4, 1, "type console"},
        {DESKTOP, 4, 63, "type console"},
        {DESKTOP, 128, 0, "type pty:master"},
        {DESKTOP, 1, 3, "not a terminal (character device 1:3)"},   // /dev/null
        {DESKTOP, 1, 5, "not a terminal (character device 1:5)"},   // /dev/zero
        {DESKTOP, 1, 9, "not a terminal (character device 1:9)"},   // /dev/urandom
        {DESKTOP, 10, 130, "not a terminal"},                      // a watchdog
        {DESKTOP, 4, 96, "not a terminal"},                        // past the UARTs
        {CONTAINER, 4, 65, "not a terminal"},                      // the one UART is 64
        {RASPBERRY_PI, 204, 68, "not a terminal"},
    };
    for (const Case& c : cases) {
        const DeviceVerdict verdict = checkTerminalDevice(parseTerminalDrivers(c.text), makedev(c.major, c.minor));
        EXPECT_FALSE(verdict.accepted) << c.major << ":" << c.minor;
        EXPECT_NE(verdict.reason.find(c.why), std::string::npos) << verdict.reason;
    }
}

TEST(TerminalDrivers, OnlySerialAndPseudoTerminalSlaveTypes) {
    for (const char* type : {"serial", "pty:slave"}) EXPECT_TRUE(isSerialTerminalType(type)) << type;
    for (const char* type : {"system", "system:/dev/tty", "system:console", "system:vtmaster", "console", "pty:master",
                             "pty", "type:7", "", "Serial"}) {
        EXPECT_FALSE(isSerialTerminalType(type)) << type;
    }
}

// On this machine: a pseudo-terminal's far end passes, /dev/null doesn't;
// or, without /proc, the check leaves it to the open.
TEST(TerminalDrivers, ThisSystemsListTellsAPseudoTerminalFromDevNull) {
    struct stat null {};
    ASSERT_EQ(stat("/dev/null", &null), 0);
    const auto verdict = checkTerminalDevice(null.st_rdev);
    if (!verdict) GTEST_SKIP() << "no /proc/tty/drivers here: the open tells";
    EXPECT_FALSE(verdict->accepted);
    EXPECT_TRUE(checkTerminalDevice(makedev(136, 0))->accepted);
}
