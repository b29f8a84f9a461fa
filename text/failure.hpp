#pragma once
// The failures that end a run: conversion, floating-point and output
// failures. Each is raised where it happens and reported once, by the
// entry point; nothing in between catches it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <version>
#ifdef __cpp_lib_source_location
#include <source_location>
#endif

namespace vardel {

// Where a failure is raised: the file name and line.
#ifdef __cpp_lib_source_location
using SourceLocation = std::source_location;
#else
// Where the library has no std::source_location (clang 14 with libstdc++ 12):
// the same file name and line from the compiler's builtins, which gcc, clang
// and MSVC all have.
class SourceLocation {
public:
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            std::uint_least32_t line = __builtin_LINE()) noexcept {
        SourceLocation where;
        where.file_ = file;
        where.line_ = line;
        return where;
    }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr std::uint_least32_t line() const noexcept { return line_; }

private:
    const char* file_ = "";
    std::uint_least32_t line_ = 0;
};
#endif

enum class FailureKind { Conversion, Overflow, InvalidOperation, Output };

struct DriverFailure {
    FailureKind kind;
    std::string messageFormat;  // fixed UTF-8 text, with "%s" where `insert` goes
    std::string insert;         // raw bytes (an argument or a reply), never converted
    std::uint32_t location;   // stable identification of the raise site
};

// Stable 32-bit identification of a source position.
std::uint32_t locationOf(const SourceLocation& where);

[[noreturn]] void raiseFailure(FailureKind kind, std::string messageFormat, std::string insert,
                               const SourceLocation& where = SourceLocation::current());

[[noreturn]] void raiseRealConversionFailure(std::string_view text,
                                             const SourceLocation& where = SourceLocation::current());
[[noreturn]] void raiseIntegerConversionFailure(std::string_view text,
                                                const SourceLocation& where = SourceLocation::current());
[[noreturn]] void raiseOverflow(const SourceLocation& where = SourceLocation::current());
[[noreturn]] void raiseInvalidOperation(const SourceLocation& where = SourceLocation::current());
[[noreturn]] void raiseOutputFailure(int code,
                                     const SourceLocation& where = SourceLocation::current());

std::string_view failureName(FailureKind kind);

// The output failure codes, the same on every platform for the same fault.
// A platform's write error is never passed on as its own number, which would
// collide with the codes of other faults (EIO is 5, a denied access).
inline constexpr int ACCESS_DENIED = 5;
inline constexpr int DISK_FULL = 101;
inline constexpr int STREAM_NOT_OPEN = 103;  // no usable standard output
inline constexpr int BROKEN_PIPE = 109;      // the reader went away (Windows' own number)
inline constexpr int DEVICE_FAULT = 29;      // any other fault: Windows' "cannot write to the specified device"

// The text of an output failure code.
std::string outputFailureMessage(int code);

// Converts a fixed UTF-8 text to the system's single-byte character set.
using TextConverter = std::function<std::string(std::string_view utf8)>;

// The whole report text without its line end: the "Exception ..." line,
// a lone line feed, the message with its final "." and the cut after 1,024
// characters. Fixed texts are converted with `toAnsi`; the program name and
// the inserted bytes are kept as they are.
std::string buildFailureReport(const DriverFailure& failure, std::string_view programName,
                               const TextConverter& toAnsi);

}  // namespace vardel
