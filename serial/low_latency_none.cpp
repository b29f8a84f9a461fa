// Low latency on a POSIX system without Linux's serial flags: never asked for.

#include "serial/low_latency.hpp"

namespace vardel {

LowLatencyRequest requestLowLatency(int) {
    return LowLatencyRequest{LowLatency::NotAvailable, std::nullopt, "no such request on this system"};
}

void restoreSerialFlags(int, int) {}

}  // namespace vardel
