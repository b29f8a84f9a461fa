// The serial link on a POSIX terminal device.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "serial/low_latency.hpp"
#include "serial/monotonic_clock.hpp"
#include "serial/serial_link.hpp"
#include "serial/terminal_devices.hpp"
#include "serial/termios_mapping.hpp"

namespace vardel {

struct PortState {
    int fd = -1;  // what open gave; -1 when the port could not be had
    std::optional<int> serialFlagsFound;  // put back at the close: the run set low latency
};

namespace {

// The port that a stop signal gives back before the run ends by it: the
// only state the signal handler reads, lock-free atomics so that it may.
// Set once the port is locked, cleared once it has been given back; one
// port at a time, the last one opened.
struct PortForSignals {
    std::atomic<int> fd{-1};
    std::atomic<bool> restoreFlags{false};
    std::atomic<int> flagsFound{0};
};
PortForSignals portForSignals;

constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Gives the port back as the close does, with system calls alone (no
// allocation, no standard I/O, no lock), then ends the process by the same
// signal: SA_RESETHAND has put back the default action, SA_NODEFER lets the
// signal in at once.
void releasePortAndEnd(int signalNumber) {
    const int fd = portForSignals.fd.exchange(-1);
    if (fd >= 0) {
        if (portForSignals.restoreFlags.load()) restoreSerialFlags(fd, portForSignals.flagsFound.load());
        ioctl(fd, TIOCNXCL);
        flock(fd, LOCK_UN);
        close(fd);
    }
    raise(signalNumber);
}

// A stop signal that still has its default action ends the run through
// releasePortAndEnd. One the run inherited as ignored stays ignored, and one
// that the program handles itself stays with its handler.
void releasePortOnStopSignals() {
    struct sigaction action {};
    action.sa_handler = releasePortAndEnd;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : STOP_SIGNALS) sigaddset(&action.sa_mask, signalNumber);
    for (int signalNumber : STOP_SIGNALS) {
        struct sigaction current {};
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            (current.sa_flags & SA_SIGINFO) == 0) {
            sigaction(signalNumber, &action, nullptr);
        }
    }
}

int descriptor(const SerialLink& link) { return link.port ? link.port->fd : -1; }
bool isValid(const SerialLink& link) { return descriptor(link) >= 0; }

void sleepUntil(std::int64_t deadline) {
    const timespec until{static_cast<time_t>(deadline / NANOS_PER_SECOND),
                         static_cast<long>(deadline % NANOS_PER_SECOND)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// The number N of a "ComN:" name, none for any other name.
std::optional<unsigned> comPortNumber(std::string_view name) {
    if (name.size() < 4) return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != "com"[i]) return std::nullopt;
    }
    std::string_view digits = name.substr(3);
    if (digits.back() == ':') digits.remove_suffix(1);
    unsigned number = 0;
    const char* end = digits.data() + digits.size();
    auto [stop, error] = std::from_chars(digits.data(), end, number);
    if (digits.empty() || digits.front() == '+' || error != std::errc{} || stop != end || number == 0) {
        return std::nullopt;
    }
    return number;
}

void setDataBits(unsigned dataBits, termios& attributes) {
    attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    switch (dataBits) {
        case 5: attributes.c_cflag |= CS5; break;
        case 6: attributes.c_cflag |= CS6; break;
        case 7: attributes.c_cflag |= CS7; break;
        default: attributes.c_cflag |= CS8; break;
    }
}

void setParity(Parity parity, termios& attributes) {
    tcflag_t cleared = PARENB | PARODD;
#ifdef CMSPAR
    cleared |= CMSPAR;
#endif
    attributes.c_cflag &= ~cleared;
    switch (parity) {
        case Parity::None: break;
        case Parity::Even: attributes.c_cflag |= PARENB; break;
        case Parity::Odd: attributes.c_cflag |= PARENB | PARODD; break;
#ifdef CMSPAR
        case Parity::Mark: attributes.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case Parity::Space: attributes.c_cflag |= PARENB | CMSPAR; break;
#else
        // Without stick parity the line goes without a parity bit.
        case Parity::Mark:
        case Parity::Space: break;
#endif
    }
}

// Two stop bits; with five data bits a UART sends 1.5 for the same setting.
void setStopBits(StopBits stopBits, termios& attributes) {
    if (stopBits == StopBits::One) {
        attributes.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else {
        attributes.c_cflag |= CSTOPB;
    }
}

// Returns 0, or the error number of the call that failed.
int configureLine(int fd, const std::string& lineSettings) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) return errno;
    LineParameters params;
    applyModeString(lineSettings, params);
    applyLineParameters(params, attributes);
    return tcsetattr(fd, TCSANOW, &attributes) == 0 ? 0 : errno;
}

void traceRefusal(const SerialLink& link, std::string_view setting, int error) {
    if (error != 0) traceLink(link, refusalTraceText(setting, std::strerror(error)));
}

// Waits until the port takes more bytes; false at the deadline or on trouble.
bool waitWritable(int fd, std::int64_t deadline) {
    for (;;) {
        const int left = static_cast<int>(millisecondsUntil(deadline));
        if (left == 0) return false;
        pollfd entry{fd, POLLOUT, 0};
        const int ready = poll(&entry, 1, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        return (entry.revents & POLLOUT) != 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
    }
}

// Writes all of `text` by `deadline`. The bytes that went out, and why not
// all of them did.
std::size_t writeWithin(int fd, std::string_view text, std::int64_t deadline, std::string& failure) {
    const std::size_t size = text.size();
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written > 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failure = std::strerror(errno);
            break;
        } else if (!waitWritable(fd, deadline)) {
            failure = "no room before the time-out";
            break;
        }
    }
    return size - text.size();
}

void traceOpenFailure(const SerialLink& link, int error) {
    std::string text = std::string("open failed: ") + std::strerror(error);
    if (error == EACCES) text += " (the user must be allowed to use serial ports: on Debian, the dialout group)";
    traceLink(link, text);
}

std::string refusalOf(int fd) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) return "not a terminal (character device)";
    return "the terminal of this session, not a serial port";
}

// Only a serial port or a pseudo-terminal is opened: a regular file, a FIFO,
// a block device or any other character device (/dev/null, a watchdog, a
// tape) is left exactly as it was, told by its device number before any
// open. Where the system lists no terminal drivers, the open itself tells.
int openTerminal(const SerialLink& link, const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        traceOpenFailure(link, errno);
        return -1;
    }
    if (!S_ISCHR(status.st_mode)) {
        traceLink(link, "refused: not a terminal (" + std::string(fileTypeName(status.st_mode)) + ")");
        return -1;
    }
    if (const auto verdict = checkTerminalDevice(status.st_rdev); verdict && !verdict->accepted) {
        traceLink(link, "refused: " + verdict->reason);
        return -1;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        traceOpenFailure(link, errno);
    } else if (!isSerialTerminal(fd)) {
        traceLink(link, "refused: " + refusalOf(fd));
        close(fd);
        return -1;
    }
    return fd;
}

// Exclusive mode, the line, low latency, and an empty receive queue.
void setUpPort(SerialLink& link, const std::string& path) {
    const int fd = link.port->fd;
    traceLink(link, "opened " + path);
    traceRefusal(link, "exclusive mode", ioctl(fd, TIOCEXCL) == 0 ? 0 : errno);
    traceRefusal(link, "line settings", configureLine(fd, link.lineSettings));
    const LowLatencyRequest lowLatency = requestLowLatency(fd);
    link.port->serialFlagsFound = lowLatency.flagsFound;
    if (lowLatency.flagsFound) {
        portForSignals.flagsFound.store(*lowLatency.flagsFound);
        portForSignals.restoreFlags.store(true);
    }
    // What came while no run had the port is no reply to this run.
    traceRefusal(link, "flush of the receive queue", tcflush(fd, TCIFLUSH) == 0 ? 0 : errno);
    traceLink(link, lowLatencyTraceText(lowLatency));
}

}  // namespace

void makeRaw(termios& attributes) {
    attributes.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                                 IXOFF | IXANY | INPCK);
    attributes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    attributes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
#ifdef CRTSCTS
    attributes.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    // No HUPCL: DTR and RTS stay up when the port is closed, so that a device
    // powered from them is not reset at the end of every run.
    attributes.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    attributes.c_cflag |= CLOCAL | CREAD;
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
}

std::string_view fileTypeName(mode_t mode) {
    if (S_ISREG(mode)) return "regular file";
    if (S_ISDIR(mode)) return "directory";
    if (S_ISFIFO(mode)) return "FIFO";
    if (S_ISSOCK(mode)) return "socket";
    if (S_ISBLK(mode)) return "block device";
    if (S_ISCHR(mode)) return "character device";
    if (S_ISLNK(mode)) return "symbolic link";
    return "file of unknown type";
}

bool isSerialTerminal(int fd) {
    struct stat status {};
    termios attributes{};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || tcgetattr(fd, &attributes) != 0) return false;
    // The terminal the program was started from (also through /dev/tty) is
    // the controlling terminal of this session; raw mode would take it over.
    const pid_t session = tcgetsid(fd);
    return session == -1 || session != getsid(0);
}

std::string portPathFor(std::string_view portName) {
    const auto number = comPortNumber(portName);
    if (!number) return std::string(portName);
    const std::string variable = "VARDEL_COM" + std::to_string(*number);
    const char* path = std::getenv(variable.c_str());
    if (path != nullptr && *path != '\0') return path;
    return "/dev/ttyS" + std::to_string(*number - 1);
}

std::optional<speed_t> speedConstant(std::uint32_t baud) {
    switch (baud) {
        case 50: return B50;
        case 75: return B75;
        case 110: return B110;
        case 134: return B134;
        case 150: return B150;
        case 200: return B200;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 1800: return B1800;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
#ifdef B57600
        case 57600: return B57600;
#endif
#ifdef B115200
        case 115200: return B115200;
#endif
#ifdef B230400
        case 230400: return B230400;
#endif
        default: return std::nullopt;
    }
}

void applyLineParameters(const LineParameters& params, termios& attributes) {
    if (const auto speed = speedConstant(params.baud)) {
        cfsetispeed(&attributes, *speed);
        cfsetospeed(&attributes, *speed);
    }
    setDataBits(params.dataBits, attributes);
    setParity(params.parity, attributes);
    setStopBits(params.stopBits, attributes);
    makeRaw(attributes);
}

// Only a terminal is opened (see isSerialTerminal); anything else gives the
// invalid handle untouched. The port is exclusive twice over: an advisory lock that every run of the
// program takes, and the terminal's exclusive mode against other programs.
// A port that is busy gives the invalid handle, as a missing one does.
void openPort(SerialLink& link) {
    link.port.reset();
    const std::string path = portPathFor(link.portName);
    traceLink(link, "port " + link.portName + " is " + path);
    int fd = openTerminal(link, path);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        traceLink(link, "busy: another run holds " + path);
        close(fd);
        fd = -1;
    }
    link.port.reset(new PortState{fd, std::nullopt});
    if (fd < 0) return;
    releasePortOnStopSignals();
    portForSignals.restoreFlags.store(false);
    portForSignals.fd.store(fd);
    setUpPort(link, path);
}

bool portIsOpen(const SerialLink& link) { return isValid(link); }

int portDescriptor(const SerialLink& link) { return descriptor(link); }

void writeText(SerialLink& link, std::string_view text) {
    if (!isValid(link)) {
        traceLink(link, "not sent, no port: \"" + escapedBytes(text) + "\"");
        return;
    }
    const std::int64_t deadline = monotonicNanos() + std::int64_t{link.timeoutMs} * NANOS_PER_MILLI;
    std::string failure;
    const std::size_t sent = writeWithin(descriptor(link), text, deadline, failure);
    traceLink(link, writeTraceText(text, sent, failure));
}

std::uint16_t bytesWaiting(SerialLink& link) {
    if (!isValid(link)) return 0;
    int count = 0;
    if (ioctl(descriptor(link), FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<std::uint16_t>(count);
}

bool readOneByte(SerialLink& link, char& byte) {
    return isValid(link) && read(descriptor(link), &byte, 1) == 1;
}

// A port that signals an event without a byte to read (hung up, unplugged,
// in error) makes the rest of the wait a plain sleep, never a spin.
void waitForInput(SerialLink& link, std::uint32_t milliseconds) {
    const std::int64_t deadline = monotonicNanos() + std::int64_t{milliseconds} * NANOS_PER_MILLI;
    if (!isValid(link)) return sleepUntil(deadline);
    for (;;) {
        const int left = static_cast<int>(millisecondsUntil(deadline));
        if (left == 0) return;
        pollfd entry{descriptor(link), POLLIN, 0};
        const int ready = poll(&entry, 1, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return;
        if (ready > 0 && bytesWaiting(link) > 0) return;
        return sleepUntil(deadline);
    }
}

std::uint32_t tickCount() {
    return static_cast<std::uint32_t>(monotonicNanos() / NANOS_PER_MILLI);
}

// On a pseudo-terminal the exclusive mode outlives our descriptor while
// another one is open, and would turn away the next run: clear it first.
// Low latency outlives the close too, until the adapter is unplugged: the
// next program finds the flags as this run found them.
void PortRelease::operator()(PortState* state) const noexcept {
    if (state->fd >= 0) {
        if (state->serialFlagsFound) restoreSerialFlags(state->fd, *state->serialFlagsFound);
        ioctl(state->fd, TIOCNXCL);
        flock(state->fd, LOCK_UN);
        close(state->fd);
        // Given back: a stop signal from now on has nothing left to do.
        int released = state->fd;
        if (portForSignals.fd.compare_exchange_strong(released, -1)) portForSignals.restoreFlags.store(false);
    }
    delete state;
}

}  // namespace vardel
