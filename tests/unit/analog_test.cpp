// Raw counts converted to the unit of the identified sensor.

#include <gtest/gtest.h>

#include "measure/analog.hpp"

using namespace vardel;

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
