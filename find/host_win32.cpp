// vardel-find on Windows: any COM port may be tried (only the open tells
// whether another program holds it), names in the console's code page on a
// console and the ANSI code page otherwise, and the command that makes
// vardel1 use the port: setx VARDEL_COM1, or Device Manager's renumbering.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "find/host.hpp"
#include "serial/windows_port_name.hpp"

namespace vardel::find {

namespace {

constexpr UINT WINDOWS_1252 = 1252;

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// The code page that standard output's bytes are read in.
UINT outputCodePage() {
    if (isConsole(GetStdHandle(STD_OUTPUT_HANDLE))) {
        if (const UINT page = GetConsoleOutputCP(); page != 0) return page;
    }
    return GetACP();
}

bool isAscii(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Windows-1252 bytes in the output's code page; a character it lacks
// becomes '?'. Should the conversion fail, the bytes go out as they are.
std::string inOutputCodePage(std::string_view bytes) {
    const UINT page = outputCodePage();
    if (isAscii(bytes) || page == WINDOWS_1252 || bytes.empty()) return std::string(bytes);
    const int size = static_cast<int>(bytes.size());
    std::wstring wide(bytes.size(), L'\0');
    const int wideLength = MultiByteToWideChar(WINDOWS_1252, 0, bytes.data(), size, wide.data(), size);
    if (wideLength <= 0) return std::string(bytes);
    // UTF-7 and UTF-8 take no default character.
    const char* fallback = page != CP_UTF7 && page != CP_UTF8 ? "?" : nullptr;
    const int length = WideCharToMultiByte(page, 0, wide.data(), wideLength, nullptr, 0, fallback, nullptr);
    if (length <= 0) return std::string(bytes);
    std::string out(static_cast<std::size_t>(length), '\0');
    const int written = WideCharToMultiByte(page, 0, wide.data(), wideLength, out.data(), length, fallback, nullptr);
    if (written <= 0) return std::string(bytes);
    out.resize(static_cast<std::size_t>(written));
    return out;
}

// The port that vardel1's (vardel3's) own "ComN:" opens now: the number
// that VARDEL_COM<N> names, N itself when unset or empty; 0 for a variable
// naming no COM port.
unsigned portOfProgram(unsigned own) {
    const std::string programPort = "Com" + std::to_string(own) + ":";
    const std::string variable = windowsPortVariable(programPort);
    const WindowsPortChoice chosen = chooseWindowsPort(programPort, variable, std::getenv(variable.c_str()));
    return windowsComNumber(chosen.deviceName).value_or(0);
}

std::string commandFor(const PortEntry& entry) {
    const unsigned number = windowsComNumber(entry.device).value_or(0);
    if (number != 0 && portOfProgram(1) == number) return "vardel1 ead 0";
    if (number != 0 && portOfProgram(3) == number) return "vardel3 ead 0";
    const std::string port = entry.device;
    return "setx VARDEL_COM1 " + port + ", then in a new window: vardel1 ead 0\n"
           "  or: Device Manager, Ports (COM & LPT), " + port + ", Properties, Port Settings,\n"
           "      Advanced..., COM Port Number: COM1 (needs an administrator)";
}

// Standard output or error, with Windows line ends.
void writeTo(DWORD which, std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    const HANDLE handle = GetStdHandle(which);
    std::string_view rest = bytes;
    while (!rest.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) || written == 0) return;
        rest.remove_prefix(written);
    }
}

}  // namespace

// The code page is read at each conversion: nothing to settle beforehand.
void prepareOutput() {}

// Windows gives no way to tell, short of opening it, whether a port may be
// opened: a port that another program holds refuses the open.
OpenFailure accessOf(const PortEntry&) { return {Outcome::Listed, std::string()}; }

bool namedPort(const std::string& argument, const std::vector<PortEntry>& listed, PortEntry& entry,
               std::string& error) {
    const auto number = windowsComNumber(argument);
    if (!number) {
        error = "not a COM port name (COM7, COM7: or \\\\.\\COM12)";
        return false;
    }
    for (const PortEntry& port : listed) {
        if (windowsComNumber(port.device) == number) {
            entry = port;
            return true;
        }
    }
    error = "no such port on this machine";
    return false;
}

// A file in the user's temporary folder, deleted when closed ("D").
std::FILE* scratchFile() {
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH) return nullptr;
    char path[MAX_PATH + 1] = {};
    if (GetTempFileNameA(folder, "vdf", 0, path) == 0) return nullptr;
    std::FILE* file = std::fopen(path, "w+bD");
    if (file == nullptr) DeleteFileA(path);
    return file;
}

Presentation platformPresentation() {
    Presentation presentation;
    presentation.names = inOutputCodePage;
    presentation.command = commandFor;
    return presentation;
}

void writeOut(std::string_view text) { writeTo(STD_OUTPUT_HANDLE, text); }
void writeError(std::string_view text) { writeTo(STD_ERROR_HANDLE, text); }

}  // namespace vardel::find
