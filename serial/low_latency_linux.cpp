// Low latency through the serial flags of a Linux terminal (TIOCGSERIAL,
// TIOCSSERIAL). ASYNC_LOW_LATENCY is one of the flags that a user without
// privileges may change on a port he has opened; ftdi_sio then sets the
// adapter's latency timer to 1 ms, and back to its own value without it.

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "serial/low_latency.hpp"

namespace vardel {

namespace {

constexpr int LOW_LATENCY_FLAG = static_cast<int>(ASYNC_LOW_LATENCY);

LowLatencyRequest notAvailable(int error) {
    return LowLatencyRequest{LowLatency::NotAvailable, std::nullopt, std::strerror(error)};
}

}  // namespace

LowLatencyRequest requestLowLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return notAvailable(errno);
    if ((serial.flags & LOW_LATENCY_FLAG) != 0) return LowLatencyRequest{LowLatency::AlreadyOn, std::nullopt, ""};
    const int found = serial.flags;
    // Everything else as read, so that only the one flag changes.
    serial.flags |= LOW_LATENCY_FLAG;
    if (ioctl(fd, TIOCSSERIAL, &serial) != 0) return notAvailable(errno);
    return LowLatencyRequest{LowLatency::Set, found, ""};
}

void restoreSerialFlags(int fd, int flagsFound) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags = flagsFound;
    ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace vardel
