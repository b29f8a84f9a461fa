#pragma once
// How the link's port name and line settings map onto a POSIX terminal.

#include <sys/stat.h>
#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/line_settings.hpp"
#include "serial/serial_link.hpp"

namespace vardel {

// "ComN:" (any case, ":" optional) names the path in $VARDEL_COM<N>, or
// /dev/ttyS<N-1> when that is unset or empty. Any other name is a path.
std::string portPathFor(std::string_view portName);

// The terminal speed constant of a standard rate; none for other rates.
std::optional<speed_t> speedConstant(std::uint32_t baud);

// Sets `attributes` to a raw, 8-bit clean line with `params`, no flow control,
// modem lines ignored and left up when the port is closed. A rate without a
// speed constant leaves the speed as it was.
void applyLineParameters(const LineParameters& params, termios& attributes);

// Makes the line raw: 8-bit clean, no echo, no flow control, modem lines
// ignored, reads that return at once.
void makeRaw(termios& attributes);

// What kind of file `mode` describes, as a trace names it ("regular file").
std::string_view fileTypeName(mode_t mode);

// Only a terminal can be the serial port: a character device whose terminal
// attributes can be read, and not the terminal of this process's own session.
bool isSerialTerminal(int fd);

// The descriptor of the link's port; -1 when it is not open.
int portDescriptor(const SerialLink& link);

}  // namespace vardel
