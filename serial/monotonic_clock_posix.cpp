#include <ctime>

#include "serial/monotonic_clock.hpp"

namespace vardel {

std::int64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * NANOS_PER_SECOND + now.tv_nsec;
}

}  // namespace vardel
