// The serial link on a Windows communications port.
//
// The port is opened without overlapped I/O, so the only wait that the
// system bounds in time is a read under the port's time-outs. A wait for
// input is therefore a one-byte read limited to the time left; the byte it
// brings is kept in the link as a look-ahead and is the next one taken.

#include <windows.h>

#include "serial/serial_link.hpp"

namespace vardel {
namespace {

constexpr DWORD QUEUE_SIZE = 256;

HANDLE handleOf(const SerialLink& link) { return reinterpret_cast<HANDLE>(link.handle); }

bool isValid(const SerialLink& link) {
    const HANDLE handle = handleOf(link);
    return handle != INVALID_HANDLE_VALUE && handle != nullptr;
}

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
    const std::string name = link.portName;
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    link.handle = reinterpret_cast<std::intptr_t>(handle);
    link.lookAheadByte = -1;
    SetupComm(handle, QUEUE_SIZE, QUEUE_SIZE);
    DCB control{};
    control.DCBlength = sizeof control;
    GetCommState(handle, &control);
    BuildCommDCBA(link.lineSettings.c_str(), &control);
    SetCommState(handle, &control);
    COMMTIMEOUTS timeouts = timeoutsFor(link, link.timeoutMs);
    SetCommTimeouts(handle, &timeouts);
}

void writeText(SerialLink& link, std::string_view text) {
    DWORD written = 0;
    WriteFile(handleOf(link), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::uint16_t bytesWaiting(SerialLink& link) {
    DWORD errors = 0;
    COMSTAT status{};
    const DWORD queued = ClearCommError(handleOf(link), &errors, &status) ? status.cbInQue : 0;
    const DWORD lookAhead = link.lookAheadByte >= 0 ? 1 : 0;
    return static_cast<std::uint16_t>(queued + lookAhead);
}

bool readOneByte(SerialLink& link, char& byte) {
    if (link.lookAheadByte >= 0) {
        byte = static_cast<char>(link.lookAheadByte);
        link.lookAheadByte = -1;
        return true;
    }
    return readByte(handleOf(link), byte);
}

void waitForInput(SerialLink& link, std::uint32_t milliseconds) {
    if (link.lookAheadByte >= 0) return;
    const ULONGLONG started = GetTickCount64();
    COMMTIMEOUTS timeouts = timeoutsFor(link, milliseconds);
    char byte = 0;
    if (isValid(link) && SetCommTimeouts(handleOf(link), &timeouts) && readByte(handleOf(link), byte)) {
        link.lookAheadByte = static_cast<unsigned char>(byte);
        return;
    }
    sleepRest(started, milliseconds);
}

std::uint32_t tickCount() { return GetTickCount(); }

void releasePort(SerialLink& link) {
    if (isValid(link)) CloseHandle(handleOf(link));
    link.handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    link.lookAheadByte = -1;
}

}  // namespace vardel
