// The real text of any 64-bit pattern, with both separators, against the
// slow exact reference; a finite nonzero value must also read back as the
// same double.

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "text/real_text.hpp"
#include "fuzz/fuzz_check.hpp"
#include "tests/support/real_text_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data, std::min<std::size_t>(size, sizeof bits));
    const double value = std::bit_cast<double>(bits);
    char pattern[32];
    std::snprintf(pattern, sizeof pattern, "pattern %016llX", static_cast<unsigned long long>(bits));
    for (const char separator : {'.', ','}) {
        const std::string text = vardel::formatReal(value, separator);
        const std::string expected = vardel::reference::referenceFormatReal(value, separator);
        FUZZ_CHECK(text == expected, std::string(pattern) + ": \"" + text + "\" instead of \"" + expected + "\"");
    }
    if (std::isfinite(value) && value != 0) {
        const std::string text = vardel::formatReal(value, '.');
        double back = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), back);
        FUZZ_CHECK(error == std::errc() && end == text.data() + text.size() && back == value,
                   std::string(pattern) + ": \"" + text + "\" reads back otherwise");
    }
    return 0;
}
