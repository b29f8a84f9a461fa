#include "measure/analog.hpp"

namespace vardel {

namespace {

// One band of the kind-0 scale: (c - offset) * multiplier / 255.
struct ScaleBand {
    std::uint16_t low;
    std::uint16_t high;
    double offset;
    double multiplier;
};

constexpr ScaleBand KIND0_SCALES[] = {
    {58, 62, 128, 200},  {68, 72, 128, 4},   {78, 82, 128, 12},   {89, 93, 128, 30},   {100, 104, 0, 15},
    {109, 113, 128, 40}, {119, 123, 128, 200}, {132, 136, 128, 1}, {139, 143, 0, 500}, {150, 154, 0, 14},
    {156, 160, 0, 100},  {177, 181, 0, 100}, {194, 198, 0, 40},
};

// The subtraction and the product are exact for these operands; only the
// division rounds, once, to double.
double defaultScale(double c) { return c * 3500 / 256; }
double bandScale(double c, const ScaleBand& band) { return (c - band.offset) * band.multiplier / 255; }
double opacityScale(double c) { return (255 - c) * 100 / 255; }

}  // namespace

double convertReading(std::int32_t raw, std::int32_t kind, std::uint16_t code) {
    const double c = static_cast<double>(raw) / 4;
    if (kind == 0) {
        for (const ScaleBand& band : KIND0_SCALES) {
            if (code >= band.low && code <= band.high) return bandScale(c, band);
        }
    }
    if (kind == 1 && code >= 57 && code <= 61) return opacityScale(c);
    return defaultScale(c);
}

double readAnalogConverted(SerialLink& link, IdentificationFields& fields, SensorTable& table, std::int32_t n) {
    // The identification goes out before the range check on purpose, as in
    // binary_io.cpp: the device sees "ZRECO", and a malformed reply ends the
    // run, whatever the input number; only then is a number outside 0..3
    // answered with the marker.
    identifySensors(link, fields, table);
    if (n < 0 || n > 3) return static_cast<double>(NO_VALUE);
    const std::int32_t raw = readAnalogRaw(link, n);
    // No reading is the marker itself, never the marker put through a scale,
    // which would look like a plausible value.
    if (raw == NO_VALUE) return static_cast<double>(NO_VALUE);
    return convertReading(raw, sensorKind(table, n), sensorCode(table, n));
}

}  // namespace vardel
