#include "sim/device_loop.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

namespace vardel::sim {
namespace {

constexpr std::int64_t NANOS_PER_MILLI = 1'000'000;
constexpr std::int64_t NANOS_PER_SECOND = 1'000'000'000;
constexpr std::int64_t WRITE_LIMIT_NANOS = NANOS_PER_SECOND;
constexpr std::size_t COMMAND_LIMIT = 4096;
constexpr int STOP_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

struct Terminal {
    int master = -1;
    int slave = -1;  // kept open, so the master never sees a hang-up
    std::string slaveName;
};

struct Session {
    const DeviceOptions& options;
    Terminal terminal;
    int log = -1;
    sigset_t waitMask{};  // the mask while sleeping: stop signals let through
    std::string command;
};

std::int64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * NANOS_PER_SECOND + now.tv_nsec;
}

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

// Sleeps until `deadline`. False when a stop signal came.
bool sleepUntil(const Session& session, std::int64_t deadline) {
    const timespec timeout = durationUntil(deadline);
    return !stoppedBy(ppoll(nullptr, 0, &timeout, &session.waitMask));
}

// Sleeps until the driver has sent something. False when a stop signal came.
bool waitForBytes(const Session& session) {
    pollfd entry{session.terminal.master, POLLIN, 0};
    return !stoppedBy(ppoll(&entry, 1, nullptr, &session.waitMask));
}

void makeRaw(int fd) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) return;
    attributes.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    attributes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    attributes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    attributes.c_cflag |= CS8;
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &attributes);
}

bool openTerminal(Terminal& terminal) {
    terminal.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal.master < 0 || grantpt(terminal.master) != 0 || unlockpt(terminal.master) != 0) return false;
    fcntl(terminal.master, F_SETFD, FD_CLOEXEC);
    fcntl(terminal.master, F_SETFL, fcntl(terminal.master, F_GETFL) | O_NONBLOCK);
    const char* name = ptsname(terminal.master);
    if (name == nullptr) return false;
    terminal.slaveName = name;
    terminal.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal.slave < 0) return false;
    makeRaw(terminal.slave);
    return true;
}

bool isSymbolicLink(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Points `linkPath` at the terminal, replacing a symbolic link found there.
bool makeLink(const std::string& target, const std::string& linkPath) {
    if (isSymbolicLink(linkPath) && unlink(linkPath.c_str()) != 0) return false;
    return symlink(target.c_str(), linkPath.c_str()) == 0;
}

void removeLink(const Session& session) {
    char target[4096];
    const ssize_t length = readlink(session.options.linkPath.c_str(), target, sizeof target);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == session.terminal.slaveName) {
        unlink(session.options.linkPath.c_str());
    }
}

void writeLog(const Session& session, const char* bytes, std::size_t count) {
    while (session.log >= 0 && count > 0) {
        const ssize_t written = write(session.log, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

// Writes to the master; bytes that find no room within a second are dropped.
void writeToDriver(const Session& session, std::string_view bytes) {
    const std::int64_t deadline = monotonicNanos() + WRITE_LIMIT_NANOS;
    while (!bytes.empty()) {
        const ssize_t written = write(session.terminal.master, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd entry{session.terminal.master, POLLOUT, 0};
        const int left = static_cast<int>(std::max<std::int64_t>(0, deadline - monotonicNanos()) / NANOS_PER_MILLI);
        if (left == 0 || poll(&entry, 1, left) <= 0) return;
    }
}

// Sends a reply after the scenario's delay, paced when a rate is set.
// False when a stop signal came meanwhile.
bool sendReply(const Session& session, const std::string& reply) {
    const Scenario& scenario = session.options.scenario;
    const std::int64_t start = monotonicNanos() + std::int64_t{scenario.delayMs} * NANOS_PER_MILLI;
    if (scenario.delayMs > 0 && !sleepUntil(session, start)) return false;
    if (scenario.baud == 0) {
        writeToDriver(session, reply);
        return true;
    }
    const std::int64_t byteTime = 10 * NANOS_PER_SECOND / scenario.baud;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        writeToDriver(session, std::string_view(reply).substr(i, 1));
        if (!sleepUntil(session, start + static_cast<std::int64_t>(i + 1) * byteTime)) return false;
    }
    return true;
}

// Takes received bytes; answers each command completed by a carriage return.
bool takeBytes(Session& session, const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != '\r') {
            if (session.command.size() < COMMAND_LIMIT) session.command.push_back(bytes[i]);
            continue;
        }
        const auto reply = replyTo(session.options.scenario, session.command);
        session.command.clear();
        if (reply && !sendReply(session, *reply)) return false;
    }
    return true;
}

// Reads what the master holds. Returns the byte count, 0 when none, -1 on
// trouble.
ssize_t readMaster(const Session& session, char* buffer, std::size_t size) {
    const ssize_t count = read(session.terminal.master, buffer, size);
    if (count > 0) writeLog(session, buffer, static_cast<std::size_t>(count));
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return count == 0 ? -1 : count;
}

void serve(Session& session) {
    char buffer[256];
    for (;;) {
        if (!waitForBytes(session)) return;
        const ssize_t count = readMaster(session, buffer, sizeof buffer);
        if (count < 0) {
            // Not expected while the device holds the terminal; never spin on it.
            if (!sleepUntil(session, monotonicNanos() + 100 * NANOS_PER_MILLI)) return;
            continue;
        }
        if (!takeBytes(session, buffer, static_cast<std::size_t>(count))) return;
    }
}

// Logs what is still queued when the device is told to stop.
void drainMaster(const Session& session) {
    char buffer[256];
    while (readMaster(session, buffer, sizeof buffer) > 0) {
    }
}

void closeAll(const Session& session) {
    for (int fd : {session.terminal.master, session.terminal.slave, session.log}) {
        if (fd >= 0) close(fd);
    }
}

int fail(const Session& session, const char* what) {
    std::fprintf(stderr, "vardel-sim: %s: %s\n", what, std::strerror(errno));
    closeAll(session);
    return 1;
}

}  // namespace

int runDevice(const DeviceOptions& options) {
    Session session{options, {}, -1, {}, {}};
    blockStopSignals(session.waitMask);
    if (!options.logPath.empty()) {
        session.log = open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (session.log < 0) return fail(session, options.logPath.c_str());
    }
    if (!openTerminal(session.terminal)) return fail(session, "pseudo-terminal");
    if (!makeLink(session.terminal.slaveName, options.linkPath)) return fail(session, options.linkPath.c_str());
    std::printf("ready %s\n", options.linkPath.c_str());
    std::fflush(stdout);
    serve(session);
    drainMaster(session);
    removeLink(session);
    closeAll(session);
    return 0;
}

}  // namespace vardel::sim
