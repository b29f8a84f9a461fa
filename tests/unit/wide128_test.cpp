// The 128-bit integer: hand-computed values for the portable forms and for
// the path the build chose, and the portable forms against the compiler's
// native 128-bit integer wherever that exists.

#include "numeric/wide128.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace vardel {
namespace {

constexpr std::uint64_t ALL = ~std::uint64_t{0};
constexpr std::uint64_t TOP = std::uint64_t{1} << 63;

std::string hex(Wide128 a) {
    char text[40];
    std::snprintf(text, sizeof text, "%016llx:%016llx", static_cast<unsigned long long>(a.high),
                  static_cast<unsigned long long>(a.low));
    return text;
}

// The powers of ten are built at compile time, so every operation must be
// usable there.
static_assert(multiplyWide(ALL, ALL) == Wide128{ALL - 1, 1});
static_assert(divideWide(Wide128{3, 0}, 0x200000003u).quotient == Wide128{0x17FFFFFFDu});
static_assert(Wide128{ALL} + 1 == Wide128{1, 0});
static_assert(bitLength(Wide128{1, 0}) == 65);

struct ProductCase {
    std::uint64_t a, b;
    Wide128 product;
};

constexpr ProductCase PRODUCTS[] = {
    {0, 0, {0, 0}},
    {1, ALL, {0, ALL}},
    {ALL, ALL, {0xFFFFFFFFFFFFFFFE, 0x0000000000000001}},
    {0x100000000, 0x100000000, {1, 0}},
    {0xFFFFFFFF, 0xFFFFFFFF, {0, 0xFFFFFFFE00000001}},
    {7450580596923828125u, 7450580596923828125u, {0x29C30F1029939B14, 0x6664242D97D9F649}},  // 5^27 squared
    {0x123456789ABCDEF0, 0x0FEDCBA987654321, {0x0121FA00AD77D742, 0x2236D88FE5618CF0}},
    {TOP, 2, {1, 0}},
};

TEST(Wide128, ProductsOfHandValues) {
    for (const auto& c : PRODUCTS) {
        EXPECT_EQ(wide::portable::multiply(c.a, c.b), c.product) << std::hex << c.a << " * " << c.b;
        EXPECT_EQ(multiplyWide(c.a, c.b), c.product) << std::hex << c.a << " * " << c.b;
    }
}

struct QuotientCase {
    Wide128 dividend;
    std::uint64_t divisor;
    Wide128 quotient;
    std::uint64_t remainder;
};

// Divisors of every size, so that the normalizing shift takes many values,
// and digits whose first estimate is too high once or twice.
constexpr QuotientCase QUOTIENTS[] = {
    {{0, 5}, 1, {0, 5}, 0},
    {{ALL, ALL}, ALL, {1, 1}, 0},
    {{TOP, 0}, TOP + 1, {0, 0xFFFFFFFFFFFFFFFE}, 2},
    {{TOP - 1, ALL}, TOP, {0, ALL}, TOP - 1},
    {{1, 0}, 3, {0, 0x5555555555555555}, 1},
    {{0xFFFFFFFF00000000, 0}, 0xFFFFFFFF00000001, {0, 0xFFFFFFFFFFFFFFFE}, 0xFFFFFFFE00000002},
    {{5, 7}, 10, {0, TOP}, 7},
    {{0x123456789ABCDEF0, 0x0FEDCBA987654321}, 0x1FFFFFFFF, {0x091A2B3C, 0x51EB851630ECA85F}, 0x1B851EB80},
    {{0x7FFF800000000000, 0x0000FFFFFFFFFFFF}, TOP + 1, {0, 0xFFFEFFFFFFFFFFFE}, 0x0002000000000001},
    {{0xFFFFFFFFFFFFFFFE, 0}, ALL, {0, 0xFFFFFFFFFFFFFFFE}, 0xFFFFFFFFFFFFFFFE},
    {{0xFFFFFFFE, 0x100000000}, 0xFFFFFFFF, {0, 0xFFFFFFFF00000000}, 0},
    {{3, 0}, 0x200000003, {0, 0x17FFFFFFD}, 0x180000009},
};

TEST(Wide128, QuotientsOfHandValues) {
    for (const auto& c : QUOTIENTS) {
        for (const WideQuotient& q : {wide::portable::divide(c.dividend, c.divisor), divideWide(c.dividend, c.divisor)}) {
            EXPECT_EQ(q.quotient, c.quotient) << hex(c.dividend) << " / " << std::hex << c.divisor;
            EXPECT_EQ(q.remainder, c.remainder) << hex(c.dividend) << " % " << std::hex << c.divisor;
        }
    }
}

TEST(Wide128, SumsDifferencesAndShiftsOfHandValues) {
    using namespace wide;
    EXPECT_EQ(portable::add({0, ALL}, {0, 1}), Wide128(1, 0));
    EXPECT_EQ(portable::add({ALL, ALL}, {0, 1}), Wide128(0, 0));
    EXPECT_EQ(portable::subtract({1, 0}, {0, 1}), Wide128(0, ALL));
    EXPECT_EQ(portable::subtract({0, 0}, {0, 1}), Wide128(ALL, ALL));
    EXPECT_EQ(Wide128(5, 3) - Wide128(2, 4), Wide128(2, ALL));

    struct ShiftCase {
        int count;
        Wide128 left, right;  // of 0x8000000000000001:0000000000000003
    };
    const Wide128 value{TOP + 1, 3};
    const ShiftCase shifts[] = {
        {0, value, value},
        {1, {2, 6}, {0x4000000000000000, TOP + 1}},
        {63, {TOP + 1, TOP}, {1, 2}},
        {64, {3, 0}, {0, TOP + 1}},
        {65, {6, 0}, {0, 0x4000000000000000}},
        {127, {TOP, 0}, {0, 1}},
        {128, {0, 0}, {0, 0}},
        {500, {0, 0}, {0, 0}},
    };
    for (const auto& c : shifts) {
        EXPECT_EQ(portable::shiftLeft(value, c.count), c.left) << c.count;
        EXPECT_EQ(value << c.count, c.left) << c.count;
        EXPECT_EQ(portable::shiftRight(value, c.count), c.right) << c.count;
        EXPECT_EQ(value >> c.count, c.right) << c.count;
    }
}

TEST(Wide128, StickyShiftsBitLengthsAndOrder) {
    struct StickyCase {
        Wide128 value;
        int count;
        Wide128 kept;
        bool lost;
    };
    const StickyCase cases[] = {
        {{0, 8}, 3, {0, 1}, false},
        {{0, 9}, 3, {0, 1}, true},
        {{1, 0}, 64, {0, 1}, false},
        {{1, 1}, 64, {0, 1}, true},
        {{TOP, 0}, 127, {0, 1}, false},
        {{0, 1}, 128, {0, 0}, true},
        {{0, 0}, 200, {0, 0}, false},
        {{0, 7}, 0, {0, 7}, false},
    };
    for (const auto& c : cases) {
        const ShiftedWide shifted = shiftRightSticky(c.value, c.count);
        EXPECT_EQ(shifted.value, c.kept) << hex(c.value) << " >> " << c.count;
        EXPECT_EQ(shifted.lost, c.lost) << hex(c.value) << " >> " << c.count;
    }

    EXPECT_EQ(bitLength(Wide128{}), 0);
    EXPECT_EQ(bitLength(Wide128{1}), 1);
    EXPECT_EQ(bitLength(Wide128{TOP}), 64);
    EXPECT_EQ(bitLength(Wide128{1, 0}), 65);
    EXPECT_EQ(bitLength(Wide128{ALL, ALL}), 128);

    EXPECT_LT(Wide128(0, ALL), Wide128(1, 0));
    EXPECT_LT(Wide128(1, 2), Wide128(1, 3));
    EXPECT_GT(Wide128(2, 0), Wide128(1, ALL));
    EXPECT_EQ(Wide128(7), Wide128(0, 7));
}

// Operands with long runs of ones and zeros, where carries and corrections
// happen, as well as plain random ones.
class Operands {
public:
    std::uint64_t next() {
        std::uint64_t bits = bits_();
        switch (bits_() % 4) {
            case 0: return bits >> (bits_() % 64);
            case 1: return bits | (ALL << (bits_() % 64));
            case 2: return (std::uint64_t{1} << (bits_() % 64)) + (bits_() % 3) - 1;
            default: return bits;
        }
    }

private:
    std::mt19937_64 bits_{20261208};
};

// What holds on either path: quotient * divisor + remainder is the dividend,
// the remainder below the divisor, sums and differences undo each other.
TEST(Wide128, PortableFormsAgreeWithEachOther) {
    Operands operands;
    int failures = 0;
    for (int i = 0; i < 200000 && failures < 5; ++i) {
        const Wide128 n{operands.next(), operands.next()};
        const Wide128 m{operands.next(), operands.next()};
        std::uint64_t d = operands.next();
        if (d == 0) d = 1;
        const WideQuotient q = wide::portable::divide(n, d);
        const Wide128 back = wide::portable::add(
            wide::portable::add(wide::portable::multiply(q.quotient.low, d),
                                wide::portable::shiftLeft(Wide128{wide::portable::multiply(q.quotient.high, d).low}, 64)),
            Wide128{q.remainder});
        const bool good = back == n && q.remainder < d && wide::portable::subtract(wide::portable::add(n, m), m) == n;
        if (!good) {
            ++failures;
            ADD_FAILURE() << hex(n) << " / " << std::hex << d << " gave " << hex(q.quotient) << " rest " << q.remainder;
        }
    }
}

#if VARDEL_WIDE_NATIVE
TEST(Wide128, PortableFormsAgreeWithTheNativeInteger) {
    namespace portable = wide::portable;
    namespace native = wide::native;
    Operands operands;
    int failures = 0;
    for (int i = 0; i < 1000000 && failures < 5; ++i) {
        const std::uint64_t a = operands.next(), b = operands.next();
        const Wide128 n{operands.next(), operands.next()};
        const Wide128 m{a, b};
        const int count = static_cast<int>(b % 130);
        const std::uint64_t d = a == 0 ? 1 : a;
        const WideQuotient pq = portable::divide(n, d), nq = native::divide(n, d);
        const bool same = portable::multiply(a, b) == native::multiply(a, b) &&
                          portable::add(n, m) == native::add(n, m) &&
                          portable::subtract(n, m) == native::subtract(n, m) &&
                          portable::shiftLeft(n, count) == native::shiftLeft(n, count) &&
                          portable::shiftRight(n, count) == native::shiftRight(n, count) &&
                          pq.quotient == nq.quotient && pq.remainder == nq.remainder;
        if (!same) {
            ++failures;
            ADD_FAILURE() << "operands " << hex(n) << ", " << hex(m) << ", shift " << count;
        }
    }
}
#endif

}  // namespace
}  // namespace vardel
