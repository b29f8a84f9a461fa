#include "cli/build_constants.hpp"

namespace vardel {

namespace {

constexpr std::string_view LINE_SETTINGS = "baud=9600 parity=n data=8 stop=1";

// "exécutable" with é as the Windows-1252 byte 0xE9.
constexpr BuildConstants COM1{
    "Com1:", LINE_SETTINGS, "Orphy portable2, Com1:",
    "pilote ex\xE9" "cutable Orphy Portable 2 en Com1:, par Marlevoux, le 6 dec 07"};
constexpr BuildConstants COM3{
    "Com3:", LINE_SETTINGS, "Orphy portable2, Com3:",
    "pilote ex\xE9" "cutable Orphy Portable 2 en Com3:, par Marlevoux, le 6 dec 07"};

}  // namespace

BuildConstants buildConstantsFor(int portNumber) { return portNumber == 3 ? COM3 : COM1; }

}  // namespace vardel
