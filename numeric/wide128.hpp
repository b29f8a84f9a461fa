#pragma once
// An unsigned 128-bit integer of two 64-bit limbs, with the operations the
// extended real format needs: the full product of two 64-bit numbers,
// addition and subtraction modulo 2^128, shifts (one of them telling whether
// nonzero bits fell off), bit length, comparison, and division by a 64-bit
// number.
//
// Every operation has a portable form built from 64-bit (and, for the
// product and the division, 32-bit) arithmetic, so that it compiles for any
// target, 32-bit ones and MSVC included. Where the compiler has a native
// 128-bit integer, that serves as a faster path; defining
// VARDEL_PORTABLE_WIDE (the CMake option of the same name) keeps the
// portable one. This header is the only place that names the native type.

#include <bit>
#include <compare>
#include <cstdint>

#if defined(__SIZEOF_INT128__) && !defined(VARDEL_PORTABLE_WIDE)
#define VARDEL_WIDE_NATIVE 1
#else
#define VARDEL_WIDE_NATIVE 0
#endif

namespace vardel {

struct Wide128 {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    constexpr Wide128() = default;
    constexpr Wide128(std::uint64_t value) : low(value) {}  // widens, as a built-in integer would
    constexpr Wide128(std::uint64_t highLimb, std::uint64_t lowLimb) : high(highLimb), low(lowLimb) {}

    friend constexpr bool operator==(const Wide128&, const Wide128&) = default;
    friend constexpr std::strong_ordering operator<=>(const Wide128& a, const Wide128& b) {
        if (a.high != b.high) return a.high <=> b.high;
        return a.low <=> b.low;
    }
};

// A quotient and what remains of the dividend.
struct WideQuotient {
    Wide128 quotient;
    std::uint64_t remainder = 0;
};

namespace wide {

constexpr std::uint64_t LOW_HALF = 0xFFFFFFFFu;

// The portable forms.
namespace portable {

constexpr Wide128 add(Wide128 a, Wide128 b) {
    const std::uint64_t low = a.low + b.low;
    return {a.high + b.high + (low < a.low ? 1u : 0u), low};
}

constexpr Wide128 subtract(Wide128 a, Wide128 b) {
    return {a.high - b.high - (a.low < b.low ? 1u : 0u), a.low - b.low};
}

// Shifts by 0..127 bits; larger counts give zero.
constexpr Wide128 shiftLeft(Wide128 a, int count) {
    if (count <= 0) return a;
    if (count >= 128) return {};
    if (count >= 64) return {a.low << (count - 64), 0};
    return {(a.high << count) | (a.low >> (64 - count)), a.low << count};
}

constexpr Wide128 shiftRight(Wide128 a, int count) {
    if (count <= 0) return a;
    if (count >= 128) return {};
    if (count >= 64) return {0, a.high >> (count - 64)};
    return {a.high >> count, (a.low >> count) | (a.high << (64 - count))};
}

// The full product, from four products of 32-bit halves.
constexpr Wide128 multiply(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a0 = a & LOW_HALF, a1 = a >> 32;
    const std::uint64_t b0 = b & LOW_HALF, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    // Below 3 * 2^32: the middle column cannot overflow.
    const std::uint64_t middle = (p00 >> 32) + (p01 & LOW_HALF) + (p10 & LOW_HALF);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & LOW_HALF)};
}

// (high * 2^64 + low) / divisor for high < divisor, so that the quotient
// fits in 64 bits: long division in base 2^32 with the divisor normalized,
// each quotient digit estimated from the top digits and corrected at most
// twice.
constexpr std::uint64_t divideNarrow(std::uint64_t high, std::uint64_t low, std::uint64_t divisor,
                                     std::uint64_t& remainder) {
    constexpr std::uint64_t BASE = std::uint64_t{1} << 32;
    const int shift = std::countl_zero(divisor);
    const std::uint64_t v = divisor << shift;
    const std::uint64_t v1 = v >> 32, v0 = v & LOW_HALF;
    const std::uint64_t u32 = shift == 0 ? high : (high << shift) | (low >> (64 - shift));
    const std::uint64_t u10 = low << shift;
    const std::uint64_t u1 = u10 >> 32, u0 = u10 & LOW_HALF;

    std::uint64_t q1 = u32 / v1;
    std::uint64_t rest = u32 - q1 * v1;
    while (q1 >= BASE || q1 * v0 > ((rest << 32) | u1)) {
        --q1;
        rest += v1;
        if (rest >= BASE) break;
    }
    const std::uint64_t u21 = (u32 << 32) + u1 - q1 * v;  // below v, modulo 2^64

    std::uint64_t q0 = u21 / v1;
    rest = u21 - q0 * v1;
    while (q0 >= BASE || q0 * v0 > ((rest << 32) | u0)) {
        --q0;
        rest += v1;
        if (rest >= BASE) break;
    }
    remainder = ((u21 << 32) + u0 - q0 * v) >> shift;
    return (q1 << 32) + q0;
}

// divisor must not be zero.
constexpr WideQuotient divide(Wide128 dividend, std::uint64_t divisor) {
    WideQuotient result;
    result.quotient.high = dividend.high / divisor;
    const std::uint64_t highRest = dividend.high % divisor;
    result.quotient.low = divideNarrow(highRest, dividend.low, divisor, result.remainder);
    return result;
}

}  // namespace portable

#if VARDEL_WIDE_NATIVE
// The compiler's own 128-bit integer.
namespace native {

__extension__ typedef unsigned __int128 Native;

constexpr Native toNative(Wide128 a) { return (Native{a.high} << 64) | a.low; }
constexpr Wide128 fromNative(Native a) {
    return {static_cast<std::uint64_t>(a >> 64), static_cast<std::uint64_t>(a)};
}

constexpr Wide128 add(Wide128 a, Wide128 b) { return fromNative(toNative(a) + toNative(b)); }
constexpr Wide128 subtract(Wide128 a, Wide128 b) { return fromNative(toNative(a) - toNative(b)); }
constexpr Wide128 shiftLeft(Wide128 a, int count) {
    if (count <= 0) return a;
    return count >= 128 ? Wide128{} : fromNative(toNative(a) << count);
}
constexpr Wide128 shiftRight(Wide128 a, int count) {
    if (count <= 0) return a;
    return count >= 128 ? Wide128{} : fromNative(toNative(a) >> count);
}
constexpr Wide128 multiply(std::uint64_t a, std::uint64_t b) { return fromNative(Native{a} * b); }
constexpr WideQuotient divide(Wide128 dividend, std::uint64_t divisor) {
    const Native n = toNative(dividend);
    return {fromNative(n / divisor), static_cast<std::uint64_t>(n % divisor)};
}

}  // namespace native
namespace chosen = native;
#else
namespace chosen = portable;
#endif

}  // namespace wide

// The operations for the rest of the code, on the path chosen above.
constexpr Wide128 operator+(Wide128 a, Wide128 b) { return wide::chosen::add(a, b); }
constexpr Wide128 operator-(Wide128 a, Wide128 b) { return wide::chosen::subtract(a, b); }
constexpr Wide128 operator<<(Wide128 a, int count) { return wide::chosen::shiftLeft(a, count); }
constexpr Wide128 operator>>(Wide128 a, int count) { return wide::chosen::shiftRight(a, count); }
constexpr Wide128 operator|(Wide128 a, Wide128 b) { return {a.high | b.high, a.low | b.low}; }
constexpr Wide128 operator&(Wide128 a, Wide128 b) { return {a.high & b.high, a.low & b.low}; }

constexpr Wide128 multiplyWide(std::uint64_t a, std::uint64_t b) { return wide::chosen::multiply(a, b); }

// divisor must not be zero.
constexpr WideQuotient divideWide(Wide128 dividend, std::uint64_t divisor) {
    return wide::chosen::divide(dividend, divisor);
}

// The number of significant bits: 0 for zero, 128 when the top bit is set.
constexpr int bitLength(Wide128 a) {
    if (a.high != 0) return 128 - std::countl_zero(a.high);
    return 64 - std::countl_zero(a.low);
}

constexpr bool isZero(Wide128 a) { return a.high == 0 && a.low == 0; }

// a shifted right by `count` bits; `lost` tells whether any of the bits
// shifted out was set.
struct ShiftedWide {
    Wide128 value;
    bool lost = false;
};

constexpr ShiftedWide shiftRightSticky(Wide128 a, int count) {
    const Wide128 kept = a >> count;
    return {kept, count > 0 && (count >= 128 ? !isZero(a) : (kept << count) != a)};
}

}  // namespace vardel
