// Process services on Windows.

#include <windows.h>

#include "cli/process.hpp"
#include "cli/process_win32.hpp"
#include "text/command_line.hpp"
#include "text/failure.hpp"

namespace vardel {

namespace {

constexpr DWORD LONGEST_PATH = 32768;

int outputCodeFor(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED: return ACCESS_DENIED;
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL: return DISK_FULL;
        case ERROR_INVALID_HANDLE: return STREAM_NOT_OPEN;
        // A reader that went away: the same code whichever way it shows.
        case ERROR_NO_DATA:
        case ERROR_PIPE_NOT_CONNECTED: return BROKEN_PIPE;
        default: return static_cast<int>(error);
    }
}

HANDLE handleOf(const OutputChannel& channel) { return reinterpret_cast<HANDLE>(channel.handle); }

bool isUsable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Writes all bytes. Returns 0, or the system's error code.
DWORD writeAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            return GetLastError();
        }
        if (written == 0) return ERROR_DISK_FULL;
        bytes.remove_prefix(written);
    }
    return 0;
}

std::wstring wideFromUtf8(std::string_view utf8) {
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string narrowFromWide(std::wstring_view wide, UINT codePage) {
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(codePage, 0, wide.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

constexpr UINT WINDOWS_1252 = 1252;

std::string modulePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
        if (length < size || size >= LONGEST_PATH) {
            path.resize(length < size ? length : size);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

// Nothing to prepare: a missing standard output shows when it is opened.
bool prepareProcess() { return true; }

std::vector<std::string> commandLineArguments(int, char**) {
    std::vector<std::string> tokens = splitCommandLine(GetCommandLineA());
    if (!tokens.empty()) tokens.erase(tokens.begin());
    return tokens;
}

std::string programFileName(char**) {
    const std::string path = modulePath();
    const auto cut = path.find_last_of('\\');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

char queryDecimalSeparator() {
    char separator[2] = {};
    const int length = GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, separator, sizeof separator);
    return length > 0 && separator[0] != '\0' ? separator[0] : '.';
}

unsigned reportCodePageFor(unsigned ansiCodePage) {
    CPINFO info{};
    const bool singleByte = GetCPInfo(ansiCodePage, &info) && info.MaxCharSize == 1;
    return singleByte ? ansiCodePage : WINDOWS_1252;
}

std::string textInCodePage(std::string_view utf8, unsigned codePage) {
    return narrowFromWide(wideFromUtf8(utf8), codePage);
}

std::string toAnsi(std::string_view utf8) { return textInCodePage(utf8, reportCodePageFor(GetACP())); }

int openStandardOutput(OutputChannel& channel, bool wasClosedAtStart) {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (wasClosedAtStart || !isUsable(handle)) return STREAM_NOT_OPEN;
    SetLastError(NO_ERROR);
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return STREAM_NOT_OPEN;
    channel.handle = reinterpret_cast<std::intptr_t>(handle);
    channel.isConsole = type == FILE_TYPE_CHAR;
    return 0;
}

int writeStandardOutput(const OutputChannel& channel, std::string_view bytes) {
    const DWORD error = writeAll(handleOf(channel), bytes);
    return error == 0 ? 0 : outputCodeFor(error);
}

void writeErrorOutput(std::string_view bytes) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (isUsable(handle)) writeAll(handle, bytes);
}

}  // namespace vardel
