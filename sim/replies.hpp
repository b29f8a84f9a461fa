#pragma once
// The replies the simulated device works out from its scenario.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario.hpp"

namespace vardel::sim {

// What the device keeps between requests: the number of noise draws each
// input (by its number text) has had.
struct DeviceRecord {
    std::map<std::string, std::uint64_t> noiseDraws;
};

// The bytes answering one command (received without its carriage return),
// suffix included, `timeMs` after the simulator started; none when the
// device stays silent.
std::optional<std::string> replyTo(const Scenario& scenario, std::string_view command, std::int64_t timeMs,
                                   DeviceRecord& record);

// Applies the timed lines that are due at `timeMs` and takes them off the
// list. Returns the messages of those that failed, each naming its line.
std::vector<std::string> applyDueLines(Scenario& scenario, std::int64_t timeMs);

}  // namespace vardel::sim
