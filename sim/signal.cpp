#include "sim/signal.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "sim/numbers.hpp"

namespace vardel::sim {
namespace {

constexpr std::size_t SERIES_POINT_LIMIT = 1'000'000;

// One step of the SplitMix64 generator: a well mixed 64-bit number for each
// input, defined by integer arithmetic alone.
std::uint64_t splitMix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

// A uniform number in (0, 1], from the top 53 bits.
double unitInterval(std::uint64_t bits) { return (static_cast<double>(bits >> 11) + 1.0) / 9007199254740992.0; }

// Where `timeMs` falls in a period, in [0, 1).
double periodFraction(std::int64_t timeMs, std::uint32_t periodMs) {
    const std::int64_t period = periodMs;
    const std::int64_t within = ((timeMs % period) + period) % period;
    return static_cast<double>(within) / static_cast<double>(period);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool hasDigit(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

double waveCount(const Wave& wave, std::int64_t timeMs) {
    const double middle = (wave.low + wave.high) / 2;
    const double half = (wave.high - wave.low) / 2;
    const double fraction = periodFraction(timeMs, wave.periodMs);
    switch (wave.shape) {
        case Shape::Sine: {
            const double angle = 2 * std::numbers::pi * fraction + wave.phaseDegrees * std::numbers::pi / 180;
            return middle + half * std::sin(angle);
        }
        case Shape::Triangle:
            return fraction < 0.5 ? wave.low + (wave.high - wave.low) * 2 * fraction
                                  : wave.high - (wave.high - wave.low) * (2 * fraction - 1);
        case Shape::Square: return fraction < 0.5 ? wave.high : wave.low;
    }
    return middle;
}

double seriesCount(const Series& series, std::int64_t timeMs) {
    const auto& points = series.points;
    if (points.empty()) return 0;
    const std::int64_t length = points.back().timeMs;
    if (series.loop && length > 0 && timeMs >= 0) timeMs %= length;
    // The first point after `timeMs`; the one before it is the latest reached.
    const auto after = std::upper_bound(points.begin(), points.end(), timeMs,
                                        [](std::int64_t t, const SeriesPoint& point) { return t < point.timeMs; });
    if (after == points.begin()) return points.front().count;
    const auto before = std::prev(after);
    if (!series.linear || after == points.end()) return before->count;
    const double span = static_cast<double>(after->timeMs - before->timeMs);
    const double part = static_cast<double>(timeMs - before->timeMs) / span;
    return before->count + (after->count - before->count) * part;
}

double gaussianDraw(std::uint64_t seed, std::uint64_t index) {
    // Box-Muller: two uniform numbers give one normal one; each index has
    // its own pair, so a draw never depends on the draws before it.
    const std::uint64_t base = splitMix(seed ^ splitMix(index));
    const double u1 = unitInterval(splitMix(base));
    const double u2 = unitInterval(splitMix(base + 1));
    // Stored as a double: x87 code would otherwise hand back an 80-bit
    // register, and the same draw could compare unequal to itself.
    const volatile double draw = std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
    return draw;
}

std::int32_t clampCount(double count) {
    if (!(count > COUNT_MIN)) return COUNT_MIN;  // NaN too
    if (count >= COUNT_MAX) return COUNT_MAX;
    return static_cast<std::int32_t>(std::lround(count));
}

std::optional<std::vector<SeriesPoint>> parseSeries(std::string_view text, std::string& error) {
    std::vector<SeriesPoint> points;
    std::size_t lineNumber = 0;
    bool first = true;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        const bool header = first && !hasDigit(line);
        first = false;
        if (header) continue;
        const std::size_t comma = line.find(',');
        const auto time = comma == std::string_view::npos ? std::nullopt : parseNumber<std::int64_t>(trimmed(line.substr(0, comma)));
        const auto count = comma == std::string_view::npos ? std::nullopt : parseNumber<double>(trimmed(line.substr(comma + 1)));
        if (!time || !count || *time < 0) {
            error = "line " + std::to_string(lineNumber) + ": not \"time_ms,count\"";
            return std::nullopt;
        }
        if (!points.empty() && *time < points.back().timeMs) {
            error = "line " + std::to_string(lineNumber) + ": time goes back";
            return std::nullopt;
        }
        if (points.size() == SERIES_POINT_LIMIT) {
            error = "more than " + std::to_string(SERIES_POINT_LIMIT) + " points";
            return std::nullopt;
        }
        points.push_back({*time, *count});
    }
    if (points.empty()) {
        error = "no \"time_ms,count\" line";
        return std::nullopt;
    }
    return points;
}

}  // namespace vardel::sim
