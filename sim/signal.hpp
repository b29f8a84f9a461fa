#pragma once
// Counts that change with time: periodic waves, recorded series and seeded
// noise. Every function takes the time since the simulator started, so the
// values can be checked at any moment without waiting for it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vardel::sim {

inline constexpr std::int32_t COUNT_MIN = 0;
inline constexpr std::int32_t COUNT_MAX = 1023;

enum class Shape { Sine, Triangle, Square };

// Sine: the middle of low..high at time 0, rising first. Triangle: low at
// time 0, high at half the period. Square: high for the first half of each
// period, low for the second.
struct Wave {
    Shape shape = Shape::Sine;
    double low = 0;
    double high = 0;
    std::uint32_t periodMs = 1;  // never 0
    double phaseDegrees = 0;
};

struct SeriesPoint {
    std::int64_t timeMs = 0;
    double count = 0;
};

// A recorded series, times in increasing order (equal times allowed).
struct Series {
    std::vector<SeriesPoint> points;  // never empty
    bool linear = false;  // between two points: the straight line; otherwise the earlier point's count
    bool loop = false;    // starts over every last-point time; otherwise holds the last count
};

// The count whose converted reading is nearest to `reading` for the sensor
// that the identification gives input `input` at the moment of the request.
struct TargetReading {
    int input = 0;
    double reading = 0;
};

using Signal = std::variant<Wave, Series, TargetReading>;

// Gaussian noise added to an input's counts.
struct Noise {
    double standardDeviation = 0;  // 0: none
    std::uint64_t seed = 1;
};

double waveCount(const Wave& wave, std::int64_t timeMs);
double seriesCount(const Series& series, std::int64_t timeMs);

// The draw number `index` of a standard normal sequence given by `seed`:
// the same numbers on every platform and library.
double gaussianDraw(std::uint64_t seed, std::uint64_t index);

// Rounded to the nearest whole count (halves away from zero) and kept
// within 0..1023.
std::int32_t clampCount(double count);

// Reads "time_ms,count" lines: blank lines, lines starting with '#' and a
// first line "time_ms,count" (or any header without digits) are skipped.
// None with `error` set when a line can't be read or there is no point.
std::optional<std::vector<SeriesPoint>> parseSeries(std::string_view text, std::string& error);

}  // namespace vardel::sim
