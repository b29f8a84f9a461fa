#pragma once
// Low latency on a serial port. A USB serial adapter holds a short packet
// back until its latency timer runs out (16 ms on an FTDI chip under Linux),
// and every reply of the device is a short packet: with the port's
// low-latency flag set, the adapter's driver sets the timer to 1 ms. The
// request is Linux's (low_latency_linux.cpp); other systems have none
// (low_latency_none.cpp).

#include <optional>
#include <string>

namespace vardel {

enum class LowLatency { Set, AlreadyOn, NotAvailable };

struct LowLatencyRequest {
    LowLatency outcome = LowLatency::NotAvailable;
    std::optional<int> flagsFound;  // the port's flags before, to put back; only when set here
    std::string reason;             // why not available: the system's error text
};

// Sets the low-latency flag of the port where it is clear. A port that
// refuses the request is left exactly as it was.
LowLatencyRequest requestLowLatency(int fd);

// Puts back the serial flags that requestLowLatency found. System calls
// only: a signal handler may call it.
void restoreSerialFlags(int fd, int flagsFound);

std::string lowLatencyTraceText(const LowLatencyRequest& request);

}  // namespace vardel
