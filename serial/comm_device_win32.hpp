#pragma once
// Opening the device behind a link's port name on Windows.

#include <windows.h>

#include "serial/serial_link.hpp"

namespace vardel {

// Opens the device that the link's port name leads to (for the programs'
// own "ComN:", VARDEL_COM<N> when set), exclusive and not overlapped. A
// handle that is no communications port (a file, a pipe, the console, NUL)
// is closed untouched, nothing written: the result is then the invalid
// handle, as for a missing port. The trace names the port, where its name
// came from and how the open went.
HANDLE openCommunicationsDevice(const SerialLink& link);

// The handle of the link's port; INVALID_HANDLE_VALUE when it is not open.
HANDLE portHandle(const SerialLink& link);

}  // namespace vardel
