#pragma once
// The system's sensor tables seen from the device's side: the code that
// gives a name, and the count that gives a reading.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vardel::sim {

// What the identification says of one input: slot 4 + N and slot 8 + N.
struct SensorSlots {
    std::int32_t kind = 0;
    std::int32_t code = 0;
};

// The lowest kind and code for which the drivers print `utf8Name` for input
// `input` (0..3); none when no code gives that name.
std::optional<SensorSlots> sensorForName(std::string_view utf8Name, int input);

// Input `input`'s slots as the drivers read them from an identification
// reply (its bytes up to the carriage return); a reply the drivers would
// fail on leaves the slots at 0.
SensorSlots sensorInReply(std::string_view reply, int input);

// The identification reply with input `input`'s slots set: all 20 fields,
// each followed by a comma, and the carriage return.
std::string replyWithSensor(std::string_view reply, int input, SensorSlots slots);

// The count 0..1023 whose reading, converted for this sensor, is nearest to
// `reading`; the lowest such count on a tie.
std::int32_t nearestCount(double reading, SensorSlots slots);

}  // namespace vardel::sim
