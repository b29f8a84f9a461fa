#include "sim/sensor_names.hpp"

#include <cmath>
#include <limits>

#include "device/protocol.hpp"
#include "measure/analog.hpp"
#include "measure/sensors.hpp"
#include "sim/signal.hpp"
#include "text/failure.hpp"
#include "text/windows1252.hpp"

namespace vardel::sim {
namespace {

// The tables' kinds and codes are small numbers; a generous search keeps
// this free of how the tables are laid out.
constexpr std::int32_t KIND_LIMIT = 8;
constexpr std::int32_t CODE_LIMIT = 1024;
constexpr int SLOT_COUNT = 20;

IdentificationFields fieldsOf(std::string_view reply) {
    IdentificationFields fields;
    try {
        applyIdentificationReply(std::string(reply.substr(0, reply.find('\r'))), fields);
    } catch (const DriverFailure&) {
        // The drivers would end the run; the fields read before stay.
    }
    return fields;
}

}  // namespace

std::optional<SensorSlots> sensorForName(std::string_view utf8Name, int input) {
    for (std::int32_t kind = 0; kind < KIND_LIMIT; ++kind) {
        for (std::int32_t code = 0; code < CODE_LIMIT; ++code) {
            if (utf8FromWindows1252(nameForSensor(input, kind, code)) == utf8Name) return SensorSlots{kind, code};
        }
    }
    return std::nullopt;
}

SensorSlots sensorInReply(std::string_view reply, int input) {
    const IdentificationFields fields = fieldsOf(reply);
    return {identificationField(fields, 4 + input), identificationField(fields, 8 + input)};
}

std::string replyWithSensor(std::string_view reply, int input, SensorSlots slots) {
    IdentificationFields fields = fieldsOf(reply);
    fields.slots.at(static_cast<std::size_t>(4 + input)) = slots.kind;
    fields.slots.at(static_cast<std::size_t>(8 + input)) = slots.code;
    std::string text;
    for (int k = 0; k < SLOT_COUNT; ++k) text += std::to_string(identificationField(fields, k)) + ",";
    return text + "\r";
}

std::int32_t nearestCount(double reading, SensorSlots slots) {
    const auto code = static_cast<std::uint16_t>(static_cast<std::uint32_t>(slots.code) & 0xFFFF);
    std::int32_t best = COUNT_MIN;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::int32_t count = COUNT_MIN; count <= COUNT_MAX; ++count) {
        const double distance = std::fabs(convertReading(count, slots.kind, code) - reading);
        if (distance < bestDistance) {
            best = count;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace vardel::sim
