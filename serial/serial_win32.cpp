// The serial link on a Windows communications port.
//
// The port is opened without overlapped I/O, so the only wait that the
// system bounds in time is a read under the port's time-outs. A wait for
// input is therefore a one-byte read limited to the time left; the byte it
// brings is kept with the port as a look-ahead and is the next one taken.

#include <windows.h>

#include <string>

#include "serial/serial_link.hpp"
#include "serial/windows_error.hpp"

namespace vardel {

struct PortState {
    HANDLE handle = INVALID_HANDLE_VALUE;  // kept whatever CreateFileA gave
    int lookAheadByte = -1;                // read while waiting, not yet taken (-1: none)
};

namespace {

constexpr DWORD QUEUE_SIZE = 256;

HANDLE handleOf(const SerialLink& link) { return link.port ? link.port->handle : INVALID_HANDLE_VALUE; }

bool isValid(const SerialLink& link) {
    const HANDLE handle = handleOf(link);
    return handle != INVALID_HANDLE_VALUE && handle != nullptr;
}

bool hasLookAhead(const SerialLink& link) { return link.port && link.port->lookAheadByte >= 0; }

// A read of one byte waits at most `readMs` (at least 1: all zero would
// mean no limit); a write at most the link's time-out.
COMMTIMEOUTS timeoutsFor(const SerialLink& link, DWORD readMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = readMs > 0 ? readMs : 1;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = link.timeoutMs;
    return timeouts;
}

bool readByte(HANDLE handle, char& byte) {
    DWORD count = 0;
    return ReadFile(handle, &byte, 1, &count, nullptr) && count == 1;
}

// Sleeps for what is left of a wait that the port ended early.
void sleepRest(ULONGLONG started, DWORD milliseconds) {
    const ULONGLONG elapsed = GetTickCount64() - started;
    if (elapsed < milliseconds) Sleep(static_cast<DWORD>(milliseconds - elapsed));
}

}  // namespace

void openPort(SerialLink& link) {
    link.port.reset();
    const std::string name = link.portName;
    traceLink(link, "port " + name);
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    traceLink(link, handle == INVALID_HANDLE_VALUE ? "open failed: " + windowsErrorText(GetLastError()) : "opened " + name);
    link.port.reset(new PortState{handle});
    // Each call is made whatever the one before gave; what an opened port
    // refuses is traced with the system's error text.
    const auto traceIfRefused = [&link, handle](BOOL done, std::string_view setting) {
        if (done || handle == INVALID_HANDLE_VALUE) return;
        traceLink(link, refusalTraceText(setting, windowsErrorText(GetLastError())));
    };
    traceIfRefused(SetupComm(handle, QUEUE_SIZE, QUEUE_SIZE), "queue sizes");
    DCB control{};
    control.DCBlength = sizeof control;
    traceIfRefused(GetCommState(handle, &control), "reading of its line settings");
    traceIfRefused(BuildCommDCBA(link.lineSettings.c_str(), &control), "line settings text");
    traceIfRefused(SetCommState(handle, &control), "line settings");
    COMMTIMEOUTS timeouts = timeoutsFor(link, link.timeoutMs);
    traceIfRefused(SetCommTimeouts(handle, &timeouts), "time-outs");
    // The driver's documentation promises no empty queue at open, and USB
    // adapters bring drivers of their own: what came earlier is dropped here.
    traceIfRefused(PurgeComm(handle, PURGE_RXCLEAR), "flush of the receive queue");
}

bool portIsOpen(const SerialLink& link) { return isValid(link); }

void writeText(SerialLink& link, std::string_view text) {
    DWORD written = 0;
    const BOOL done = WriteFile(handleOf(link), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    const std::string failure = done ? "no room before the time-out" : windowsErrorText(GetLastError());
    traceLink(link, isValid(link) ? writeTraceText(text, written, failure)
                                  : "not sent, no port: \"" + escapedBytes(text) + "\"");
}

std::uint16_t bytesWaiting(SerialLink& link) {
    DWORD errors = 0;
    COMSTAT status{};
    const DWORD queued = ClearCommError(handleOf(link), &errors, &status) ? status.cbInQue : 0;
    const DWORD lookAhead = hasLookAhead(link) ? 1 : 0;
    return static_cast<std::uint16_t>(queued + lookAhead);
}

bool readOneByte(SerialLink& link, char& byte) {
    if (hasLookAhead(link)) {
        byte = static_cast<char>(link.port->lookAheadByte);
        link.port->lookAheadByte = -1;
        return true;
    }
    return readByte(handleOf(link), byte);
}

void waitForInput(SerialLink& link, std::uint32_t milliseconds) {
    if (hasLookAhead(link)) return;
    const ULONGLONG started = GetTickCount64();
    COMMTIMEOUTS timeouts = timeoutsFor(link, milliseconds);
    char byte = 0;
    if (isValid(link) && SetCommTimeouts(handleOf(link), &timeouts) && readByte(handleOf(link), byte)) {
        link.port->lookAheadByte = static_cast<unsigned char>(byte);
        return;
    }
    sleepRest(started, milliseconds);
}

std::uint32_t tickCount() { return GetTickCount(); }

void PortRelease::operator()(PortState* state) const noexcept {
    if (state->handle != INVALID_HANDLE_VALUE && state->handle != nullptr) CloseHandle(state->handle);
    delete state;
}

}  // namespace vardel
