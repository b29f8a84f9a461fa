#pragma once
// The simulated device serving the driver's port until it is told to stop.

#include <string>

#include "sim/scenario.hpp"

namespace vardel::sim {

struct DeviceOptions {
    // Where the driver finds the device: on POSIX a symbolic link made to a
    // new pseudo-terminal, on Windows the COM port it serves.
    std::string portName;
    std::string logPath;      // every byte received is appended here; empty: no log
    std::string controlPath;  // the control channel made here takes scenario lines; empty: none
    Scenario scenario;
};

// Serves until a stop request comes. Returns the exit status.
int runDevice(const DeviceOptions& options);

}  // namespace vardel::sim
