// Binary inputs and outputs.

#include <gtest/gtest.h>

#include "measure/binary_io.hpp"
#include "tests/support/fake_port.hpp"

using namespace vardel;

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

// What each operation sends, and what it answers.
TEST(BinaryIo, ExchangesOverTheLink) {
    using Operation = std::int32_t (*)(SerialLink&, OutputMirror&);
    struct Case {
        const char* what;
        Operation operation;
        std::vector<fake::ScriptedReply> replies;
        std::vector<std::string> sent;
        std::int32_t answer;
        std::uint8_t mirror;
    };
    const std::vector<Case> cases = {
        {"eb 2", [](SerialLink& l, OutputMirror&) { return readBinaryInput(l, 2); }, {{0, "1\r"}}, {"ZEBIT 2\r"}, 1, 0},
        // The request goes out even though 6 is no input.
        {"eb 6", [](SerialLink& l, OutputMirror&) { return readBinaryInput(l, 6); }, {{0, "1\r"}}, {"ZEBIT 6\r"}, NO_VALUE, 0},
        // No reply is no reading; an empty reply that came is read as 0.
        {"eb 0 silent", [](SerialLink& l, OutputMirror&) { return readBinaryInput(l, 0); }, {}, {"ZEBIT 0\r"}, NO_VALUE, 0},
        {"eb 0 empty", [](SerialLink& l, OutputMirror&) { return readBinaryInput(l, 0); }, {{0, "\r"}}, {"ZEBIT 0\r"}, 0, 0},
        {"sb 3 1", [](SerialLink& l, OutputMirror& m) { return writeBinaryOutput(l, m, 3, 1); }, {}, {"ZSBIT 3\r"}, 1, 0x08},
        {"sb 3 0", [](SerialLink& l, OutputMirror& m) { return writeBinaryOutput(l, m, 3, 0); }, {}, {"ZRBIT 3\r"}, 0, 0},
        // Output 8 is switched but not recorded.
        {"sb 8 1", [](SerialLink& l, OutputMirror& m) { return writeBinaryOutput(l, m, 8, 1); }, {}, {"ZSBIT 8\r"}, 1, 0},
        {"sb 9 1", [](SerialLink& l, OutputMirror& m) { return writeBinaryOutput(l, m, 9, 1); }, {}, {}, NO_VALUE, 0},
        {"sb 2 2", [](SerialLink& l, OutputMirror& m) { return writeBinaryOutput(l, m, 2, 2); }, {}, {}, NO_VALUE, 0},
    };
    for (const Case& c : cases) {
        fake::OpenedDevice opened(c.replies);
        OutputMirror mirror;
        EXPECT_EQ(c.operation(opened.link, mirror), c.answer) << c.what;
        EXPECT_EQ(opened.device.written, c.sent) << c.what;
        EXPECT_EQ(mirror.bits, c.mirror) << c.what;
    }
}
