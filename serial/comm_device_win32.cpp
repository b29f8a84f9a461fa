#include "serial/comm_device_win32.hpp"

#include <cstdlib>
#include <string>

#include "serial/windows_error.hpp"
#include "serial/windows_port_name.hpp"

namespace vardel {

namespace {

// A serial port is a character device whose line control can be read; a
// file, a pipe, the console or NUL is not.
bool isCommunicationsPort(HANDLE handle) {
    if (GetFileType(handle) != FILE_TYPE_CHAR) return false;
    DCB control{};
    control.DCBlength = sizeof control;
    return GetCommState(handle, &control) != 0;
}

}  // namespace

HANDLE openCommunicationsDevice(const SerialLink& link) {
    const std::string variable = windowsPortVariable(link.portName);
    const WindowsPortChoice choice =
        chooseWindowsPort(link.portName, variable, variable.empty() ? nullptr : std::getenv(variable.c_str()));
    traceLink(link, "port " + link.portName + " is " + choice.deviceName + " (" + choice.origin + ")");
    const HANDLE handle = CreateFileA(choice.deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        traceLink(link, "open failed: " + windowsErrorText(GetLastError()));
        return INVALID_HANDLE_VALUE;
    }
    if (!isCommunicationsPort(handle)) {
        CloseHandle(handle);
        traceLink(link, "refused: " + choice.deviceName + " is not a communications port");
        return INVALID_HANDLE_VALUE;
    }
    traceLink(link, "opened " + choice.deviceName);
    return handle;
}

}  // namespace vardel
