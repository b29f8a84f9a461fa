#pragma once
// Reads back whether a terminal is in exclusive mode (TIOCGEXCL).

#include <sys/ioctl.h>

#include <cerrno>
#include <optional>

namespace vardel::test {

// 1 or 0; -1 when the terminal refuses the question. Nothing where the
// question cannot be asked: no TIOCGEXCL, or a user-mode emulator (qemu-user)
// that does not pass it on to the kernel and answers ENOSYS.
inline std::optional<int> exclusiveMode(int fd) {
#ifdef TIOCGEXCL
    int exclusive = -1;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0) return exclusive;
    if (errno == ENOSYS) return std::nullopt;
    return -1;
#else
    (void)fd;
    return std::nullopt;
#endif
}

}  // namespace vardel::test
