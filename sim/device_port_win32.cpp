// The simulated device on a Windows COM port, one end of a null-modem pair
// whose other end the driver opens; a named pipe for control lines; Ctrl+C
// and Ctrl+Break as stop requests.
//
// The port and the pipe are opened for overlapped I/O: one read is kept
// pending on each, and a wait is one WaitForMultipleObjects on their events
// and the stop event.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "serial/monotonic_clock.hpp"
#include "serial/windows_error.hpp"
#include "sim/device_port.hpp"

namespace vardel::sim {

// One overlapped operation and the bytes its read brought.
struct Pending {
    OVERLAPPED overlapped{};
    char buffer[1024] = {};
    DWORD count = 0;        // bytes in `buffer` not yet taken
    bool started = false;   // the operation is in progress
};

enum class PipeState { Unused, Waiting, Connected, Broken };

struct DevicePort {
    std::string portName;  // as given, for messages
    std::string portPath;  // \\.\COMn
    HANDLE stop = nullptr;
    HANDLE comm = INVALID_HANDLE_VALUE;
    Pending read{};
    OVERLAPPED write{};
    HANDLE log = INVALID_HANDLE_VALUE;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    PipeState pipeState = PipeState::Unused;
    Pending pipeRead{};
};

namespace {

constexpr char PIPE_PREFIX[] = "\\\\.\\pipe\\";
constexpr std::size_t PIPE_NAME_LIMIT = 256;
constexpr DWORD PIPE_BUFFER = 4096;

// The console's handler runs on a thread of its own and knows nothing of
// the device: it finds the stop event by this process's name for it.
std::string stopEventName(DWORD processId) { return "Local\\vardel-sim-stop-" + std::to_string(processId); }

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    const HANDLE stop = OpenEventA(EVENT_MODIFY_STATE, FALSE, stopEventName(GetCurrentProcessId()).c_str());
    if (stop == nullptr) return FALSE;
    SetEvent(stop);
    CloseHandle(stop);
    return TRUE;
}

std::string lastError(const std::string& what) { return what + ": " + windowsErrorText(GetLastError()); }

bool failWith(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// COM2 is opened as \\.\COM2, the one name that serves COM10 and above too.
std::string devicePathOf(const std::string& portName) {
    return startsWithNoCase(portName, "\\\\.\\") ? portName : "\\\\.\\" + portName;
}

bool isPipeName(std::string_view name) {
    if (!startsWithNoCase(name, PIPE_PREFIX) || name.size() > PIPE_NAME_LIMIT) return false;
    const std::string_view own = name.substr(std::strlen(PIPE_PREFIX));
    return !own.empty() && own.find('\\') == std::string_view::npos;
}

void closeHandle(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

// Ends an operation in progress; what a read brought before stays counted.
void cancel(HANDLE handle, Pending& pending) {
    if (!pending.started) return;
    CancelIoEx(handle, &pending.overlapped);
    DWORD count = 0;
    if (GetOverlappedResult(handle, &pending.overlapped, &count, TRUE)) pending.count = count;
    pending.started = false;
}

// Starts a read of up to `size` bytes unless one is in progress or bytes
// wait to be taken. False when the handle refuses it; `error` is then the
// system's code.
bool startRead(HANDLE handle, Pending& pending, DWORD size, DWORD& error) {
    if (pending.started || pending.count > 0) return true;
    DWORD count = 0;
    if (ReadFile(handle, pending.buffer, size, &count, &pending.overlapped)) {
        pending.count = count;
        return true;
    }
    error = GetLastError();
    pending.started = error == ERROR_IO_PENDING;
    return pending.started;
}

// Takes a finished read's count. False while it is still in progress;
// `error` is set when it failed.
bool finishRead(HANDLE handle, Pending& pending, DWORD& error) {
    if (!pending.started) return true;
    DWORD count = 0;
    if (GetOverlappedResult(handle, &pending.overlapped, &count, FALSE)) {
        pending.started = false;
        pending.count = count;
        return true;
    }
    error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return false;
    pending.started = false;
    return true;
}

std::size_t takePending(Pending& pending, char* buffer, std::size_t size) {
    const std::size_t count = std::min<std::size_t>(size, pending.count);
    std::memcpy(buffer, pending.buffer, count);
    std::memmove(pending.buffer, pending.buffer + count, pending.count - count);
    pending.count -= static_cast<DWORD>(count);
    return count;
}

// A plain line for the simulated device: 8 bits, no parity, no flow control,
// modem lines up. On a null-modem pair the rate is only a label.
void configurePort(HANDLE comm) {
    DCB control{};
    control.DCBlength = sizeof control;
    if (GetCommState(comm, &control) &&
        BuildCommDCBA("baud=9600 parity=N data=8 stop=1 xon=off odsr=off octs=off dtr=on rts=on idsr=off",
                      &control)) {
        control.fAbortOnError = FALSE;
        SetCommState(comm, &control);
    }
    // No time-outs: a read waits until it has all the bytes it asked for.
    COMMTIMEOUTS timeouts{};
    SetCommTimeouts(comm, &timeouts);
    PurgeComm(comm, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

std::string notRegular(const std::string& path, std::string_view kind) {
    return path + ": is " + std::string(kind) + ", not a regular file; the log is never written there";
}

// The log: an existing regular file, appended to, or a new one. A directory,
// a link or a device is refused.
bool openLogFile(DevicePort& port, const std::string& path, std::string& error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    DWORD disposition = OPEN_EXISTING;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return failWith(error, lastError(path));
        disposition = CREATE_NEW;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return failWith(error, notRegular(path, "a directory"));
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return failWith(error, notRegular(path, "a link"));
    }
    port.log = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (port.log == INVALID_HANDLE_VALUE) return failWith(error, lastError(path));
    if (GetFileType(port.log) != FILE_TYPE_DISK) {
        closeHandle(port.log);
        return failWith(error, notRegular(path, "a device"));
    }
    return true;
}

// Made only where no pipe of that name exists.
bool createControlPipe(DevicePort& port, const std::string& name, std::string& error) {
    if (!isPipeName(name)) {
        error = name + ": is no pipe name; the control channel is a named pipe such as \\\\.\\pipe\\vardel-sim";
        return false;
    }
    port.pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                 PIPE_BUFFER, PIPE_BUFFER, 0, nullptr);
    if (port.pipe == INVALID_HANDLE_VALUE) {
        // Windows refuses the first instance with access denied, Wine says busy.
        const DWORD code = GetLastError();
        if (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY) {
            return failWith(error, name + ": a pipe of that name exists already; the control pipe is made only "
                                          "where none is");
        }
        return failWith(error, name + ": " + windowsErrorText(code));
    }
    port.pipeRead.overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port.pipeState = PipeState::Waiting;
    return true;
}

// Waits for the next writer once the last one has gone.
void awaitWriter(DevicePort& port) {
    DisconnectNamedPipe(port.pipe);
    port.pipeState = PipeState::Waiting;
}

// Moves the pipe on as far as it goes without waiting: a writer taken, a
// read started. Stops when an operation is in progress or bytes wait.
void advancePipe(DevicePort& port) {
    for (int step = 0; step < 4 && port.pipeRead.count == 0 && !port.pipeRead.started; ++step) {
        if (port.pipeState == PipeState::Waiting) {
            if (ConnectNamedPipe(port.pipe, &port.pipeRead.overlapped)) {
                port.pipeState = PipeState::Connected;
                continue;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) port.pipeRead.started = true;
            if (error == ERROR_PIPE_CONNECTED) port.pipeState = PipeState::Connected;
            if (error == ERROR_NO_DATA) awaitWriter(port);
            if (error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
                port.pipeState = PipeState::Broken;
            }
        } else if (port.pipeState == PipeState::Connected) {
            DWORD error = 0;
            if (!startRead(port.pipe, port.pipeRead, sizeof port.pipeRead.buffer, error)) awaitWriter(port);
        } else {
            return;
        }
    }
}

// Takes a finished connect or read of the pipe.
void finishPipe(DevicePort& port) {
    DWORD error = 0;
    if (!finishRead(port.pipe, port.pipeRead, error)) return;
    if (error != 0) {
        awaitWriter(port);  // the writer closed its end, or left before it was taken
    } else if (port.pipeState == PipeState::Waiting) {
        port.pipeState = PipeState::Connected;
        port.pipeRead.count = 0;  // a connect brings no bytes
    }
}

DWORD waitMilliseconds(std::int64_t deadline) {
    return static_cast<DWORD>(std::min<std::int64_t>(millisecondsUntil(deadline), INFINITE - 1));
}

bool isOpen(const DevicePort& port) { return port.comm != INVALID_HANDLE_VALUE; }

}  // namespace

DevicePortHandle prepareDevice(const DeviceOptions& options, std::string& error) {
    DevicePortHandle port(new DevicePort{.portName = options.portName, .portPath = devicePathOf(options.portName)});
    port->stop = CreateEventA(nullptr, TRUE, FALSE, stopEventName(GetCurrentProcessId()).c_str());
    if (port->stop == nullptr) {
        error = lastError("stop event");
        return nullptr;
    }
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    port->read.overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port->write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!options.logPath.empty() && !openLogFile(*port, options.logPath, error)) return nullptr;
    if (!options.controlPath.empty() && !createControlPipe(*port, options.controlPath, error)) return nullptr;
    return port;
}

bool openDriverPort(DevicePort& port, std::string& error) {
    port.comm = CreateFileA(port.portPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (!isOpen(port)) return failWith(error, lastError(port.portName));
    configurePort(port.comm);
    return true;
}

void closeDriverPort(DevicePort& port) {
    if (!isOpen(port)) return;
    cancel(port.comm, port.read);
    writeLog(port, std::string_view(port.read.buffer, port.read.count));
    port.read.count = 0;
    closeHandle(port.comm);
}

Wake waitForWake(DevicePort& port, bool driverPort) {
    HANDLE events[3] = {port.stop};
    DWORD count = 1;
    Wake ready{};
    if (port.pipeState != PipeState::Unused) {
        advancePipe(port);
        ready.control = port.pipeRead.count > 0;
        if (port.pipeRead.started) events[count++] = port.pipeRead.overlapped.hEvent;
    }
    DWORD error = 0;
    if (driverPort && isOpen(port)) {
        // One byte: the read that waits for the first byte ends with it.
        ready.driver = !startRead(port.comm, port.read, 1, error) || port.read.count > 0;
        if (port.read.started) events[count++] = port.read.overlapped.hEvent;
    }
    const DWORD timeout = ready.control || ready.driver ? 0 : INFINITE;
    const DWORD woken = WaitForMultipleObjects(count, events, FALSE, timeout);
    if (woken == WAIT_OBJECT_0) return {.stop = true};
    if (woken == WAIT_FAILED) {
        // Not expected; never spin on it.
        Sleep(100);
        return {};
    }
    const HANDLE event = woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + count ? events[woken - WAIT_OBJECT_0] : nullptr;
    ready.control = ready.control || (event != nullptr && event == port.pipeRead.overlapped.hEvent);
    ready.driver = ready.driver || (event != nullptr && event == port.read.overlapped.hEvent);
    return ready;
}

// After the first byte, what else is queued, read at once.
void readQueued(DevicePort& port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port.comm, &errors, &status) || status.cbInQue == 0) return;
    const DWORD wanted = std::min<DWORD>(status.cbInQue, sizeof port.read.buffer - port.read.count);
    DWORD count = 0;
    ResetEvent(port.read.overlapped.hEvent);
    const bool done = ReadFile(port.comm, port.read.buffer + port.read.count, wanted, &count, &port.read.overlapped) ||
                      (GetLastError() == ERROR_IO_PENDING &&
                       GetOverlappedResult(port.comm, &port.read.overlapped, &count, TRUE));
    if (done) port.read.count += count;
}

std::ptrdiff_t readFromDriver(DevicePort& port, char* buffer, std::size_t size) {
    if (!isOpen(port)) return -1;
    DWORD error = 0;
    if (!finishRead(port.comm, port.read, error)) return 0;
    // A read that ends with no byte means trouble: it waits for one otherwise.
    if (error != 0 || port.read.count == 0) return -1;
    readQueued(port);
    const std::size_t count = takePending(port.read, buffer, size);
    writeLog(port, std::string_view(buffer, count));
    return static_cast<std::ptrdiff_t>(count);
}

std::size_t readControl(DevicePort& port, char* buffer, std::size_t size) {
    if (port.pipeState == PipeState::Unused) return 0;
    for (int step = 0; step < 4; ++step) {
        finishPipe(port);
        if (port.pipeRead.count > 0) return takePending(port.pipeRead, buffer, size);
        if (port.pipeRead.started || port.pipeState == PipeState::Broken) return 0;
        advancePipe(port);
    }
    return 0;
}

Written writeToDriver(DevicePort& port, std::string_view bytes, std::int64_t deadline) {
    if (!isOpen(port)) return Written::Failed;
    ResetEvent(port.write.hEvent);
    DWORD written = 0;
    if (!WriteFile(port.comm, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &port.write)) {
        if (GetLastError() != ERROR_IO_PENDING) return Written::Failed;
        const HANDLE events[2] = {port.stop, port.write.hEvent};
        const DWORD woken = WaitForMultipleObjects(2, events, FALSE, waitMilliseconds(deadline));
        if (woken != WAIT_OBJECT_0 + 1) CancelIoEx(port.comm, &port.write);
        const bool done = GetOverlappedResult(port.comm, &port.write, &written, TRUE);
        if (woken == WAIT_OBJECT_0) return Written::Stopped;
        if (!done && woken == WAIT_OBJECT_0 + 1) return Written::Failed;
    }
    return written == bytes.size() ? Written::All : Written::NoRoom;
}

bool sleepUnlessStopped(DevicePort& port, std::int64_t deadline) {
    return WaitForSingleObject(port.stop, waitMilliseconds(deadline)) != WAIT_OBJECT_0;
}

void writeLog(DevicePort& port, std::string_view bytes) {
    while (port.log != INVALID_HANDLE_VALUE && !bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(port.log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
            return;
        }
        bytes.remove_prefix(written);
    }
}

void DevicePortRelease::operator()(DevicePort* port) const noexcept {
    closeDriverPort(*port);
    if (port->pipe != INVALID_HANDLE_VALUE) cancel(port->pipe, port->pipeRead);
    closeHandle(port->pipe);
    closeHandle(port->log);
    for (HANDLE event : {port->stop, port->read.overlapped.hEvent, port->write.hEvent, port->pipeRead.overlapped.hEvent}) {
        if (event != nullptr) CloseHandle(event);
    }
    delete port;
}

}  // namespace vardel::sim
