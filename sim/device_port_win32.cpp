// The simulated device on a Windows COM port, one end of a null-modem pair
// whose other end the driver opens; a named pipe for control lines; Ctrl+C
// and Ctrl+Break as stop requests.
//
// The port and the pipe are opened for overlapped I/O: one read is kept
// pending on each, and a wait is one WaitForMultipleObjects on their events
// and the stop event.
//
// The control pipe has several instances, each serving one writer: a writer
// that finds every instance busy gets "All pipe instances are busy" and its
// line is lost, so idle instances are kept listening while the simulator
// handles the lines of others. Bytes are taken from one writer at a time
// and a whole line at a time, so lines of writers that write at once are
// never mixed.

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <array>
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

// Waiting: a connect is in progress. Connected: a writer is there (or has
// written and gone), a read in progress or bytes waiting. Ended: the writer
// has gone and its bytes are taken; the instance is made ready again.
enum class PipeState { Unused, Waiting, Connected, Ended, Broken };

// One instance of the control pipe and the writer it serves.
struct PipeInstance {
    HANDLE handle = INVALID_HANDLE_VALUE;
    PipeState state = PipeState::Unused;
    Pending io{};
    bool inLine = false;  // bytes of a line were taken, its line feed not yet
};

// Enough for eight writers at once and eight more meanwhile;
// WaitForMultipleObjects takes 64 handles, the port and the stop event two.
constexpr std::size_t PIPE_INSTANCE_LIMIT = 24;

struct DevicePort {
    std::string portName;  // as given, for messages
    std::string portPath;  // \\.\COMn
    HANDLE stop = nullptr;
    HANDLE comm = INVALID_HANDLE_VALUE;
    Pending read{};
    OVERLAPPED write{};
    HANDLE log = INVALID_HANDLE_VALUE;
    std::string pipeName{};                                // empty: no control pipe
    std::array<PipeInstance, PIPE_INSTANCE_LIMIT> pipes{};  // fixed places: overlapped I/O points into them
    std::size_t pipeCount = 0;                             // instances made so far
    std::size_t lineFrom = PIPE_INSTANCE_LIMIT;            // the instance whose line is being taken
    std::size_t nextPipe = 0;                              // where the search for bytes starts, in turn
    PSECURITY_DESCRIPTOR pipeSecurity = nullptr;           // LocalAlloc'd by the SDDL conversion
};

namespace {

constexpr char PIPE_PREFIX[] = "\\\\.\\pipe\\";
constexpr std::size_t PIPE_NAME_LIMIT = 256;
constexpr DWORD PIPE_BUFFER = 4096;
// Instances kept listening while others serve a writer.
constexpr std::size_t PIPE_IDLE_TARGET = 8;

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

// The pipe's own security: read and write for the user who started the
// simulator, no one else, with a medium integrity label. Without it the
// pipe would get the default descriptor, whose write access goes to
// LocalSystem, the Administrators group and the creator owner; from an
// elevated prompt the owner is the Administrators group, which the same
// user's normal prompt holds for deny only, and the pipe would carry the
// elevated prompt's high integrity, which a medium writer may not write up
// to. The token's user SID is the same in both of the user's tokens.
bool makePipeSecurity(DevicePort& port, std::string& error) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return failWith(error, lastError("process token"));
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string user(size, '\0');
    char* sidText = nullptr;
    const bool found = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
                       ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sidText);
    const DWORD code = GetLastError();
    CloseHandle(token);
    if (!found) return failWith(error, "the user's identity: " + windowsErrorText(code));
    // 0x12019f: FILE_GENERIC_READ | FILE_GENERIC_WRITE, which holds
    // FILE_CREATE_PIPE_INSTANCE for the simulator's further instances.
    const std::string sddl = "D:P(A;;0x12019f;;;" + std::string(sidText) + ")S:(ML;;NW;;;ME)";
    LocalFree(sidText);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &port.pipeSecurity,
                                                              nullptr)) {
        return failWith(error, lastError("the control pipe's security"));
    }
    return true;
}

bool isIdle(const PipeInstance& pipe) { return pipe.state == PipeState::Waiting; }

// Listens for the next writer on an instance made or emptied. A writer may
// have come, even written and gone, before the call: its bytes are read.
void listen(PipeInstance& pipe) {
    pipe.io.count = 0;
    pipe.inLine = false;
    ResetEvent(pipe.io.overlapped.hEvent);
    if (ConnectNamedPipe(pipe.handle, &pipe.io.overlapped)) {
        pipe.state = PipeState::Connected;
        return;
    }
    const DWORD error = GetLastError();
    pipe.io.started = error == ERROR_IO_PENDING;
    if (error == ERROR_IO_PENDING) pipe.state = PipeState::Waiting;
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) pipe.state = PipeState::Connected;
    if (error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
        pipe.state = PipeState::Broken;
    }
}

// One more instance, listening. Only the first may make the pipe, and only
// where none of its name is; the others join it.
bool addPipeInstance(DevicePort& port, DWORD& error) {
    if (port.pipeCount == PIPE_INSTANCE_LIMIT) return false;
    SECURITY_ATTRIBUTES security{sizeof security, port.pipeSecurity, FALSE};
    const DWORD first = port.pipeCount == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
    const HANDLE handle = CreateNamedPipeA(port.pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | first,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                           PIPE_INSTANCE_LIMIT, PIPE_BUFFER, PIPE_BUFFER, 0, &security);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    PipeInstance& pipe = port.pipes[port.pipeCount++];
    pipe.handle = handle;
    pipe.io.overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    listen(pipe);
    return true;
}

// Made only where no pipe of that name exists, with its idle instances.
bool createControlPipe(DevicePort& port, const std::string& name, std::string& error) {
    if (!isPipeName(name)) {
        error = name + ": is no pipe name; the control channel is a named pipe such as \\\\.\\pipe\\vardel-sim";
        return false;
    }
    if (!makePipeSecurity(port, error)) return false;
    port.pipeName = name;
    DWORD code = 0;
    const bool made = addPipeInstance(port, code);
    // Windows refuses a first instance where the name is taken, with access
    // denied or, when the other pipe has all the instances it may have,
    // busy. Wine 8 makes it anyway, as one more instance of the other pipe,
    // which then counts more than this one instance.
    DWORD instances = 0;
    const bool joined =
        made && GetNamedPipeHandleStateA(port.pipes[0].handle, nullptr, &instances, nullptr, nullptr, nullptr, 0) &&
        instances > 1;
    if (!made || joined) {
        port.pipeName.clear();
        if (joined || code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY) {
            return failWith(error, name + ": a pipe of that name exists already; the control pipe is made only "
                                          "where none is");
        }
        return failWith(error, name + ": " + windowsErrorText(code));
    }
    while (port.pipeCount < PIPE_IDLE_TARGET && addPipeInstance(port, code)) {
    }
    return true;
}

// Moves an instance on as far as it goes without waiting: a finished
// connect or read taken, the next read started, an ended writer's instance
// made ready for the next one.
void advancePipe(PipeInstance& pipe) {
    for (int step = 0; step < 4 && pipe.io.count == 0; ++step) {
        DWORD error = 0;
        if (pipe.io.started) {
            if (!finishRead(pipe.handle, pipe.io, error)) return;  // still in progress
            if (pipe.state == PipeState::Waiting) {
                pipe.io.count = 0;  // a connect brings no bytes
                pipe.state = error == 0 ? PipeState::Connected : PipeState::Broken;
                continue;
            }
            if (error != 0) pipe.state = PipeState::Ended;  // the writer closed its end
            continue;
        }
        if (pipe.state == PipeState::Connected) {
            // A read that fails has found the writer gone; one that ends at
            // once without a byte (a write of none) is started again.
            if (!startRead(pipe.handle, pipe.io, sizeof pipe.io.buffer, error)) pipe.state = PipeState::Ended;
            continue;
        }
        // An ended writer's line is closed by the caller before this.
        if (pipe.state == PipeState::Ended && !pipe.inLine) {
            DisconnectNamedPipe(pipe.handle);
            listen(pipe);
            continue;
        }
        return;
    }
}

// Every instance moved on, and more made while fewer than the target listen.
void advancePipes(DevicePort& port) {
    std::size_t idle = 0;
    for (std::size_t i = 0; i < port.pipeCount; ++i) {
        advancePipe(port.pipes[i]);
        if (isIdle(port.pipes[i])) ++idle;
    }
    DWORD error = 0;
    while (idle < PIPE_IDLE_TARGET && addPipeInstance(port, error)) ++idle;
}

// Whether the instance has something for the device: bytes, or the end of
// a line its writer left without a line feed.
bool hasControl(const PipeInstance& pipe) {
    return pipe.io.count > 0 || (pipe.inLine && pipe.state == PipeState::Ended);
}

// The instances whose bytes may be taken now: the one whose line is being
// taken, or else any.
bool mayTake(const DevicePort& port, std::size_t index) {
    return port.lineFrom == PIPE_INSTANCE_LIMIT || port.lineFrom == index;
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

namespace {

// What a port that won't open most likely means, for the message.
std::string likelyCause(DWORD code, const std::string& portName) {
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
        return " No port " + portName + " here: is the null-modem pair installed (com0com: \"setupc list\"), with " +
               portName + " as the simulator's end?";
    }
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_BUSY) {
        return " Another program holds " + portName +
               " (a terminal program, another vardel-sim.exe, the driver on the wrong end): close it, or serve "
               "another port.";
    }
    return "";
}

}  // namespace

bool openDriverPort(DevicePort& port, std::string& error) {
    port.comm = CreateFileA(port.portPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (!isOpen(port)) {
        const DWORD code = GetLastError();
        return failWith(error, port.portName + ": " + windowsErrorText(code) + likelyCause(code, port.portName));
    }
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
    HANDLE events[2 + PIPE_INSTANCE_LIMIT] = {port.stop};
    DWORD count = 1;
    Wake ready{};
    if (!port.pipeName.empty()) advancePipes(port);
    for (std::size_t i = 0; i < port.pipeCount; ++i) {
        PipeInstance& pipe = port.pipes[i];
        if (!mayTake(port, i)) continue;  // its bytes wait for the line being taken
        ready.control = ready.control || hasControl(pipe);
        if (pipe.io.started) events[count++] = pipe.io.overlapped.hEvent;
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
    if (event == port.read.overlapped.hEvent) ready.driver = true;
    if (event != nullptr && event != port.read.overlapped.hEvent) ready.control = true;
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

// Bytes of one writer, up to and with a line feed. A writer's line stays
// the only one taken until its line feed comes, or until the writer goes,
// which ends the line.
std::size_t readControl(DevicePort& port, char* buffer, std::size_t size) {
    if (port.pipeName.empty() || size == 0) return 0;
    advancePipes(port);
    for (std::size_t turn = 0; turn < port.pipeCount; ++turn) {
        const std::size_t index = (port.nextPipe + turn) % port.pipeCount;
        PipeInstance& pipe = port.pipes[index];
        if (!mayTake(port, index) || !hasControl(pipe)) continue;
        std::size_t count = 0;
        if (pipe.io.count == 0) {
            buffer[count++] = '\n';
        } else {
            const char* end = static_cast<const char*>(std::memchr(pipe.io.buffer, '\n', pipe.io.count));
            const std::size_t line = end == nullptr ? pipe.io.count : static_cast<std::size_t>(end - pipe.io.buffer) + 1;
            count = takePending(pipe.io, buffer, std::min(size, line));
        }
        pipe.inLine = buffer[count - 1] != '\n';
        port.lineFrom = pipe.inLine ? index : PIPE_INSTANCE_LIMIT;
        if (!pipe.inLine) port.nextPipe = (index + 1) % port.pipeCount;
        return count;
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
    for (std::size_t i = 0; i < port->pipeCount; ++i) {
        PipeInstance& pipe = port->pipes[i];
        cancel(pipe.handle, pipe.io);
        closeHandle(pipe.handle);
        if (pipe.io.overlapped.hEvent != nullptr) CloseHandle(pipe.io.overlapped.hEvent);
    }
    if (port->pipeSecurity != nullptr) LocalFree(port->pipeSecurity);
    closeHandle(port->log);
    for (HANDLE event : {port->stop, port->read.overlapped.hEvent, port->write.hEvent}) {
        if (event != nullptr) CloseHandle(event);
    }
    delete port;
}

}  // namespace vardel::sim
