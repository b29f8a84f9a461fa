#include <windows.h>

#include "serial/monotonic_clock.hpp"

namespace vardel {

// The performance counter, split so that the product can't overflow.
std::int64_t monotonicNanos() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER count{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    const std::int64_t perSecond = frequency.QuadPart;
    const std::int64_t seconds = count.QuadPart / perSecond;
    const std::int64_t rest = count.QuadPart % perSecond;
    return seconds * NANOS_PER_SECOND + rest * NANOS_PER_SECOND / perSecond;
}

}  // namespace vardel
