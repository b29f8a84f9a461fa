// The device's commands and the reading of their replies.

#include <gtest/gtest.h>

#include "device/protocol.hpp"
#include "tests/support/fake_port.hpp"
#include "text/failure.hpp"

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

// What goes over the link, and what comes of the reply.
TEST(DeviceCommands, AnalogRequestsOverTheLink) {
    struct Case {
        std::int32_t input;
        std::vector<fake::ScriptedReply> replies;
        std::string sent;
        std::int32_t count;
    };
    const std::vector<Case> cases = {
        {1, {{0, "512\r"}}, "ZEA 1\r", 512},
        {3, {{20, "V=1023\r"}}, "ZEA 3\r", 1023},
        {-3, {{0, "-12\r"}}, "ZEA -3\r", 12},
        {0, {}, "ZEA 0\r", NO_VALUE},         // silent: the marker after the wait
        {2, {{0, "none\r"}}, "ZEA 2\r", NO_VALUE},  // no digit in the reply
    };
    for (const Case& c : cases) {
        fake::OpenedDevice opened(c.replies);
        EXPECT_EQ(readAnalogRaw(opened.link, c.input), c.count) << c.sent;
        EXPECT_EQ(opened.device.written, std::vector<std::string>{c.sent});
    }
}

TEST(DeviceCommands, IdentificationRequestFillsTheSlots) {
    fake::OpenedDevice opened({{0, "0,0,0,0,0,1,0,0,130,40,60,200,0,0,0,0,0,0,0,0,\r"}});
    IdentificationFields fields;
    requestIdentification(opened.link, fields);
    EXPECT_EQ(opened.device.written, std::vector<std::string>{"ZRECO\r"});
    EXPECT_EQ(fields.slots[5], 1);
    EXPECT_EQ(fields.slots[11], 200);
}
