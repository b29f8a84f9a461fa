// Loaded with LD_PRELOAD into a driver's run: a terminal that refuses the
// settings a run asks for. Setting the line (tcsetattr), the exclusive mode
// (TIOCEXCL) and flushing the receive queue (tcflush) fail with EIO; every
// other terminal request goes to the system as usual.

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdarg>

extern "C" {

int tcsetattr(int, int, const struct termios*) noexcept {
    errno = EIO;
    return -1;
}

int tcflush(int, int) noexcept {
    errno = EIO;
    return -1;
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (request == TIOCEXCL) {
        errno = EIO;
        return -1;
    }
    using SystemIoctl = int (*)(int, unsigned long, ...);
    static const auto system = reinterpret_cast<SystemIoctl>(dlsym(RTLD_NEXT, "ioctl"));
    return system(fd, request, argument);
}

}  // extern "C"
