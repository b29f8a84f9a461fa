#pragma once
// The system's own text of a Windows error code.

#include <string>

namespace vardel {

// Without its line end; an access refused adds that another program may
// hold the port. `error` is a DWORD from GetLastError.
std::string windowsErrorText(unsigned long error);

}  // namespace vardel
