#pragma once
// What the simulated device needs of the system: the port the driver opens,
// the control channel, the log, stop requests and sleeping until a deadline.
// Each platform's file defines these (device_port_posix.cpp,
// device_port_win32.cpp); the device's behaviour is in device_loop.cpp.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/device_loop.hpp"

namespace vardel::sim {

struct DevicePort;  // the platform's own state
struct DevicePortRelease {
    void operator()(DevicePort* port) const noexcept;
};
using DevicePortHandle = std::unique_ptr<DevicePort, DevicePortRelease>;

// Makes stop requests end the device's waits, opens the log and makes the
// control channel. None, with `error` set, when one of them fails.
DevicePortHandle prepareDevice(const DeviceOptions& options, std::string& error);

// Opens the port the driver talks to: at the start and on a reconnect.
// False with `error` set when it can't.
bool openDriverPort(DevicePort& port, std::string& error);

// Logs what the driver has sent and not yet been read, then closes its port,
// which the driver sees as a hang-up.
void closeDriverPort(DevicePort& port);

struct Wake {
    bool stop = false;     // a stop request came
    bool control = false;  // the control channel may hold bytes
    bool driver = false;   // the driver's port may hold bytes
};

// Sleeps until one of the three; the driver's port counts only when
// `driverPort` is true (it is closed after a hang-up). On POSIX it also
// clears, every 100 ms, an exclusive mode that a killed run left behind.
Wake waitForWake(DevicePort& port, bool driverPort);

// Reads what the driver has sent and logs it. The byte count, 0 when there
// was none, -1 when the port is in trouble.
std::ptrdiff_t readFromDriver(DevicePort& port, char* buffer, std::size_t size);

// Reads what the control channel holds, without waiting; 0 when nothing.
std::size_t readControl(DevicePort& port, char* buffer, std::size_t size);

enum class Written { All, NoRoom, Failed, Stopped };

// Writes to the driver; bytes that find no room by `deadline` are dropped.
Written writeToDriver(DevicePort& port, std::string_view bytes, std::int64_t deadline);

// Sleeps until `deadline` on the monotonic clock. False when a stop request came.
bool sleepUnlessStopped(DevicePort& port, std::int64_t deadline);

void writeLog(DevicePort& port, std::string_view bytes);

}  // namespace vardel::sim
