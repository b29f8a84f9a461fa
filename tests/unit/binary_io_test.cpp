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
