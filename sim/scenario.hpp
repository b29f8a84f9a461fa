#pragma once
// What the simulated device is set to answer, and reading the scenario
// lines that set it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/signal.hpp"

namespace vardel::sim {

enum class Command { Ident, Analog, Binary };

struct ReplyRule {
    Command command = Command::Ident;
    std::optional<std::string> key;    // "ZEA" number text or "ZEBIT" index byte; none: any
    std::optional<std::string> reply;  // bytes sent; none: no reply, unless a signal is set
    std::optional<Signal> signal;      // the value at the moment of the request, a carriage return
};

// Noise on the counts of the analog inputs that `key` matches.
struct NoiseRule {
    std::optional<std::string> key;  // "ZEA" number text; none: any
    Noise noise;
};

// A scenario line applied once the simulator has run `atMs` milliseconds.
struct TimedLine {
    std::int64_t atMs = 0;
    std::string line;
};

// The device hangs up once, in the middle of its next reply.
struct Hangup {
    std::uint32_t afterBytes = 0;  // bytes of the reply sent before
    std::uint32_t waitMs = 0;      // then this long until the hang-up
};

struct Scenario {
    std::vector<ReplyRule> rules;  // the last rule that matches a command decides
    std::uint32_t delayMs = 0;     // before each reply
    std::uint32_t baud = 0;        // reply bytes paced at 10 bits each; 0: at once
    std::string suffix;            // sent right after each reply
    std::optional<Hangup> hangup;
    std::optional<std::uint32_t> reconnectMs;  // back on a new terminal after a hang-up; none: never
    std::uint32_t floodMs = 0;     // after each reply, floodText over and over this long
    std::string floodText;
    std::vector<NoiseRule> noise;  // the last rule that matches an input decides
    std::vector<TimedLine> timed;  // in the order they apply
};

// Applies one scenario line. Returns false with `error` set when the line
// can't be read; `scenario` may then hold part of it.
bool applyScenarioLine(std::string_view line, Scenario& scenario, std::string& error);

// Applies the lines of a scenario text; `error` names the line at fault.
bool applyScenarioText(std::string_view text, Scenario& scenario, std::string& error);

inline constexpr std::size_t DATA_FILE_LIMIT = 16 * 1024 * 1024;

// The text of a scenario or series file: a regular file of at most 16 MiB.
// None for anything else, with `error` naming the file and why.
std::optional<std::string> readDataFile(const std::string& path, std::string& error);

// The text of a built-in scenario ("demo", "silent", "slow").
std::optional<std::string> builtinScenario(std::string_view name);

// "\r \n \t \0 \\ \xHH \s" decoded; none for a bad escape.
std::optional<std::string> decodeEscapes(std::string_view text);

}  // namespace vardel::sim
