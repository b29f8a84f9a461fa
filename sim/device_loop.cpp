#include "sim/device_loop.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "serial/monotonic_clock.hpp"
#include "sim/device_port.hpp"
#include "sim/replies.hpp"
#include "text/escaped_bytes.hpp"

namespace vardel::sim {
namespace {

constexpr std::int64_t WRITE_LIMIT_NANOS = NANOS_PER_SECOND;
constexpr std::size_t COMMAND_LIMIT = 4096;
constexpr std::size_t CONTROL_LINE_LIMIT = 4096;
constexpr std::size_t FLOOD_CHUNK = 4096;
constexpr std::int64_t TROUBLE_PAUSE_NANOS = 100 * NANOS_PER_MILLI;

struct Session {
    DevicePort& port;
    Scenario scenario;     // changed by timed and control lines as the device runs
    DeviceRecord record{};
    std::int64_t startNanos = 0;  // the time base of the signals
    std::string controlLine{};    // a control line still without its line feed
    bool controlLineTooLong = false;
    std::string command{};
    bool failed = false;  // the device couldn't come back
    std::string failure{};
};

enum class Sent { Whole, HungUp, Stopped };

std::int64_t elapsedMs(const Session& session) { return (monotonicNanos() - session.startNanos) / NANOS_PER_MILLI; }

bool sleepFor(Session& session, std::int64_t nanos) { return sleepUnlessStopped(session.port, monotonicNanos() + nanos); }

// Each message on the error output and in the log, one line each.
void reportLines(Session& session, const std::string& prefix, const std::vector<std::string>& messages) {
    for (const auto& message : messages) {
        const std::string line = "vardel-sim: " + prefix + message + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);  // a Windows error output into a file or pipe is buffered
        writeLog(session.port, line);
    }
}

void applyControlLine(Session& session, std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return;
    std::string error;
    const bool applied = applyScenarioLine(line, session.scenario, error);
    std::string report = "'";
    report.append(escapedBytes(line, HighBytes::Kept)).append("': ").append(applied ? "ok" : error);
    reportLines(session, "control: ", {report});
}

void takeControlByte(Session& session, char byte) {
    if (byte != '\n') {
        if (session.controlLine.size() < CONTROL_LINE_LIMIT) {
            session.controlLine.push_back(byte);
        } else {
            session.controlLineTooLong = true;
        }
        return;
    }
    if (session.controlLineTooLong) {
        reportLines(session, "control: ",
                    {"a line longer than " + std::to_string(CONTROL_LINE_LIMIT) + " bytes, not applied"});
    } else {
        applyControlLine(session, session.controlLine);
    }
    session.controlLine.clear();
    session.controlLineTooLong = false;
}

// Takes the lines that wait in the control channel, without blocking.
void takeControl(Session& session) {
    char buffer[1024];
    while (const std::size_t count = readControl(session.port, buffer, sizeof buffer)) {
        for (std::size_t i = 0; i < count; ++i) takeControlByte(session, buffer[i]);
    }
}

// Sleeps until the driver has sent something or a control line came; takes
// the control lines. `driverPort` false: waits for control lines alone.
// False when a stop request came.
bool waitAndTakeControl(Session& session, bool driverPort) {
    const Wake wake = waitForWake(session.port, driverPort);
    if (wake.stop) return false;
    if (wake.control) takeControl(session);
    return true;
}

// Sleeps until a stop request comes, taking control lines meanwhile. Always false.
bool waitForStop(Session& session) {
    while (waitAndTakeControl(session, false)) {
    }
    return false;
}

// A write that gives up after a second without room. False when a stop request came.
bool writeOrDrop(Session& session, std::string_view bytes) {
    return writeToDriver(session.port, bytes, monotonicNanos() + WRITE_LIMIT_NANOS) != Written::Stopped;
}

std::int64_t byteNanos(const Scenario& scenario) { return 10 * NANOS_PER_SECOND / scenario.baud; }

// Sends bytes from `start` on, paced when a rate is set. Each byte's time
// is fixed from `start`, so a late wake-up sends the bytes that are due at
// once. False when a stop request came meanwhile.
bool sendPaced(Session& session, std::string_view bytes, std::int64_t start) {
    const Scenario& scenario = session.scenario;
    if (scenario.baud == 0) return writeOrDrop(session, bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!writeOrDrop(session, bytes.substr(i, 1))) return false;
        if (!sleepUnlessStopped(session.port, start + static_cast<std::int64_t>(i + 1) * byteNanos(scenario))) return false;
    }
    return true;
}

// The flood at the scenario's rate until `end`.
bool sendPacedFlood(Session& session, std::string_view chunk, std::int64_t start, std::int64_t end) {
    const Scenario& scenario = session.scenario;
    for (std::size_t i = 0; start + static_cast<std::int64_t>(i) * byteNanos(scenario) < end; ++i) {
        if (!writeOrDrop(session, chunk.substr(i % scenario.floodText.size(), 1))) return false;
        if (!sleepUnlessStopped(session.port, start + static_cast<std::int64_t>(i + 1) * byteNanos(scenario))) return false;
    }
    return true;
}

// Sends the flood text over and over until the flood time is up: paced
// when a rate is set, otherwise as fast as the port takes it. False when a
// stop request came meanwhile.
bool sendFlood(Session& session) {
    const Scenario& scenario = session.scenario;
    const std::int64_t start = monotonicNanos();
    const std::int64_t end = start + std::int64_t{scenario.floodMs} * NANOS_PER_MILLI;
    std::string chunk;
    while (chunk.size() < FLOOD_CHUNK) chunk += scenario.floodText;
    if (scenario.baud > 0) return sendPacedFlood(session, chunk, start, end);
    while (monotonicNanos() < end) {
        const Written written = writeToDriver(session.port, chunk, end);
        if (written == Written::Stopped) return false;
        if (written == Written::Failed) return sleepUnlessStopped(session.port, end);
    }
    return true;
}

// Sends a reply after the scenario's delay. The scenario's hang-up cuts the
// first reply short; a flood follows every whole one.
Sent sendReply(Session& session, const std::string& reply) {
    const Scenario& scenario = session.scenario;
    const std::int64_t start = monotonicNanos() + std::int64_t{scenario.delayMs} * NANOS_PER_MILLI;
    if (scenario.delayMs > 0 && !sleepUnlessStopped(session.port, start)) return Sent::Stopped;
    if (scenario.hangup) {
        // Once: a later hangup line, timed or sent, arms it again.
        const Hangup hangup = *scenario.hangup;
        session.scenario.hangup.reset();
        const std::string_view part = std::string_view(reply).substr(0, hangup.afterBytes);
        if (!sendPaced(session, part, start)) return Sent::Stopped;
        return sleepFor(session, std::int64_t{hangup.waitMs} * NANOS_PER_MILLI) ? Sent::HungUp : Sent::Stopped;
    }
    if (!sendPaced(session, reply, start)) return Sent::Stopped;
    if (scenario.floodMs > 0 && !sendFlood(session)) return Sent::Stopped;
    return Sent::Whole;
}

// Takes received bytes; answers each command completed by a carriage return.
// What follows a hang-up is dropped.
Sent answerCommands(Session& session, const char* bytes, std::size_t count) {
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

// Closes the port, which the driver's side sees as a hang-up. With a
// reconnect time the device comes back on the same name. False when a stop
// request came meanwhile, or the port couldn't be opened again.
bool hangUp(Session& session) {
    closeDriverPort(session.port);
    session.command.clear();
    const auto reconnect = session.scenario.reconnectMs;
    if (!reconnect) return waitForStop(session);
    if (!sleepFor(session, std::int64_t{*reconnect} * NANOS_PER_MILLI)) return false;
    session.failed = !openDriverPort(session.port, session.failure);
    return !session.failed;
}

// Serves until a stop request comes or the device fails.
void serve(Session& session) {
    char buffer[256];
    for (;;) {
        if (!waitAndTakeControl(session, true)) return;
        const std::ptrdiff_t count = readFromDriver(session.port, buffer, sizeof buffer);
        if (count < 0) {
            // Not expected while the device holds the port; never spin on it.
            if (!sleepFor(session, TROUBLE_PAUSE_NANOS)) return;
            continue;
        }
        const Sent sent = answerCommands(session, buffer, static_cast<std::size_t>(count));
        if (sent == Sent::Stopped || (sent == Sent::HungUp && !hangUp(session))) return;
    }
}

int fail(const std::string& message) {
    std::fprintf(stderr, "vardel-sim: %s\n", message.c_str());
    return 1;
}

}  // namespace

int runDevice(const DeviceOptions& options) {
    const std::int64_t startNanos = monotonicNanos();
    std::string error;
    DevicePortHandle port = prepareDevice(options, error);
    if (!port) return fail(error);
    if (!openDriverPort(*port, error)) return fail(error);
    Session session{.port = *port, .scenario = options.scenario, .startNanos = startNanos};
    std::printf("ready %s\n", options.portName.c_str());
    std::fflush(stdout);
    serve(session);
    if (session.failed) return fail(session.failure);
    closeDriverPort(*port);
    return 0;
}

}  // namespace vardel::sim
