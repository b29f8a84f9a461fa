#pragma once
// The simulated device serving one pseudo-terminal until it is told to stop.

#include <string>

#include "sim/scenario.hpp"

namespace vardel::sim {

struct DeviceOptions {
    std::string linkPath;  // made a symbolic link to the terminal the driver opens
    std::string logPath;   // every byte received is appended here; empty: no log
    std::string controlPath;  // a FIFO made here takes scenario lines; empty: none
    Scenario scenario;
};

// Serves until SIGTERM, SIGINT or SIGHUP. Returns the exit status.
int runDevice(const DeviceOptions& options);

}  // namespace vardel::sim
