#pragma once
// A clock that only goes forward, for deadlines of waits and paced sends.

#include <cstdint>

namespace vardel {

constexpr std::int64_t NANOS_PER_MILLI = 1'000'000;
constexpr std::int64_t NANOS_PER_SECOND = 1'000'000'000;

// Nanoseconds since a fixed moment of this boot; each platform's port defines it.
std::int64_t monotonicNanos();

// Milliseconds until `deadline`, rounded up; 0 once it has passed.
inline std::int64_t millisecondsUntil(std::int64_t deadline) {
    const std::int64_t left = deadline - monotonicNanos();
    return left <= 0 ? 0 : (left + NANOS_PER_MILLI - 1) / NANOS_PER_MILLI;
}

}  // namespace vardel
