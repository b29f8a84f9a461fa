#include "serial/low_latency.hpp"

namespace vardel {

std::string lowLatencyTraceText(const LowLatencyRequest& request) {
    switch (request.outcome) {
        case LowLatency::Set: return "low latency set; the serial flags are put back at the close";
        case LowLatency::AlreadyOn: return "low latency already on";
        case LowLatency::NotAvailable: break;
    }
    return "low latency not available: " + request.reason;
}

}  // namespace vardel
