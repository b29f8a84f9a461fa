#include "sim/sensor_names.hpp"

#include <cmath>
#include <limits>

#include "device/protocol.hpp"
#include "measure/analog.hpp"
#include "measure/sensors.hpp"
#include "sim/signal.hpp"
#include "text/failure.hpp"

namespace vardel::sim {
namespace {

// The characters of bytes 0x80..0x9F; 0 where the byte names none.
constexpr char16_t WINDOWS_1252_HIGH[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The tables' kinds and codes are small numbers; a generous search keeps
// this free of how the tables are laid out.
constexpr std::int32_t KIND_LIMIT = 8;
constexpr std::int32_t CODE_LIMIT = 1024;
constexpr int SLOT_COUNT = 20;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

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

std::string utf8FromWindows1252(std::string_view bytes) {
    std::string out;
    for (char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        const char32_t c = b >= 0x80 && b < 0xA0 ? WINDOWS_1252_HIGH[b - 0x80] : b;
        appendUtf8(out, c == 0 ? 0xFFFD : c);
    }
    return out;
}

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
