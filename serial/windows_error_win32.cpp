#include <windows.h>

#include "serial/windows_error.hpp"

namespace vardel {

std::string windowsErrorText(unsigned long error) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
    if (error == ERROR_ACCESS_DENIED) message += " (another program may hold the port)";
    return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace vardel
