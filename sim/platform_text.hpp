#pragma once
// The parts of the simulator's command line that name the platform's port.

#include <string_view>

namespace vardel::sim {

struct PlatformText {
    std::string_view portOption;   // the option naming the port the driver opens
    std::string_view usageHead;    // the usage line, what the device does, its options
    std::string_view setOption;    // the help of --set, quoted as the platform's shell quotes
    std::string_view hangupLines;  // the help of "hangup" and "reconnect"
};

// Defined in platform_text_posix.cpp or platform_text_win32.cpp.
const PlatformText& platformText();

}  // namespace vardel::sim
