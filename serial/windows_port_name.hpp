#pragma once
// Which Windows device a program's port name opens: "Com1:" is COM1 unless
// VARDEL_COM1 names another port, and COM10 and above need the "\\.\" form.
// Portable text work, so that it is tested on every build machine.

#include <optional>
#include <string>
#include <string_view>

namespace vardel {

// The number n of "COMn", "COMn:" or "\\.\COMn" (any case, 1 to 255);
// none for any other text.
std::optional<unsigned> windowsComNumber(std::string_view name);

// The name CreateFileA opens for COM port n: "COM7" up to 9, "\\.\COM12" above.
std::string windowsDeviceName(unsigned number);

// The variable that a program's own port name "ComN:" reads (VARDEL_COM<N>);
// empty for a name of any other form, which is opened as it is.
std::string windowsPortVariable(std::string_view portName);

// The device a link's port name leads to, and where that choice came from.
struct WindowsPortChoice {
    std::string deviceName;  // given to CreateFileA
    std::string origin;      // for the trace
};

// `value` is the variable's (nullptr when unset). Set and not empty, a value
// naming a COM port is opened in its right form, any other value as it is
// (the open then checks that it is a communications port). Unset or empty,
// or without a variable, the port name is used as it is.
WindowsPortChoice chooseWindowsPort(std::string_view portName, const std::string& variable, const char* value);

}  // namespace vardel
