#include <gtest/gtest.h>

#include "cli/failure.hpp"
#include "device/protocol.hpp"
#include "measure/analog.hpp"
#include "measure/binary_io.hpp"
#include "measure/sensors.hpp"

using namespace vardel;

namespace {

IdentificationFields fieldsFrom(const std::string& reply) {
    IdentificationFields fields;
    applyIdentificationReply(reply, fields);
    return fields;
}

}  // namespace

TEST(Identification, FullReplyWithTrailingComma) {
    const auto fields = fieldsFrom("0,0,0,0,0,1,0,0,130,40,60,200,0,0,0,0,0,0,0,0,");
    EXPECT_EQ(fields.slots[5], 1);
    EXPECT_EQ(fields.slots[8], 130);
    EXPECT_EQ(fields.slots[9], 40);
    EXPECT_EQ(fields.slots[10], 60);
    EXPECT_EQ(fields.slots[11], 200);

    const auto numbered = fieldsFrom("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,");
    for (int k = 0; k < 20; ++k) EXPECT_EQ(identificationField(numbered, k), k + 1);
}

TEST(Identification, LastFieldWithoutCommaLosesItsLastCharacter) {
    const auto fields = fieldsFrom("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,234");
    EXPECT_EQ(fields.slots[18], 19);
    EXPECT_EQ(fields.slots[19], 23);
}

TEST(Identification, ShortReplyRepeatsItsRemainder) {
    const auto fields = fieldsFrom("5,78");
    EXPECT_EQ(fields.slots[0], 5);
    for (int k = 1; k < 20; ++k) EXPECT_EQ(fields.slots[static_cast<std::size_t>(k)], 7);
}

TEST(Identification, EmptyOrOneCharacterFieldsLeaveSlots) {
    IdentificationFields fields;
    fields.slots.fill(9);
    applyIdentificationReply("", fields);
    for (int v : fields.slots) EXPECT_EQ(v, 9);
    applyIdentificationReply("1,,", fields);  // the remainder "," gives empty fields
    EXPECT_EQ(fields.slots[0], 1);
    for (int k = 1; k < 20; ++k) EXPECT_EQ(fields.slots[static_cast<std::size_t>(k)], 9);
    applyIdentificationReply("4,7", fields);
    EXPECT_EQ(fields.slots[0], 4);
    EXPECT_EQ(fields.slots[1], 9);
    applyIdentificationReply(" 3,", fields);  // a leading blank is accepted
    EXPECT_EQ(fields.slots[0], 3);
}

TEST(Identification, MalformedFieldsFailWithTheirText) {
    auto failingText = [](const std::string& reply) {
        try {
            fieldsFrom(reply);
        } catch (const DriverFailure& failure) {
            return failure.insert;
        }
        return std::string("<accepted>");
    };
    EXPECT_EQ(failingText("1,,2"), ",");
    EXPECT_EQ(failingText(",5,6"), ",5,");
    EXPECT_EQ(failingText("1 ,2"), "1 ");
    EXPECT_EQ(failingText("a,"), "a");
}

TEST(DeviceCommands, DigitFilterAndBitCommands) {
    EXPECT_EQ(keepDigits(" 512 "), "512");
    EXPECT_EQ(keepDigits("V=512"), "512");
    EXPECT_EQ(keepDigits("-1.5"), "15");
    EXPECT_EQ(keepDigits(std::string("\0a9\xFF", 4)), "9");
    EXPECT_EQ(bitCommand("ZEBIT", 2), "ZEBIT 2\r");
    EXPECT_EQ(bitCommand("ZSBIT", -1), "ZSBIT /\r");
    EXPECT_EQ(bitCommand("ZRBIT", 11), "ZRBIT ;\r");
    EXPECT_EQ(bitCommand("ZEBIT", 256 + 1), "ZEBIT 1\r");
    EXPECT_EQ(bitCommand("ZEBIT", -48), std::string("ZEBIT \0\r", 8));
}

TEST(SensorNames, BandsOfBothKinds) {
    EXPECT_EQ(nameForSensor(0, 0, 150), "pH");
    EXPECT_EQ(nameForSensor(1, 1, 57), "opacit\xE9 liquide");
    EXPECT_EQ(nameForSensor(2, 0, 71), "EA inconnue B");
    EXPECT_EQ(nameForSensor(2, 0, 70), "+/- 2 V");
    EXPECT_EQ(nameForSensor(2, 0, 72), "+/- 2 V");
    EXPECT_EQ(nameForSensor(3, 5, 100), "EA inconnue C");
    EXPECT_EQ(nameForSensor(0, 0, 16), "EA inconnue @");
    EXPECT_EQ(nameForSensor(0, 0, 0), "(rien)");
    EXPECT_EQ(nameForSensor(0, 0, 15), "(rien)");
    EXPECT_EQ(nameForSensor(0, 0, -1), "EA inconnue @");
    EXPECT_EQ(nameForSensor(0, 0, 65536 + 150), "EA inconnue @");
    EXPECT_EQ(nameForSensor(0, 0, 177), "thermom\xE8tre 0..100\xB0" "C");
    EXPECT_EQ(nameForSensor(0, 0, 194), "luxm\xE8tre W/m\xB2");
    EXPECT_EQ(nameForSensor(0, 0, 241), "conductim\xE9trie 0..20mS");
    EXPECT_EQ(nameForSensor(0, 0, 242), "EA inconnue @");
    EXPECT_EQ(nameForSensor(0, 1, 150), "EA inconnue @");
    EXPECT_EQ(nameForSensor(1, 1, 143), "flux calorifique+/-1,2kW/m\xB2");
    EXPECT_EQ(nameForSensor(1, 1, 215), "fermentation \xE9thanol");
    EXPECT_EQ(nameForSensor(1, 1, 128), "temp\xE9rature -10/+110\xB0" "C");
}

TEST(AnalogScaling, BandsKindsAndTheDefault) {
    EXPECT_EQ(convertReading(612, 0, 100), 9.0);
    EXPECT_EQ(convertReading(256, 0, 60), -50.19607843137255);
    EXPECT_EQ(convertReading(1020, 0, 71), 1.992156862745098);
    EXPECT_EQ(convertReading(512, 0, 62), 0.0);
    EXPECT_EQ(convertReading(400, 0, 167), 1367.1875);
    EXPECT_EQ(convertReading(0, 1, 59), 100.0);
    EXPECT_EQ(convertReading(400, 1, 130), 1367.1875);
    EXPECT_EQ(convertReading(1023, 0, 150), 14.041176470588235);
    EXPECT_EQ(convertReading(NO_VALUE, 0, 0), -2655.76171875);
    EXPECT_EQ(convertReading(400, 7, 100), 1367.1875);
    // The 16-bit code decides the scale: 65536 + 150 is the pH scale.
    EXPECT_EQ(convertReading(1023, 0, static_cast<std::uint16_t>(65536 + 150)), 14.041176470588235);
}

TEST(BinaryOutputs, RangesAndTheMirror) {
    SerialLink link;  // never opened: writes go nowhere
    OutputMirror mirror;
    EXPECT_EQ(writeBinaryOutput(link, mirror, 3, 1), 1);
    EXPECT_EQ(readBinaryOutput(mirror, 3), 1);
    EXPECT_EQ(writeBinaryOutput(link, mirror, 8, 1), 1);
    EXPECT_EQ(mirror.bits, 0x08);
    EXPECT_EQ(writeBinaryOutput(link, mirror, 3, 0), 0);
    EXPECT_EQ(mirror.bits, 0);
    EXPECT_EQ(writeBinaryOutput(link, mirror, 9, 1), NO_VALUE);
    EXPECT_EQ(writeBinaryOutput(link, mirror, -1, 0), NO_VALUE);
    EXPECT_EQ(writeBinaryOutput(link, mirror, 2, 2), NO_VALUE);
    EXPECT_EQ(writeBinaryOutput(link, mirror, 7, 1), 1);
    EXPECT_EQ(readBinaryOutput(mirror, 7), 1);
    EXPECT_EQ(readBinaryOutput(mirror, 8), 0);
    EXPECT_EQ(binaryInputName(5), "entr\xE9" "e binaire 5");
    EXPECT_EQ(binaryInputName(6), "");
    EXPECT_EQ(binaryOutputName(7), "sortie logique 7");
    EXPECT_EQ(binaryOutputName(8), "");
    EXPECT_EQ(binaryOutputName(-1), "");
}
