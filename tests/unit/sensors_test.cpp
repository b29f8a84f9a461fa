// The names of the sensors on the analog inputs.

#include <gtest/gtest.h>

#include "measure/sensors.hpp"

using namespace vardel;

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
