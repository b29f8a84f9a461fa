// Every code of every kind against the sensor tables: the name it gets, and
// the printed reading at the lowest and highest raw counts. The rows are the
// tables as the device's documentation gives them; everything outside them
// gets the default name or the default scale.

#include <gtest/gtest.h>

#include <string>

#include "measure/analog.hpp"
#include "measure/binary_io.hpp"
#include "measure/sensors.hpp"
#include "text/real_text.hpp"

using namespace vardel;

namespace {

struct NameRow {
    std::int32_t kind;
    std::int32_t low;
    std::int32_t high;
    const char* name;
};

const NameRow NAME_ROWS[] = {
    {0, 0, 15, "(rien)"},
    {0, 21, 25, "synchro analog."},
    {0, 33, 37, "pression sanguine"},
    {0, 40, 44, "Teslam\xE8tre"},
    {0, 47, 49, "Pression absolue"},
    {0, 58, 60, "+/-100 mV"},
    {0, 62, 66, "an\xE9mom\xE8tre"},
    {0, 69, 70, "+/- 2 V"},
    {0, 72, 72, "+/- 2 V"},  // 71 has no name
    {0, 78, 82, "+/-6 V"},
    {0, 89, 93, "+/-15 V"},
    {0, 100, 104, "0..15V"},
    {0, 109, 113, "+/-20 mA"},
    {0, 119, 123, "+/-100 mA"},
    {0, 132, 136, "+/-500 mA"},
    {0, 139, 143, "0..500 mA"},
    {0, 150, 154, "pH"},
    {0, 156, 160, "oxyg\xE8ne"},
    {0, 167, 171, "temp -40/+50\xB0" "C"},
    {0, 177, 181, "thermom\xE8tre 0..100\xB0" "C"},
    {0, 186, 190, "micro son"},
    {0, 194, 198, "luxm\xE8tre W/m\xB2"},
    {0, 204, 208, "pression rel. +/- 20 hPa"},
    {0, 211, 215, "pression rel. +/-15 hPa"},
    {0, 218, 222, "fourchette optique"},
    {0, 227, 231, "rythme cardiaque"},
    {0, 237, 241, "conductim\xE9trie 0..20mS"},
    {1, 57, 61, "opacit\xE9 liquide"},
    {1, 128, 132, "temp\xE9rature -10/+110\xB0" "C"},
    {1, 139, 143, "flux calorifique+/-1,2kW/m\xB2"},
    {1, 211, 215, "fermentation \xE9thanol"},
};

std::string expectedName(int input, std::int32_t kind, std::int32_t code) {
    for (const NameRow& row : NAME_ROWS) {
        if (row.kind == kind && code >= row.low && code <= row.high) return row.name;
    }
    return std::string("EA inconnue ") + static_cast<char>(64 + input);
}

// A scale band and its printed reading at raw 0 (c = 0) and raw 1023
// (c = 255.75), worked out from the band's formula.
struct ScaleRow {
    std::int32_t kind;
    std::uint16_t low;
    std::uint16_t high;
    const char* atZero;
    const char* atFull;
};

const ScaleRow SCALE_ROWS[] = {
    {0, 58, 62, "-100.392156862745097", "100.196078431372555"},      // (c - 128) * 200 / 255
    {0, 68, 72, "-2.00784313725490193", "2.00392156862745097"},      // (c - 128) * 4 / 255
    {0, 78, 82, "-6.0235294117647058", "6.0117647058823529"},        // (c - 128) * 12 / 255
    {0, 89, 93, "-15.0588235294117645", "15.0294117647058822"},      // (c - 128) * 30 / 255
    {0, 100, 104, "0", "15.0441176470588243"},                       // c * 15 / 255
    {0, 109, 113, "-20.0784313725490193", "20.0392156862745097"},    // (c - 128) * 40 / 255
    {0, 119, 123, "-100.392156862745097", "100.196078431372555"},    // (c - 128) * 200 / 255
    {0, 132, 136, "-0.501960784313725483", "0.500980392156862742"},  // (c - 128) * 1 / 255
    {0, 139, 143, "0", "501.470588235294144"},                       // c * 500 / 255
    {0, 150, 154, "0", "14.0411764705882352"},                       // c * 14 / 255
    {0, 156, 160, "0", "100.294117647058826"},                       // c * 100 / 255
    {0, 177, 181, "0", "100.294117647058826"},                       // c * 100 / 255
    {0, 194, 198, "0", "40.117647058823529"},                        // c * 40 / 255
    {1, 57, 61, "100", "-0.294117647058823539"},                     // (255 - c) * 100 / 255
};

const ScaleRow DEFAULT_SCALE = {0, 0, 0, "0", "3496.58203125"};  // c * 3500 / 256

const ScaleRow& expectedScale(std::int32_t kind, std::uint16_t code) {
    for (const ScaleRow& row : SCALE_ROWS) {
        if (row.kind == kind && code >= row.low && code <= row.high) return row;
    }
    return DEFAULT_SCALE;
}

// Kinds without a table of their own on either side of the two that have one.
constexpr std::int32_t KINDS[] = {-1, 0, 1, 2};

}  // namespace

TEST(SensorTables, EveryCodeOfEveryKindGetsItsName) {
    for (std::int32_t kind : KINDS) {
        for (std::int32_t code = -1; code <= 256; ++code) {
            for (int input = 0; input < 4; ++input) {
                EXPECT_EQ(nameForSensor(input, kind, code), expectedName(input, kind, code))
                    << "input " << input << ", kind " << kind << ", code " << code;
            }
        }
    }
}

TEST(SensorTables, EveryCodeOfEveryKindGetsItsScale) {
    for (std::int32_t kind : KINDS) {
        for (std::uint16_t code = 0; code <= 255; ++code) {
            const ScaleRow& scale = expectedScale(kind, code);
            EXPECT_EQ(formatReal(convertReading(0, kind, code), '.'), scale.atZero) << "kind " << kind << ", code " << code;
            EXPECT_EQ(formatReal(convertReading(1023, kind, code), '.'), scale.atFull)
                << "kind " << kind << ", code " << code;
        }
    }
}

// With every output recorded as set, each readable output reads 1 and the
// numbers just outside read 0.
TEST(BinaryOutputs, ReadBackRangeEnds) {
    const OutputMirror allSet{0xFF};
    for (std::int32_t n = -1; n <= 8; ++n) {
        EXPECT_EQ(readBinaryOutput(allSet, n), n >= 0 && n <= 7 ? 1 : 0) << "output " << n;
    }
}
