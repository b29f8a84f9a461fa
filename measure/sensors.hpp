#pragma once
// The sensors that the device reports on its four analog inputs.

#include <array>
#include <cstdint>
#include <string>

#include "device/protocol.hpp"

namespace vardel {

struct SensorEntry {
    std::uint16_t code = 0;
    std::int32_t kind = 0;
    std::string name;
};

struct SensorTable {
    std::array<SensorEntry, 4> entries{};
};

// The name of a sensor from its kind and full 32-bit code; the default
// "EA inconnue " + char(64 + input) when no row matches.
std::string nameForSensor(int input, std::int32_t kind, std::int32_t code);

void identifySensors(SerialLink& link, IdentificationFields& fields, SensorTable& table);
// The four entries from identification fields already read.
void sensorsFromFields(const IdentificationFields& fields, SensorTable& table);
std::string sensorName(SerialLink& link, IdentificationFields& fields, SensorTable& table, std::int32_t n);
std::uint16_t sensorCode(const SensorTable& table, int j);
std::int32_t sensorKind(const SensorTable& table, int j);

}  // namespace vardel
