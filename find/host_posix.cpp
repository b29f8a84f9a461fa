// vardel-find on POSIX: permissions from the file's mode, names in the
// locale's character set, the shell command with VARDEL_COM1.

#include <grp.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "find/host.hpp"
#include "serial/termios_mapping.hpp"
#include "text/windows1252.hpp"

namespace vardel::find {

namespace {

bool isShellSafe(std::string_view text) {
    for (const char c : text) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          std::strchr("/._-:+,=@%", c) != nullptr;
        if (!safe) return false;
    }
    return !text.empty();
}

std::string shellWord(const std::string& text) {
    if (isShellSafe(text)) return text;
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Windows-1252 bytes in the locale's character set; a character it lacks
// becomes '?'.
std::string inLocaleCharset(std::string_view bytes) {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)) {
        return utf8FromWindows1252(bytes);
    }
    std::string out;
    const iconv_t converter = iconv_open(codeset != nullptr ? codeset : "ASCII", "WINDOWS-1252");
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
            continue;
        }
        char in[1] = {c};
        char converted[8];
        char* from = in;
        char* to = converted;
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof converted;
        const bool done = converter != reinterpret_cast<iconv_t>(-1) &&
                          iconv(converter, &from, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1);
        out += done ? std::string(converted, sizeof converted - outLeft) : std::string("?");
    }
    if (converter != reinterpret_cast<iconv_t>(-1)) iconv_close(converter);
    return out;
}

std::string commandFor(const PortEntry& entry) {
    const std::string& name = entry.stableName.empty() ? entry.device : entry.stableName;
    return "VARDEL_COM1=" + shellWord(name) + " vardel1 ead 0";
}

std::string groupOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return std::string();
    const group* found = getgrgid(status.st_gid);
    return found != nullptr ? found->gr_name : std::to_string(status.st_gid);
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

// Only the character set: messages and numbers stay as in the drivers.
void prepareOutput() { setlocale(LC_CTYPE, ""); }

OpenFailure accessOf(const PortEntry& entry) {
    if (access(entry.openName.c_str(), R_OK | W_OK) == 0) return {Outcome::Listed, std::string()};
    const int error = errno;
    if (error == ENOENT) return {Outcome::Missing, std::strerror(error)};
    if (error == EACCES || error == EPERM) {
        const std::string group = groupOf(entry.openName);
        return {Outcome::NoPermission,
                group.empty() ? std::string(std::strerror(error)) : "the port belongs to the group " + group};
    }
    return {Outcome::NotOpened, std::strerror(error)};
}

bool namedPort(const std::string& argument, const std::vector<PortEntry>& listed, PortEntry& entry,
               std::string& error) {
    struct stat status {};
    if (stat(argument.c_str(), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISCHR(status.st_mode)) {
        error = "not a serial port (" + std::string(fileTypeName(status.st_mode)) + ")";
        return false;
    }
    entry = PortEntry{};
    std::error_code failed;
    const auto target = std::filesystem::canonical(argument, failed);
    for (const PortEntry& port : listed) {
        if (!failed && std::filesystem::canonical(port.openName, failed) == target && !failed) entry = port;
        failed.clear();
    }
    entry.device = argument;
    entry.openName = argument;
    return true;
}

std::FILE* scratchFile() { return std::tmpfile(); }

Presentation platformPresentation() {
    Presentation presentation;
    presentation.names = inLocaleCharset;
    presentation.command = commandFor;
    presentation.permissionHint =
        " (add the user to that group, on Debian: sudo adduser \"$USER\" dialout, then log in again)";
    return presentation;
}

void writeOut(std::string_view text) { writeAll(1, text); }
void writeError(std::string_view text) { writeAll(2, text); }

}  // namespace vardel::find
