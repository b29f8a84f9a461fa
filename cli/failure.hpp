#pragma once
// The failures that end a run: conversion, floating-point and output
// failures. Each is raised where it happens and reported once, by the
// entry point; nothing in between catches it.

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>

namespace vardel {

enum class FailureKind { Conversion, Overflow, InvalidOperation, Output };

struct DriverFailure {
    FailureKind kind;
    std::string messageFormat;  // fixed UTF-8 text, with "%s" where `insert` goes
    std::string insert;         // raw bytes (an argument or a reply), never converted
    std::uint32_t location;   // stable identification of the raise site
};

// Stable 32-bit identification of a source position.
std::uint32_t locationOf(const std::source_location& where);

[[noreturn]] void raiseFailure(FailureKind kind, std::string messageFormat, std::string insert,
                               const std::source_location& where = std::source_location::current());

[[noreturn]] void raiseRealConversionFailure(std::string_view text,
                                             const std::source_location& where = std::source_location::current());
[[noreturn]] void raiseIntegerConversionFailure(std::string_view text,
                                                const std::source_location& where = std::source_location::current());
[[noreturn]] void raiseOverflow(const std::source_location& where = std::source_location::current());
[[noreturn]] void raiseInvalidOperation(const std::source_location& where = std::source_location::current());
[[noreturn]] void raiseOutputFailure(int code,
                                     const std::source_location& where = std::source_location::current());

std::string_view failureName(FailureKind kind);
std::string outputFailureMessage(int code);

// The whole report text without its line end: the "Exception ..." line,
// a lone line feed, the message with its final "." and the cut after 1,024
// characters. Fixed texts are converted with `toAnsi`; the program name and
// the inserted bytes are kept as they are.
std::string buildFailureReport(const DriverFailure& failure, std::string_view programName,
                               std::string (*toAnsi)(std::string_view utf8));

}  // namespace vardel
