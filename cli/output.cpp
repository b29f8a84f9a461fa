#include "cli/output.hpp"

#include <algorithm>
#include <memory>

#include "cli/process.hpp"

namespace vardel {

namespace {

void noteError(StandardOutput& out, int code) {
    if (code != 0 && out.pendingError == 0) out.pendingError = code;
}

// Opens the stream on first use; a stream that can't be opened records 103.
bool ensureOpen(StandardOutput& out) {
    if (!out.opened) {
        out.opened = true;
        const int code = out.sink.open ? out.sink.open(out.isConsole) : STREAM_NOT_OPEN;
        if (code != 0) noteError(out, code);
    }
    return out.pendingError == 0;
}

void handOver(StandardOutput& out) {
    if (out.used == 0) return;
    if (out.pendingError == 0) noteError(out, out.sink.write(std::string_view(out.buffer.data(), out.used)));
    out.used = 0;
}

void append(StandardOutput& out, std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t room = out.buffer.size() - out.used;
        const std::size_t take = std::min(room, bytes.size());
        std::copy_n(bytes.data(), take, out.buffer.data() + out.used);
        out.used += take;
        bytes.remove_prefix(take);
        if (out.used == out.buffer.size()) handOver(out);
    }
}

void appendLine(StandardOutput& out, std::string_view text) {
    ensureOpen(out);
    append(out, text);
    append(out, "\r\n");
    if (out.isConsole) handOver(out);
}

}  // namespace

void printLine(StandardOutput& out, std::string_view text) {
    appendLine(out, text);
    if (out.pendingError != 0) {
        const int code = out.pendingError;
        out.pendingError = 0;
        raiseOutputFailure(code);
    }
}

int flushOutput(StandardOutput& out) {
    if (out.opened) handOver(out);
    return out.pendingError;
}

int reportFailure(StandardOutput& out, const DriverFailure& failure, std::string_view programName) {
    const std::string report = buildFailureReport(failure, programName, out.sink.toAnsi);
    // A report about the output itself can't go where the output failed.
    const bool outputUsable = failure.kind != FailureKind::Output && ensureOpen(out);
    if (outputUsable) {
        appendLine(out, report);
        if (flushOutput(out) == 0) return 1;
    }
    if (out.sink.writeError) out.sink.writeError(report + "\r\n");
    return 1;
}

OutputSink platformOutputSink(bool wasClosedAtStart) {
    auto channel = std::make_shared<OutputChannel>();
    OutputSink sink;
    sink.open = [channel, wasClosedAtStart](bool& isConsole) {
        const int code = openStandardOutput(*channel, wasClosedAtStart);
        isConsole = channel->isConsole;
        return code;
    };
    sink.write = [channel](std::string_view bytes) { return writeStandardOutput(*channel, bytes); };
    sink.writeError = [](std::string_view bytes) { writeErrorOutput(bytes); };
    sink.toAnsi = toAnsi;
    return sink;
}

}  // namespace vardel
