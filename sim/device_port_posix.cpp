// The simulated device on a POSIX pseudo-terminal, behind a symbolic link
// that the driver opens; a FIFO for control lines; stop signals.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "serial/monotonic_clock.hpp"
#include "serial/termios_mapping.hpp"
#include "sim/device_port.hpp"
#include "sim/paths.hpp"

namespace vardel::sim {

struct DevicePort {
    std::string linkPath{};
    sigset_t waitMask{};  // the mask while sleeping: stop signals let through
    int master = -1;
    int slave = -1;  // kept open, so the master never sees a hang-up
    std::string slaveName{};
    int log = -1;
    ControlFifo control{};
};

namespace {

constexpr int STOP_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};
// How often a wait looks for an exclusive mode that a killed run left.
constexpr timespec ABANDONED_MODE_CHECK{0, 100 * NANOS_PER_MILLI};

timespec durationUntil(std::int64_t deadline) {
    const std::int64_t left = std::max<std::int64_t>(0, deadline - monotonicNanos());
    return {static_cast<time_t>(left / NANOS_PER_SECOND), static_cast<long>(left % NANOS_PER_SECOND)};
}

void ignoreSignal(int) {}

// Stop signals stay blocked but while the device sleeps, so that one that
// comes at any moment ends the next sleep.
void blockStopSignals(sigset_t& waitMask) {
    sigset_t stopSet;
    sigemptyset(&stopSet);
    struct sigaction action {};
    action.sa_handler = ignoreSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : STOP_SIGNALS) {
        sigaddset(&stopSet, signalNumber);
        sigaction(signalNumber, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &stopSet, &waitMask);
    for (int signalNumber : STOP_SIGNALS) sigdelset(&waitMask, signalNumber);
}

bool stoppedBy(int pollResult) { return pollResult < 0 && errno == EINTR; }

bool openPseudoTerminal(DevicePort& port) {
    port.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (port.master < 0 || grantpt(port.master) != 0 || unlockpt(port.master) != 0) return false;
    fcntl(port.master, F_SETFD, FD_CLOEXEC);
    fcntl(port.master, F_SETFL, fcntl(port.master, F_GETFL) | O_NONBLOCK);
    const char* name = ptsname(port.master);
    if (name == nullptr) return false;
    port.slaveName = name;
    port.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port.slave < 0) return false;
    termios attributes{};
    if (tcgetattr(port.slave, &attributes) != 0) return true;
    makeRaw(attributes);
    tcsetattr(port.slave, TCSANOW, &attributes);
    return true;
}

bool isSymbolicLink(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Points the link at the terminal, replacing a symbolic link found there.
bool makeLink(const DevicePort& port) {
    if (isSymbolicLink(port.linkPath) && unlink(port.linkPath.c_str()) != 0) return false;
    return symlink(port.slaveName.c_str(), port.linkPath.c_str()) == 0;
}

// A run holds its lock on the terminal for as long as it lives, so an
// exclusive mode with a free lock behind it was left by a run killed
// outright (SIGKILL), and would turn every later run away until the device
// closes the terminal: cleared here, the lock taken meanwhile and let go.
void clearAbandonedExclusiveMode(const DevicePort& port) {
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (port.slave < 0 || ioctl(port.slave, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
    if (flock(port.slave, LOCK_EX | LOCK_NB) != 0) return;
    ioctl(port.slave, TIOCNXCL);
    flock(port.slave, LOCK_UN);
#else
    (void)port;
#endif
}

// Writes all of `bytes` to `fd`, waiting for room while it is full.
Written writeAllTo(const DevicePort& port, int fd, std::string_view bytes, std::int64_t deadline) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written == 0 || errno != EAGAIN) return Written::Failed;
        pollfd entry{fd, POLLOUT, 0};
        const timespec timeout = durationUntil(deadline);
        const int ready = ppoll(&entry, 1, &timeout, &port.waitMask);
        if (stoppedBy(ready)) return Written::Stopped;
        if (ready == 0) return Written::NoRoom;
    }
    return Written::All;
}

void removeLink(const DevicePort& port) {
    char target[4096];
    const ssize_t length = readlink(port.linkPath.c_str(), target, sizeof target);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == port.slaveName) {
        unlink(port.linkPath.c_str());
    }
}

}  // namespace

DevicePortHandle prepareDevice(const DeviceOptions& options, std::string& error) {
    DevicePortHandle port(new DevicePort{.linkPath = options.portName});
    blockStopSignals(port->waitMask);
    signal(SIGPIPE, SIG_IGN);  // a closed error output shows as a failed write
    if (!options.logPath.empty()) {
        port->log = openLog(options.logPath, error);
        if (port->log < 0) return nullptr;
    }
    if (!options.controlPath.empty() && !createControlFifo(options.controlPath, port->control, error)) return nullptr;
    return port;
}

bool openDriverPort(DevicePort& port, std::string& error) {
    if (!openPseudoTerminal(port)) {
        error = systemError("pseudo-terminal");
        return false;
    }
    if (!makeLink(port)) {
        error = systemError(port.linkPath);
        return false;
    }
    return true;
}

void closeDriverPort(DevicePort& port) {
    if (port.master < 0) return;
    char buffer[256];
    while (readFromDriver(port, buffer, sizeof buffer) > 0) {
    }
    removeLink(port);
    closeFd(port.master);
    closeFd(port.slave);
    port.slaveName.clear();
}

Wake waitForWake(DevicePort& port, bool driverPort) {
    pollfd entries[2] = {{port.control.readEnd, POLLIN, 0}, {driverPort ? port.master : -1, POLLIN, 0}};
    for (;;) {
        clearAbandonedExclusiveMode(port);
        const int ready = ppoll(entries, 2, &ABANDONED_MODE_CHECK, &port.waitMask);
        if (stoppedBy(ready)) return {.stop = true};
        if (ready != 0) return {.control = entries[0].revents != 0, .driver = entries[1].revents != 0};
    }
}

std::ptrdiff_t readFromDriver(DevicePort& port, char* buffer, std::size_t size) {
    const ssize_t count = read(port.master, buffer, size);
    if (count > 0) writeLog(port, std::string_view(buffer, static_cast<std::size_t>(count)));
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return count == 0 ? -1 : count;
}

std::size_t readControl(DevicePort& port, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t count = port.control.readEnd < 0 ? -1 : read(port.control.readEnd, buffer, size);
        if (count < 0 && errno == EINTR) continue;
        return count > 0 ? static_cast<std::size_t>(count) : 0;
    }
}

Written writeToDriver(DevicePort& port, std::string_view bytes, std::int64_t deadline) {
    return writeAllTo(port, port.master, bytes, deadline);
}

bool sleepUnlessStopped(DevicePort& port, std::int64_t deadline) {
    const timespec timeout = durationUntil(deadline);
    return !stoppedBy(ppoll(nullptr, 0, &timeout, &port.waitMask));
}

// The log is a regular file: a write there never waits for room.
void writeLog(DevicePort& port, std::string_view bytes) {
    if (port.log >= 0) writeAllTo(port, port.log, bytes, monotonicNanos());
}

void DevicePortRelease::operator()(DevicePort* port) const noexcept {
    closeDriverPort(*port);
    closeFd(port->log);
    removeControlFifo(port->control);
    delete port;
}

}  // namespace vardel::sim
