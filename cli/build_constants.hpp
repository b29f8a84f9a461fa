#pragma once
// What distinguishes the two programs: their port and the texts naming it.

#include <string_view>

namespace vardel {

struct BuildConstants {
    std::string_view portName;
    std::string_view lineSettings;
    std::string_view title;
    std::string_view detail;
};

// The constants of the program on port "Com<portNumber>:" (1 or 3).
BuildConstants buildConstantsFor(int portNumber);

}  // namespace vardel
