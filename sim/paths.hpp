#pragma once
// The files the simulator writes or reads besides its terminal: the log and
// the control FIFO, each opened with care for what the path already names.

#include <cstdint>
#include <string>

namespace vardel::sim {

// "WHAT: " and the text of errno.
std::string systemError(const std::string& what);

// Closes `fd` if open and marks it closed.
void closeFd(int& fd);

// Opens the log for appending: an existing regular file, or a new one.
// Anything else (a symbolic link, a FIFO, a device, a directory) is refused
// without being opened. -1 with `error` set on refusal or failure.
int openLog(const std::string& path, std::string& error);

// A FIFO the simulator made and reads. It holds a writing end too, so that
// a writer closing never reads as an end.
struct ControlFifo {
    std::string path;
    int readEnd = -1;
    int writeEnd = -1;
    std::uint64_t device = 0;  // to know it is still ours at exit
    std::uint64_t inode = 0;
};

// Makes a FIFO at `path`, only where nothing exists, and opens it without
// blocking. False with `error` set otherwise.
bool createControlFifo(const std::string& path, ControlFifo& fifo, std::string& error);

// Closes the FIFO and removes it, if the path still names it.
void removeControlFifo(ControlFifo& fifo);

}  // namespace vardel::sim
