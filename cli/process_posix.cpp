// Process services on POSIX systems.

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/process.hpp"
#include "text/failure.hpp"

namespace vardel {

namespace {

bool descriptorIsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Occupies a closed standard descriptor with /dev/null.
void occupyIfClosed(int fd) {
    if (descriptorIsOpen(fd)) return;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
        dup2(opened, fd);
        close(opened);
    }
}

// Waits until standard output, made non-blocking by whoever shares it, takes bytes again.
void waitUntilWritable(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

// Appends the Windows-1252 byte of one code point ('?' when it has none).
void appendAnsi(std::string& out, char32_t codePoint) {
    const bool direct = codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF);
    out += direct ? static_cast<char>(codePoint) : '?';
}

}  // namespace

bool prepareProcess() {
    const bool stdoutOpen = descriptorIsOpen(1);
    occupyIfClosed(0);
    occupyIfClosed(1);
    occupyIfClosed(2);
    signal(SIGPIPE, SIG_IGN);
    return stdoutOpen;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

std::string programFileName(char** argv) {
    const std::string path = (argv != nullptr && argv[0] != nullptr) ? argv[0] : "";
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

char queryDecimalSeparator() {
    const locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) return '.';
    const char* point = nl_langinfo_l(RADIXCHAR, locale);
    const char separator = (point != nullptr && std::strlen(point) == 1) ? point[0] : '.';
    freelocale(locale);
    return separator;
}

std::string toAnsi(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
        char32_t codePoint = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (int k = 1; k < length && i + k < utf8.size(); ++k) {
            codePoint = (codePoint << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        appendAnsi(out, codePoint);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

int openStandardOutput(OutputChannel& channel, bool wasClosedAtStart) {
    struct stat info {};
    if (wasClosedAtStart || fstat(1, &info) != 0) return STREAM_NOT_OPEN;
    channel.handle = 1;
    channel.isConsole = isatty(1) == 1;
    return 0;
}

int writeStandardOutput(const OutputChannel& channel, std::string_view bytes) {
    const int fd = static_cast<int>(channel.handle);
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitUntilWritable(fd);
            continue;
        }
        if (written <= 0) return outputFailureCodeFor(static_cast<std::uint32_t>(written < 0 ? errno : ENOSPC));
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int outputFailureCodeFor(std::uint32_t systemError) {
    switch (static_cast<int>(systemError)) {
        case EACCES:
        case EPERM: return ACCESS_DENIED;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
        case EFBIG: return DISK_FULL;
        case EBADF: return STREAM_NOT_OPEN;
        case EPIPE:
        case ECONNRESET: return BROKEN_PIPE;
        default: return DEVICE_FAULT;
    }
}

void writeErrorOutput(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(2, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace vardel
