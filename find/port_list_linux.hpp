#pragma once
// The Linux listing of serial ports, read from sysfs and /dev under given
// roots, so that a made-up tree can stand in for the machine's.

#include <string>
#include <vector>

#include "find/port_list.hpp"

namespace vardel::find {

// /dev/ttyS* whose UART is present, /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyAMA*,
// from `sysRoot`/class/tty; the names in `devRoot`/serial/by-id and
// `devRoot`/serial0 (serial1) folded onto the device they lead to; the
// consoles of `sysRoot`/class/tty/console/active marked. Paths shown are
// under `devRoot`.
std::vector<PortEntry> listPortsUnder(const std::string& sysRoot, const std::string& devRoot);

// The name of a UART type number as sysfs gives it ("4": 16550A); empty
// for 0, no UART.
std::string uartTypeName(int type);

}  // namespace vardel::find
