#include "measure/sensors.hpp"

#include <span>

namespace vardel {

namespace {

// Inclusive band of sensor codes and the name it gives.
struct NameBand {
    std::int32_t low;
    std::int32_t high;
    const char* name;
};

// Names are Windows-1252 bytes: é 0xE9, è 0xE8, ° 0xB0, ² 0xB2.
constexpr NameBand KIND0_NAMES[] = {
    {0, 15, "(rien)"},
    {21, 25, "synchro analog."},
    {33, 37, "pression sanguine"},
    {40, 44, "Teslam\xE8tre"},
    {47, 49, "Pression absolue"},
    {58, 60, "+/-100 mV"},
    {62, 66, "an\xE9mom\xE8tre"},
    {69, 70, "+/- 2 V"},
    {72, 72, "+/- 2 V"},
    {78, 82, "+/-6 V"},
    {89, 93, "+/-15 V"},
    {100, 104, "0..15V"},
    {109, 113, "+/-20 mA"},
    {119, 123, "+/-100 mA"},
    {132, 136, "+/-500 mA"},
    {139, 143, "0..500 mA"},
    {150, 154, "pH"},
    {156, 160, "oxyg\xE8ne"},
    {167, 171, "temp -40/+50\xB0" "C"},
    {177, 181, "thermom\xE8tre 0..100\xB0" "C"},
    {186, 190, "micro son"},
    {194, 198, "luxm\xE8tre W/m\xB2"},
    {204, 208, "pression rel. +/- 20 hPa"},
    {211, 215, "pression rel. +/-15 hPa"},
    {218, 222, "fourchette optique"},
    {227, 231, "rythme cardiaque"},
    {237, 241, "conductim\xE9trie 0..20mS"},
};

constexpr NameBand KIND1_NAMES[] = {
    {57, 61, "opacit\xE9 liquide"},
    {128, 132, "temp\xE9rature -10/+110\xB0" "C"},
    {139, 143, "flux calorifique+/-1,2kW/m\xB2"},
    {211, 215, "fermentation \xE9thanol"},
};

const char* findName(std::span<const NameBand> bands, std::int32_t code) {
    for (const NameBand& band : bands) {
        if (code >= band.low && code <= band.high) return band.name;
    }
    return nullptr;
}

}  // namespace

std::string nameForSensor(int input, std::int32_t kind, std::int32_t code) {
    const char* name = kind == 0 ? findName(KIND0_NAMES, code) : kind == 1 ? findName(KIND1_NAMES, code) : nullptr;
    if (name != nullptr) return name;
    // The letter is 64 + input on purpose: input 1 is "A", input 0 is "@".
    return std::string("EA inconnue ") + static_cast<char>(64 + input);
}

void identifySensors(SerialLink& link, IdentificationFields& fields, SensorTable& table) {
    requestIdentification(link, fields);
    sensorsFromFields(fields, table);
}

void sensorsFromFields(const IdentificationFields& fields, SensorTable& table) {
    for (int j = 0; j < 4; ++j) {
        const std::int32_t code = identificationField(fields, 8 + j);
        SensorEntry& entry = table.entries[static_cast<std::size_t>(j)];
        entry.code = static_cast<std::uint16_t>(static_cast<std::uint32_t>(code) & 0xFFFF);
        entry.kind = identificationField(fields, 4 + j);
        entry.name = nameForSensor(j, entry.kind, code);
    }
}

std::string sensorName(SerialLink& link, IdentificationFields& fields, SensorTable& table, std::int32_t n) {
    // On purpose before the range check, as in readAnalogConverted: the
    // device is asked for its identification whatever the input number.
    identifySensors(link, fields, table);
    if (n < 0 || n > 3) return std::string();
    return table.entries[static_cast<std::size_t>(n)].name;
}

std::uint16_t sensorCode(const SensorTable& table, int j) { return table.entries.at(static_cast<std::size_t>(j)).code; }

std::int32_t sensorKind(const SensorTable& table, int j) { return table.entries.at(static_cast<std::size_t>(j)).kind; }

}  // namespace vardel
