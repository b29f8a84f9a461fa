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

#include "sim/paths.hpp"

namespace vardel::sim {
namespace {

constexpr std::int64_t NANOS_PER_MILLI = 1'000'000;
constexpr std::int64_t NANOS_PER_SECOND = 1'000'000'000;
constexpr std::int64_t WRITE_LIMIT_NANOS = NANOS_PER_SECOND;
constexpr std::size_t COMMAND_LIMIT = 4096;
constexpr std::size_t CONTROL_LINE_LIMIT = 4096;
constexpr std::size_t FLOOD_CHUNK = 4096;
constexpr int STOP_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

struct Terminal {
    int master = -1;
    int slave = -1;  // kept open, so the master never sees a hang-up
    std::string slaveName;
};

struct Session {
    const DeviceOptions& options;
    Scenario scenario;     // changed by timed and control lines as the device runs
    DeviceRecord record{};
    std::int64_t startNanos = 0;  // the time base of the signals
    Terminal terminal{};
    int log = -1;
    ControlFifo control{};
    std::string controlLine{};    // a control line still without its line feed
    bool controlLineTooLong = false;
    sigset_t waitMask{};  // the mask while sleeping: stop signals let through
    std::string command{};
    bool failed = false;  // the device couldn't come back
};

// How a reply went.
enum class Sent { Whole, HungUp, Stopped };

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

void takeControl(Session& session);

// Sleeps until the driver has sent something or a control line came; takes
// the control lines. `terminal` false: waits for control lines alone. False
// when a stop signal came.
bool waitForInput(Session& session, bool terminal) {
    pollfd entries[2] = {{session.control.readEnd, POLLIN, 0}, {terminal ? session.terminal.master : -1, POLLIN, 0}};
    if (stoppedBy(ppoll(entries, 2, nullptr, &session.waitMask))) return false;
    if (entries[0].revents != 0) takeControl(session);
    return true;
}

// Sleeps until a stop signal comes, taking control lines meanwhile. Always false.
bool waitForStop(Session& session) {
    while (waitForInput(session, false)) {
    }
    return false;
}

// Sleeps until the master takes more bytes or `deadline` has passed. False
// when a stop signal came.
bool waitWritable(const Session& session, std::int64_t deadline) {
    pollfd entry{session.terminal.master, POLLOUT, 0};
    const timespec timeout = durationUntil(deadline);
    return !stoppedBy(ppoll(&entry, 1, &timeout, &session.waitMask));
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

void closeTerminal(Terminal& terminal) {
    for (int* fd : {&terminal.master, &terminal.slave}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    terminal.slaveName.clear();
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

std::int64_t elapsedMs(const Session& session) { return (monotonicNanos() - session.startNanos) / NANOS_PER_MILLI; }

// Each message on the error output and in the log, one line each.
void reportLines(const Session& session, const std::string& prefix, const std::vector<std::string>& messages) {
    for (const auto& message : messages) {
        const std::string line = "vardel-sim: " + prefix + message + "\n";
        std::fputs(line.c_str(), stderr);
        writeLog(session, line.data(), line.size());
    }
}

// A control line as shown in its acknowledgement: bytes below 32 and 127 escaped.
std::string shownLine(std::string_view line) {
    std::string shown;
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte != 127 && c != '\\') {
            shown.push_back(c);
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", byte);
        shown += c == '\\' ? std::string("\\\\") : std::string(escape);
    }
    return shown;
}

void applyControlLine(Session& session, std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return;
    std::string error;
    const bool applied = applyScenarioLine(line, session.scenario, error);
    std::string report = "'";
    report.append(shownLine(line)).append("': ").append(applied ? "ok" : error);
    reportLines(session, "control: ", {report});
}

// Takes the lines that wait in the control FIFO, without blocking.
void takeControl(Session& session) {
    char buffer[1024];
    for (;;) {
        const ssize_t count = session.control.readEnd < 0 ? -1 : read(session.control.readEnd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        for (ssize_t i = 0; i < count; ++i) {
            if (buffer[i] != '\n') {
                if (session.controlLine.size() < CONTROL_LINE_LIMIT) {
                    session.controlLine.push_back(buffer[i]);
                } else {
                    session.controlLineTooLong = true;
                }
                continue;
            }
            if (session.controlLineTooLong) {
                reportLines(session, "control: ", {"a line longer than " + std::to_string(CONTROL_LINE_LIMIT) +
                                                       " bytes, not applied"});
            } else {
                applyControlLine(session, session.controlLine);
            }
            session.controlLine.clear();
            session.controlLineTooLong = false;
        }
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

std::int64_t byteNanos(const Scenario& scenario) { return 10 * NANOS_PER_SECOND / scenario.baud; }

// Sends bytes from `start` on, paced when a rate is set. False when a stop
// signal came meanwhile.
bool sendPaced(const Session& session, std::string_view bytes, std::int64_t start) {
    const Scenario& scenario = session.scenario;
    if (scenario.baud == 0) {
        writeToDriver(session, bytes);
        return true;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        writeToDriver(session, bytes.substr(i, 1));
        if (!sleepUntil(session, start + static_cast<std::int64_t>(i + 1) * byteNanos(scenario))) return false;
    }
    return true;
}

// Sends the flood text over and over until the flood time is up: paced
// when a rate is set, otherwise as fast as the terminal takes it. False when
// a stop signal came meanwhile.
bool sendFlood(const Session& session) {
    const Scenario& scenario = session.scenario;
    const std::int64_t start = monotonicNanos();
    const std::int64_t end = start + std::int64_t{scenario.floodMs} * NANOS_PER_MILLI;
    std::string chunk;
    while (chunk.size() < FLOOD_CHUNK) chunk += scenario.floodText;
    if (scenario.baud > 0) {
        for (std::size_t i = 0; start + static_cast<std::int64_t>(i) * byteNanos(scenario) < end; ++i) {
            writeToDriver(session, std::string_view(chunk).substr(i % scenario.floodText.size(), 1));
            if (!sleepUntil(session, start + static_cast<std::int64_t>(i + 1) * byteNanos(scenario))) return false;
        }
        return true;
    }
    std::string_view pending = chunk;
    while (monotonicNanos() < end) {
        const ssize_t written = write(session.terminal.master, pending.data(), pending.size());
        if (written > 0) {
            pending.remove_prefix(static_cast<std::size_t>(written));
            if (pending.empty()) pending = chunk;
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            return sleepUntil(session, end);
        } else if (!waitWritable(session, end)) {
            return false;
        }
    }
    return true;
}

// Sends a reply after the scenario's delay. The scenario's hang-up cuts the
// first reply short; a flood follows every whole one.
Sent sendReply(Session& session, const std::string& reply) {
    const Scenario& scenario = session.scenario;
    const std::int64_t start = monotonicNanos() + std::int64_t{scenario.delayMs} * NANOS_PER_MILLI;
    if (scenario.delayMs > 0 && !sleepUntil(session, start)) return Sent::Stopped;
    if (scenario.hangup) {
        // Once: a later hangup line, timed or sent, arms it again.
        const Hangup hangup = *scenario.hangup;
        session.scenario.hangup.reset();
        const std::string_view part = std::string_view(reply).substr(0, hangup.afterBytes);
        if (!sendPaced(session, part, start)) return Sent::Stopped;
        const std::int64_t wait = std::int64_t{hangup.waitMs} * NANOS_PER_MILLI;
        return sleepUntil(session, monotonicNanos() + wait) ? Sent::HungUp : Sent::Stopped;
    }
    if (!sendPaced(session, reply, start)) return Sent::Stopped;
    if (scenario.floodMs > 0 && !sendFlood(session)) return Sent::Stopped;
    return Sent::Whole;
}

// Takes received bytes; answers each command completed by a carriage return.
// What follows a hang-up is dropped.
Sent takeBytes(Session& session, const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != '\r') {
            if (session.command.size() < COMMAND_LIMIT) session.command.push_back(bytes[i]);
            continue;
        }
        // Control lines sent before this command take effect before its reply.
        takeControl(session);
        const std::int64_t now = elapsedMs(session);
        reportLines(session, "", applyDueLines(session.scenario, now));
        const auto reply = replyTo(session.scenario, session.command, now, session.record);
        session.command.clear();
        if (!reply) continue;
        const Sent sent = sendReply(session, *reply);
        if (sent != Sent::Whole) return sent;
    }
    return Sent::Whole;
}

// Reads what the master holds. Returns the byte count, 0 when none, -1 on
// trouble.
ssize_t readMaster(const Session& session, char* buffer, std::size_t size) {
    const ssize_t count = read(session.terminal.master, buffer, size);
    if (count > 0) writeLog(session, buffer, static_cast<std::size_t>(count));
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return count == 0 ? -1 : count;
}

// Logs what is still queued, when the device hangs up or is told to stop.
void drainMaster(const Session& session) {
    char buffer[256];
    while (session.terminal.master >= 0 && readMaster(session, buffer, sizeof buffer) > 0) {
    }
}

// Closes the terminal, which the driver's side sees as a hang-up, and takes
// the link away with it, as an unplugged port's name goes. With a reconnect
// time the device comes back on a new terminal behind the same link. False
// when a stop signal came meanwhile, or the new terminal failed.
bool hangUp(Session& session) {
    drainMaster(session);
    removeLink(session);
    closeTerminal(session.terminal);
    session.command.clear();
    const auto reconnect = session.scenario.reconnectMs;
    if (!reconnect) return waitForStop(session);
    if (!sleepUntil(session, monotonicNanos() + std::int64_t{*reconnect} * NANOS_PER_MILLI)) return false;
    session.failed = !openTerminal(session.terminal) ||
                     !makeLink(session.terminal.slaveName, session.options.linkPath);
    return !session.failed;
}

// Serves until a stop signal comes or the device fails.
void serve(Session& session) {
    char buffer[256];
    for (;;) {
        if (!waitForInput(session, true)) return;
        const ssize_t count = readMaster(session, buffer, sizeof buffer);
        if (count < 0) {
            // Not expected while the device holds the terminal; never spin on it.
            if (!sleepUntil(session, monotonicNanos() + 100 * NANOS_PER_MILLI)) return;
            continue;
        }
        const Sent sent = takeBytes(session, buffer, static_cast<std::size_t>(count));
        if (sent == Sent::Stopped || (sent == Sent::HungUp && !hangUp(session))) return;
    }
}

void closeAll(Session& session) {
    for (int fd : {session.terminal.master, session.terminal.slave, session.log}) {
        if (fd >= 0) close(fd);
    }
    removeControlFifo(session.control);
}

int fail(Session& session, const std::string& message) {
    std::fprintf(stderr, "vardel-sim: %s\n", message.c_str());
    closeAll(session);
    return 1;
}

int failWithError(Session& session, const char* what) { return fail(session, what + std::string(": ") + std::strerror(errno)); }

}  // namespace

int runDevice(const DeviceOptions& options) {
    Session session{.options = options, .scenario = options.scenario, .startNanos = monotonicNanos()};
    blockStopSignals(session.waitMask);
    signal(SIGPIPE, SIG_IGN);  // a closed error output shows as a failed write
    std::string error;
    if (!options.logPath.empty()) {
        session.log = openLog(options.logPath, error);
        if (session.log < 0) return fail(session, error);
    }
    if (!options.controlPath.empty() && !createControlFifo(options.controlPath, session.control, error)) {
        return fail(session, error);
    }
    if (!openTerminal(session.terminal)) return failWithError(session, "pseudo-terminal");
    if (!makeLink(session.terminal.slaveName, options.linkPath)) return failWithError(session, options.linkPath.c_str());
    std::printf("ready %s\n", options.linkPath.c_str());
    std::fflush(stdout);
    serve(session);
    if (session.failed) return failWithError(session, "pseudo-terminal");
    drainMaster(session);
    removeLink(session);
    closeAll(session);
    return 0;
}

}  // namespace vardel::sim
