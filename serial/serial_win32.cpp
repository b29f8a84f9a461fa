// The serial link on a Windows communications port.
//
// The port is opened without overlapped I/O, so the only wait that the
// system bounds in time is a read under the port's time-outs. A wait for
// input is therefore a one-byte read limited to the time left, repeated
// when the port ends it early (serial/byte_wait_win32.cpp); the byte it
// brings is kept with the port as a look-ahead and is the next one taken.

#include <windows.h>

#include <string>

#include "serial/serial_link.hpp"
#include "serial/serial_win32.hpp"
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

// One read of one byte under a read time-out of `milliseconds`.
ByteRead readWithin(const SerialLink& link, std::uint32_t milliseconds) {
    COMMTIMEOUTS timeouts = timeoutsFor(link, milliseconds);
    if (!SetCommTimeouts(handleOf(link), &timeouts)) return ByteRead{ByteRead::Outcome::Failed};
    ByteRead read;
    DWORD count = 0;
    if (!ReadFile(handleOf(link), &read.byte, 1, &count, nullptr)) return ByteRead{ByteRead::Outcome::Failed};
    read.outcome = count == 1 ? ByteRead::Outcome::Byte : ByteRead::Outcome::Nothing;
    return read;
}

// The line control record: the port's own, the line settings applied and
// the rest completed to a three-wire line.
void configureLine(HANDLE handle, const std::string& settings) {
    DCB control{};
    control.DCBlength = sizeof control;
    GetCommState(handle, &control);
    buildLineControl(settings.c_str(), control);
    SetCommState(handle, &control);
}

// An error that another program left pending on the port would otherwise
// fail the first read under abort-on-error; cleared once after the open.
void clearPendingErrors(HANDLE handle) {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(handle, &errors, &status);
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
    clearPendingErrors(handle);
    SetupComm(handle, QUEUE_SIZE, QUEUE_SIZE);
    configureLine(handle, link.lineSettings);
    COMMTIMEOUTS timeouts = timeoutsFor(link, link.timeoutMs);
    SetCommTimeouts(handle, &timeouts);
    // The driver's documentation promises no empty queue at open, and USB
    // adapters bring drivers of their own: what came earlier is dropped here.
    PurgeComm(handle, PURGE_RXCLEAR);
}

bool portIsOpen(const SerialLink& link) { return isValid(link); }

void writeText(SerialLink& link, std::string_view text) {
    traceLink(link, (isValid(link) ? "sent \"" : "not sent, no port: \"") + escapedBytes(text) + "\"");
    DWORD written = 0;
    WriteFile(handleOf(link), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
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
    // A port that isn't there can't wait: the whole wait is a sleep.
    if (!isValid(link)) {
        Sleep(milliseconds);
        return;
    }
    const ByteWaitPort port{
        [&link](std::uint32_t left) { return readWithin(link, left); },
        [] { return static_cast<std::uint32_t>(GetTickCount()); },
        [](std::uint32_t pause) { Sleep(pause); },
    };
    if (const std::optional<char> byte = waitForByte(port, milliseconds)) {
        link.port->lookAheadByte = static_cast<unsigned char>(*byte);
    }
}

std::uint32_t tickCount() { return GetTickCount(); }

void PortRelease::operator()(PortState* state) const noexcept {
    if (state->handle != INVALID_HANDLE_VALUE && state->handle != nullptr) CloseHandle(state->handle);
    delete state;
}

}  // namespace vardel
