#include "tests/support/real_text_reference.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

namespace vardel::reference {
namespace {

struct Natural {
    std::vector<std::uint32_t> limbs;  // least significant first, no leading zero limbs

    static Natural of(std::uint64_t value) {
        Natural n;
        for (; value != 0; value >>= 32) n.limbs.push_back(static_cast<std::uint32_t>(value));
        return n;
    }
    bool isZero() const { return limbs.empty(); }
    int bitLength() const {
        return isZero() ? 0 : 32 * static_cast<int>(limbs.size()) - std::countl_zero(limbs.back());
    }
    bool bit(int position) const {
        const auto limb = static_cast<std::size_t>(position / 32);
        return position >= 0 && limb < limbs.size() && ((limbs[limb] >> (position % 32)) & 1) != 0;
    }
    bool anyBitBelow(int position) const {
        for (int i = 0; i < position; ++i) {
            if (bit(i)) return true;
        }
        return false;
    }
    std::uint64_t toUint64() const {
        std::uint64_t value = 0;
        for (std::size_t i = std::min<std::size_t>(limbs.size(), 2); i-- > 0;)
            value = (value << 32) | limbs[i];
        return value;
    }
    void trim() {
        while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    }
};

int compare(const Natural& a, const Natural& b) {
    if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
    for (std::size_t i = a.limbs.size(); i-- > 0;) {
        if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
    }
    return 0;
}

Natural shiftedLeft(const Natural& n, int bits) {
    Natural result;
    result.limbs.assign(static_cast<std::size_t>(bits / 32), 0);
    std::uint32_t carry = 0;
    for (std::uint32_t limb : n.limbs) {
        result.limbs.push_back(bits % 32 == 0 ? limb : (limb << (bits % 32)) | carry);
        carry = bits % 32 == 0 ? 0 : limb >> (32 - bits % 32);
    }
    result.limbs.push_back(carry);
    result.trim();
    return result;
}

Natural shiftedRight(const Natural& n, int bits) {
    Natural result;
    for (int position = bits; position < n.bitLength(); position += 32) {
        std::uint32_t limb = 0;
        for (int i = 31; i >= 0; --i) limb = (limb << 1) | (n.bit(position + i) ? 1 : 0);
        result.limbs.push_back(limb);
    }
    result.trim();
    return result;
}

Natural sum(const Natural& a, const Natural& b) {
    Natural result;
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < std::max(a.limbs.size(), b.limbs.size()) || carry != 0; ++i) {
        carry += (i < a.limbs.size() ? a.limbs[i] : 0) + std::uint64_t{i < b.limbs.size() ? b.limbs[i] : 0};
        result.limbs.push_back(static_cast<std::uint32_t>(carry));
        carry >>= 32;
    }
    result.trim();
    return result;
}

Natural difference(const Natural& a, const Natural& b) {  // a >= b
    Natural result;
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < a.limbs.size(); ++i) {
        std::int64_t digit = std::int64_t{a.limbs[i]} - (i < b.limbs.size() ? b.limbs[i] : 0) - borrow;
        borrow = digit < 0 ? 1 : 0;
        result.limbs.push_back(static_cast<std::uint32_t>(digit + (borrow << 32)));
    }
    result.trim();
    return result;
}

Natural product(const Natural& a, const Natural& b) {
    Natural result;
    result.limbs.assign(a.limbs.size() + b.limbs.size() + 1, 0);
    for (std::size_t i = 0; i < a.limbs.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.limbs.size() || carry != 0; ++j) {
            carry += result.limbs[i + j] + std::uint64_t{a.limbs[i]} * (j < b.limbs.size() ? b.limbs[j] : 0);
            result.limbs[i + j] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
    }
    result.trim();
    return result;
}

struct Division {
    Natural quotient, remainder;
};

Division divide(const Natural& dividend, const Natural& divisor) {
    Division result{Natural{}, dividend};
    for (int shift = dividend.bitLength() - divisor.bitLength(); shift >= 0; --shift) {
        const Natural part = shiftedLeft(divisor, shift);
        if (compare(result.remainder, part) >= 0) {
            result.remainder = difference(result.remainder, part);
            result.quotient = sum(result.quotient, shiftedLeft(Natural::of(1), shift));
        }
    }
    return result;
}

Natural roundedUpWhen(const Natural& kept, bool half, bool below) {
    return half && (below || kept.bit(0)) ? sum(kept, Natural::of(1)) : kept;
}

// mantissa * 2^exponent. The values met here stay far inside the extended
// exponent range, so that range plays no part.
struct Dyadic {
    Natural mantissa;
    int exponent;
};

// Nearest value with 64 significant bits, ties to even; `sticky` stands for
// a nonzero amount below the mantissa's last bit.
Dyadic roundToSignificand(const Dyadic& x, bool sticky = false) {
    const int excess = x.mantissa.bitLength() - 64;
    if (excess <= 0) return x;
    const Natural kept = shiftedRight(x.mantissa, excess);
    const bool below = sticky || x.mantissa.anyBitBelow(excess - 1);
    return {roundedUpWhen(kept, x.mantissa.bit(excess - 1), below), x.exponent + excess};
}

Dyadic roundedProduct(const Dyadic& a, const Dyadic& b) {
    return roundToSignificand({product(a.mantissa, b.mantissa), a.exponent + b.exponent});
}

Dyadic roundedQuotient(const Dyadic& a, const Dyadic& b) {
    // At least 66 quotient bits, so that the rounding bit is one of them.
    const int shift = std::max(0, 66 + b.mantissa.bitLength() - a.mantissa.bitLength());
    const Division division = divide(shiftedLeft(a.mantissa, shift), b.mantissa);
    return roundToSignificand({division.quotient, a.exponent - shift - b.exponent},
                              !division.remainder.isZero());
}

Natural roundToInteger(const Dyadic& x) {
    if (x.exponent >= 0) return shiftedLeft(x.mantissa, x.exponent);
    const int fractionBits = -x.exponent;
    const Natural kept = shiftedRight(x.mantissa, fractionBits);
    return roundedUpWhen(kept, x.mantissa.bit(fractionBits - 1), x.mantissa.anyBitBelow(fractionBits - 1));
}

// The nearest 64-bit-significand values of the powers of ten the scaling uses.
std::map<unsigned, Dyadic> nearestPowersOfTen() {
    std::map<unsigned, Dyadic> powers;
    Natural exact = Natural::of(1);
    for (unsigned k = 0; k <= 4608; ++k) {
        if (k < 32 || (k % 32 == 0 && k <= 480) || k % 512 == 0) powers[k] = roundToSignificand({exact, 0});
        exact = product(exact, Natural::of(10));
    }
    return powers;
}

struct ReferenceFormatter {
    std::map<unsigned, Dyadic> powers = nearestPowersOfTen();

    // round(a * 10^(18 - E)), the power applied in up to three rounded factors.
    Natural scaledDigits(const Dyadic& a, int decimalExponent) const {
        const int p = 18 - decimalExponent;
        const unsigned k = static_cast<unsigned>(std::abs(p));
        std::vector<unsigned> factors{k % 32};
        if ((k / 32) % 16 != 0) factors.push_back(32 * ((k / 32) % 16));
        if (k / 512 != 0) factors.push_back(512 * (k / 512));
        Dyadic x = a;
        for (unsigned factor : factors) {
            x = p >= 0 ? roundedProduct(x, powers.at(factor)) : roundedQuotient(x, powers.at(factor));
        }
        return roundToInteger(x);
    }

    // The 18 digits and the decimal exponent E (value = 0.d1d2... * 10^E).
    std::pair<std::uint64_t, int> digits(double magnitude) const {
        int frexpExponent = 0;
        const double fraction = std::frexp(magnitude, &frexpExponent);
        const Dyadic a{Natural::of(static_cast<std::uint64_t>(std::ldexp(fraction, 64))), frexpExponent - 64};
        int decimalExponent = static_cast<int>(std::floor((frexpExponent - 1) * 19728 / 65536.0)) + 1;
        Natural s = scaledDigits(a, decimalExponent);
        if (compare(s, Natural::of(100000000000000000u)) < 0) s = scaledDigits(a, --decimalExponent);
        if (compare(s, Natural::of(1000000000000000000u)) >= 0) {
            s = roundToInteger(roundedQuotient({s, 0}, {Natural::of(10), 0}));
            ++decimalExponent;
        }
        return {s.toUint64(), decimalExponent};
    }

    std::string text(double value, char separator) const {
        const auto [digitValue, decimalExponent] = digits(std::fabs(value));
        std::string digitText = std::to_string(digitValue);
        digitText.erase(digitText.find_last_not_of('0') + 1);
        std::string body;
        if (decimalExponent > 18 || decimalExponent < -3) {
            body = digitText.substr(0, 1) + (digitText.size() > 1 ? separator + digitText.substr(1) : "") +
                   "E" + std::to_string(decimalExponent - 1);
        } else if (decimalExponent <= 0) {
            body = "0" + std::string(1, separator) + std::string(-decimalExponent, '0') + digitText;
        } else {
            const auto wholeDigits = static_cast<std::size_t>(decimalExponent);
            body = digitText.substr(0, wholeDigits);
            if (digitText.size() < wholeDigits) body += std::string(wholeDigits - digitText.size(), '0');
            if (digitText.size() > wholeDigits) body += separator + digitText.substr(wholeDigits);
        }
        return (value < 0 ? "-" : "") + body;
    }
};

}  // namespace

std::string referenceFormatReal(double value, char separator) {
    if (value == 0) return "0";
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    static const ReferenceFormatter formatter;
    return formatter.text(value, separator);
}

}  // namespace vardel::reference
