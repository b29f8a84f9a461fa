// The Linux listing of serial ports over made-up sysfs and /dev trees.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "find/port_list_linux.hpp"
#include "tests/support/process_runner.hpp"

using namespace vardel::find;

namespace {

namespace fs = std::filesystem;

// A made-up machine: devices under sys/devices, their ttys linked from
// sys/class/tty as the kernel does, the nodes and links of dev/.
struct FakeMachine {
    vardel::test::TempDirectory folder{"vardel-find-tree"};
    fs::path sys = fs::path(folder.path) / "sys";
    fs::path dev = fs::path(folder.path) / "dev";

    FakeMachine() {
        fs::create_directories(sys / "class" / "tty");
        fs::create_directories(sys / "bus");
        fs::create_directories(dev / "serial" / "by-id");
    }

    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

    void driver(const fs::path& device, const std::string& name) {
        const fs::path driverFolder = sys / "bus" / "drivers" / name;
        fs::create_directories(driverFolder);
        fs::create_directories(device);
        if (!fs::is_symlink(device / "driver")) fs::create_symlink(driverFolder, device / "driver");
    }

    // A tty whose device is `device` (none: a virtual tty); its node in dev/.
    fs::path tty(const std::string& name, const fs::path& device) {
        const fs::path own = (device.empty() ? sys / "devices" / "virtual" : device) / "tty" / name;
        fs::create_directories(own);
        if (!device.empty()) fs::create_symlink(device, own / "device");
        fs::create_symlink(own, sys / "class" / "tty" / name);
        write(dev / name, "");
        return own;
    }

    void uart(const std::string& name, int type, const std::string& driverName) {
        const fs::path device = sys / "devices" / "platform" / driverName / ("port-" + name);
        driver(device, "port");
        driver(device.parent_path(), driverName);
        write(tty(name, device) / "type", std::to_string(type) + "\n");
    }

    void usb(const std::string& name, const std::string& vid, const std::string& pid, const std::string& maker,
             const std::string& product, const std::string& driverName) {
        const fs::path usbDevice = sys / "devices" / "pci0000:00" / "usb1" / ("1-" + name);
        write(usbDevice / "idVendor", vid + "\n");
        write(usbDevice / "idProduct", pid + "\n");
        if (!maker.empty()) write(usbDevice / "manufacturer", maker + "\n");
        write(usbDevice / "product", product + "\n");
        const fs::path port = usbDevice / ("1-" + name + ":1.0") / name;
        driver(port, driverName);
        tty(name, port);
    }

    void link(const fs::path& at, const std::string& target) {
        fs::create_directories(at.parent_path());
        fs::create_symlink(target, at);
    }

    std::vector<PortEntry> list() const { return listPortsUnder(sys.string(), dev.string()); }
};

}  // namespace

TEST(LinuxPortList, UartsPresentUsbAdaptersAndNoVirtualTerminals) {
    FakeMachine machine;
    machine.uart("ttyS0", 4, "serial8250");
    machine.uart("ttyS1", 4, "serial8250");
    machine.uart("ttyS2", 4, "serial8250");
    machine.uart("ttyS3", 0, "serial8250");  // a node without a UART
    machine.uart("ttyS10", 1, "serial8250");
    machine.usb("ttyUSB0", "0403", "6001", "FTDI", "FT232R USB UART", "ftdi_sio");
    machine.usb("ttyACM0", "2341", "0043", "", "Arduino Uno", "cdc_acm");
    machine.tty("tty0", {});
    machine.tty("ttyprintk", {});
    machine.tty("console", {});
    FakeMachine::write(machine.sys / "class" / "tty" / "console" / "active", "tty0 ttyS1\n");
    machine.link(machine.dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1-if00-port0", "../../ttyUSB0");
    machine.link(machine.dev / "serial0", "ttyS0");

    const std::vector<PortEntry> ports = machine.list();
    std::vector<std::string> devices;
    for (const PortEntry& port : ports) devices.push_back(fs::path(port.device).filename().string());
    EXPECT_EQ(devices, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0"}));
    ASSERT_EQ(ports.size(), 6u);

    const PortEntry& acm = ports[0];
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.hardware, "USB 2341:0043 Arduino Uno");
    const PortEntry& s0 = ports[1];
    EXPECT_EQ(s0.device, (machine.dev / "ttyS0").string());
    EXPECT_EQ(s0.openName, s0.device);
    EXPECT_EQ(s0.driver, "serial8250");
    EXPECT_EQ(s0.hardware, "UART 16550A");
    EXPECT_EQ(s0.stableName, (machine.dev / "serial0").string());
    EXPECT_FALSE(s0.console);
    EXPECT_TRUE(ports[2].console);
    EXPECT_EQ(ports[4].hardware, "UART 8250");
    const PortEntry& usb = ports[5];
    EXPECT_EQ(usb.driver, "ftdi_sio");
    EXPECT_EQ(usb.hardware, "USB 0403:6001 FTDI FT232R USB UART");
    EXPECT_EQ(usb.stableName, (machine.dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1-if00-port0").string());
    EXPECT_TRUE(usb.otherNames.empty());
}

TEST(LinuxPortList, AMachineWithoutPortsOrSysfs) {
    FakeMachine machine;
    EXPECT_TRUE(machine.list().empty());
    EXPECT_TRUE(listPortsUnder(machine.folder.path + "/nothing", machine.folder.path + "/nothing").empty());
}

TEST(LinuxPortList, LinksToNoListedPortAreLeftOut) {
    FakeMachine machine;
    machine.usb("ttyUSB1", "067b", "2303", "Prolific", "USB-Serial Controller", "pl2303");
    machine.link(machine.dev / "serial" / "by-id" / "usb-gone", "../../ttyUSB7");
    machine.link(machine.dev / "serial" / "by-id" / "usb-Prolific-port0", "../../ttyUSB1");
    machine.link(machine.dev / "serial1", "ttyUSB1");
    const std::vector<PortEntry> ports = machine.list();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].stableName, (machine.dev / "serial" / "by-id" / "usb-Prolific-port0").string());
    EXPECT_EQ(ports[0].otherNames, (std::vector<std::string>{(machine.dev / "serial1").string()}));
}

TEST(LinuxPortList, UartTypeNames) {
    EXPECT_EQ(uartTypeName(0), "");
    EXPECT_EQ(uartTypeName(-1), "");
    EXPECT_EQ(uartTypeName(4), "16550A");
    EXPECT_EQ(uartTypeName(99), "type 99");
}
