#pragma once
// Analog readings converted to the unit of the identified sensor.

#include <cstdint>

#include "measure/sensors.hpp"

namespace vardel {

// The scaling of a raw count for a sensor of the given kind and 16-bit code.
double convertReading(std::int32_t raw, std::int32_t kind, std::uint16_t code);

double readAnalogConverted(SerialLink& link, IdentificationFields& fields, SensorTable& table, std::int32_t n);

}  // namespace vardel
