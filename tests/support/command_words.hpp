#pragma once
// Every command word of vardel1 against one device, with the line it prints
// and, in order, the requests the device receives: one table for the Linux
// end-to-end tests and the Windows ones under Wine.

#include <string>
#include <vector>

namespace vardel::test {

// A thermometer-like sensor on input 1 and the "0..15V" one on input 0, a
// binary input 2 that is on.
inline const std::vector<std::string> SENSOR_DEVICE{"ident 0,0,0,0,0,0,1,0,100,60,59,71,0,0,0,0,0,0,0,0,",
                                                    "analog 0 612",
                                                    "analog 1 256",
                                                    "analog 2 0",
                                                    "analog 3 1020",
                                                    "binary 2 1"};

struct CommandWordCase {
    std::vector<std::string> arguments;
    std::string line;  // standard output without its CR LF; exit status 0
};

inline const std::string COM1_TITLE = "Orphy portable2, Com1:";
inline const std::string COM1_DETAIL =
    "pilote ex\xE9" "cutable Orphy Portable 2 en Com1:, par Marlevoux, le 6 dec 07";

// All 37 words, run in this order on one SENSOR_DEVICE.
inline const std::vector<CommandWordCase> COMMAND_WORDS{
    {{"ea", "0"}, "612"},
    {{"nea", "0"}, "0..15V"},
    {{"ead", "0"}, "9"},
    {{"nead", "1"}, "+/-100 mV"},
    {{"sa", "1", "2"}, "-777"},
    {{"nsa", "1"}, ""},
    {{"rsa", "1"}, "-777"},
    {{"sad", "1", "2"}, "-777"},
    {{"nsad", "1"}, ""},
    {{"rsad", "1"}, "-777"},
    {{"eb", "2"}, "1"},
    {{"neb", "5"}, "entr\xE9" "e binaire 5"},
    {{"sb", "3", "1"}, "1"},
    {{"nsb", "7"}, "sortie logique 7"},
    {{"rsb", "3"}, "0"},
    {{"titre"}, COM1_TITLE},
    {{"detail"}, COM1_DETAIL},
    {{"stdea", "1"}, "256"},
    {{"stdnea", "2"}, "opacit\xE9 liquide"},
    {{"stdead", "1"}, "-50.1960784313725483"},
    {{"stdeas", "1"}, "-50.1960792541503906"},
    {{"stdnead", "3"}, "EA inconnue C"},
    {{"stdsa", "1", "2"}, "-777"},
    {{"stdnsa", "1"}, ""},
    {{"stdrsa", "1"}, "-777"},
    {{"stdsad", "1", "2"}, "-777"},
    {{"stdsas", "1", "2"}, "-777"},
    {{"stdnsad", "1"}, ""},
    {{"stdrsad", "1"}, "-777"},
    {{"stdrsas", "1"}, "-777"},
    {{"stdeb", "2"}, "1"},
    {{"stdneb", "6"}, ""},
    {{"stdsb", "3", "0"}, "0"},
    {{"stdnsb", "8"}, ""},
    {{"stdrsb", "8"}, "0"},
    {{"stdtitre", "1E19"}, COM1_TITLE},
    {{"stddetail"}, COM1_DETAIL},
};

// What the device receives from the whole table.
inline const std::string COMMAND_WORDS_RECEIVED =
    "ZEA 0\rZRECO\rZRECO\rZEA 0\rZRECO\rZEBIT 2\rZSBIT 3\rZEA 1\rZRECO\rZRECO\rZEA 1\rZRECO\rZEA 1\r"
    "ZRECO\rZEBIT 2\rZRBIT 3\r";

}  // namespace vardel::test
