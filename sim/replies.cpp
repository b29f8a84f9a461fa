#include "sim/replies.hpp"

#include <algorithm>
#include <cmath>

#include "sim/numbers.hpp"
#include "sim/sensor_names.hpp"

namespace vardel::sim {
namespace {

std::optional<ReplyRule> commandOf(std::string_view command) {
    if (command == "ZRECO") return ReplyRule{Command::Ident, std::nullopt, std::nullopt, std::nullopt};
    if (command.substr(0, 4) == "ZEA ") return ReplyRule{Command::Analog, std::string(command.substr(4)), std::nullopt, std::nullopt};
    if (command.substr(0, 6) == "ZEBIT " && command.size() == 7) {
        return ReplyRule{Command::Binary, std::string(command.substr(6)), std::nullopt, std::nullopt};
    }
    return std::nullopt;
}

// The last rule for the command that matches the key: the one that decides.
const ReplyRule* decidingRule(const Scenario& scenario, Command command, const std::optional<std::string>& key) {
    for (auto rule = scenario.rules.rbegin(); rule != scenario.rules.rend(); ++rule) {
        if (rule->command != command) continue;
        if (rule->key && rule->key != key) continue;
        return &*rule;
    }
    return nullptr;
}

// The count of a reply that is a whole number 0..1023 and its carriage
// return, which noise can be added to.
std::optional<double> plainCount(const std::optional<std::string>& reply) {
    if (!reply || reply->size() < 2 || reply->back() != '\r') return std::nullopt;
    const auto count = parseNumber<std::int32_t>(std::string_view(*reply).substr(0, reply->size() - 1));
    if (!count || *count < COUNT_MIN || *count > COUNT_MAX) return std::nullopt;
    return *count;
}

double signalValue(const Scenario& scenario, const Signal& signal, std::int64_t timeMs) {
    if (const auto* wave = std::get_if<Wave>(&signal)) return waveCount(*wave, timeMs);
    if (const auto* series = std::get_if<Series>(&signal)) return seriesCount(*series, timeMs);
    const auto& target = std::get<TargetReading>(signal);
    const ReplyRule* ident = decidingRule(scenario, Command::Ident, std::nullopt);
    const std::string reply = ident != nullptr && ident->reply ? *ident->reply : std::string();
    return nearestCount(target.reading, sensorInReply(reply, target.input));
}

const Noise* noiseFor(const Scenario& scenario, const std::string& key) {
    for (auto rule = scenario.noise.rbegin(); rule != scenario.noise.rend(); ++rule) {
        if (rule->key && rule->key != key) continue;
        return rule->noise.standardDeviation > 0 ? &rule->noise : nullptr;
    }
    return nullptr;
}

}  // namespace

std::optional<std::string> replyTo(const Scenario& scenario, std::string_view command, std::int64_t timeMs,
                                   DeviceRecord& record) {
    const auto received = commandOf(command);
    if (!received) return std::nullopt;
    const ReplyRule* rule = decidingRule(scenario, received->command, received->key);
    if (rule == nullptr) return std::nullopt;
    if (rule->command == Command::Analog) {
        const std::string& key = *received->key;
        const Noise* noise = noiseFor(scenario, key);
        const auto plain = noise != nullptr && !rule->signal ? plainCount(rule->reply) : std::nullopt;
        if (rule->signal || plain) {
            double count = plain ? *plain : signalValue(scenario, *rule->signal, timeMs);
            if (noise != nullptr) {
                count += noise->standardDeviation * gaussianDraw(noise->seed, record.noiseDraws[key]++);
            }
            return std::to_string(clampCount(count)) + "\r" + scenario.suffix;
        }
    }
    if (rule->signal) {
        const double value = signalValue(scenario, *rule->signal, timeMs);
        return std::to_string(std::lround(std::clamp(value, -1e9, 1e9))) + "\r" + scenario.suffix;
    }
    if (!rule->reply) return std::nullopt;
    return *rule->reply + scenario.suffix;
}

std::vector<std::string> applyDueLines(Scenario& scenario, std::int64_t timeMs) {
    std::vector<std::string> errors;
    while (!scenario.timed.empty() && scenario.timed.front().atMs <= timeMs) {
        const TimedLine due = scenario.timed.front();
        scenario.timed.erase(scenario.timed.begin());
        std::string error;
        if (!applyScenarioLine(due.line, scenario, error)) {
            errors.push_back("at " + std::to_string(due.atMs) + " '" + due.line + "': " + error);
        }
    }
    return errors;
}

}  // namespace vardel::sim
