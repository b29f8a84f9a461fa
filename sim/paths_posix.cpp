#include "sim/paths.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "serial/termios_mapping.hpp"

namespace vardel::sim {
namespace {

// "a FIFO", "an unknown ..." for the messages.
std::string article(std::string_view name) {
    const bool vowel = !name.empty() && std::string_view("aeiou").find(name.front()) != std::string_view::npos;
    return (vowel ? "an " : "a ") + std::string(name);
}

}  // namespace

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

int openLog(const std::string& path, std::string& error) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            error = systemError(path);
            return -1;
        }
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                            0644);
        if (fd < 0) error = systemError(path);
        return fd;
    }
    if (!S_ISREG(status.st_mode)) {
        error = path + ": is " + article(fileTypeName(status.st_mode)) + ", not a regular file; the log is never written there";
        return -1;
    }
    // Not blocking, not following a link and checked again once open, in
    // case the path changed since it was looked at.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError(path);
        return -1;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(fd);
        error = path + ": changed while being opened; not a regular file";
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool createControlFifo(const std::string& path, ControlFifo& fifo, std::string& error) {
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0) {
        error = path + ": is " + article(fileTypeName(status.st_mode)) + "; the control FIFO is made only where nothing exists";
        return false;
    }
    if (mkfifo(path.c_str(), 0600) != 0) {
        error = systemError(path);
        return false;
    }
    fifo.path = path;
    fifo.readEnd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    fifo.writeEnd = fifo.readEnd < 0 ? -1 : open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    if (fifo.writeEnd < 0 || fstat(fifo.readEnd, &opened) != 0 || !S_ISFIFO(opened.st_mode)) {
        error = systemError(path);
        closeFd(fifo.readEnd);
        closeFd(fifo.writeEnd);
        if (lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode)) unlink(path.c_str());
        fifo.path.clear();
        return false;
    }
    fifo.device = static_cast<std::uint64_t>(opened.st_dev);
    fifo.inode = static_cast<std::uint64_t>(opened.st_ino);
    return true;
}

void removeControlFifo(ControlFifo& fifo) {
    closeFd(fifo.readEnd);
    closeFd(fifo.writeEnd);
    if (fifo.path.empty()) return;
    struct stat status {};
    if (lstat(fifo.path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode) &&
        static_cast<std::uint64_t>(status.st_dev) == fifo.device &&
        static_cast<std::uint64_t>(status.st_ino) == fifo.inode) {
        unlink(fifo.path.c_str());
    }
    fifo.path.clear();
}

}  // namespace vardel::sim
