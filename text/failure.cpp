#include "text/failure.hpp"

#include <cstdio>

namespace vardel {

namespace {

constexpr std::size_t REPORT_LIMIT = 1024;

std::string_view baseName(std::string_view path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Replaces the first "%s" of the converted format with the raw insert.
std::string fillMessage(const DriverFailure& failure, const TextConverter& toAnsi) {
    const std::string_view format = failure.messageFormat;
    const auto hole = format.find("%s");
    if (hole == std::string_view::npos) return toAnsi(format);
    return toAnsi(format.substr(0, hole)) + failure.insert + toAnsi(format.substr(hole + 2));
}

std::string hexLocation(std::uint32_t location) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(location));
    return digits;
}

}  // namespace

std::uint32_t locationOf(const SourceLocation& where) {
    // FNV-1a over the file's base name and the line: the same site gives the
    // same digits in every build and on every platform.
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](unsigned char byte) { hash = (hash ^ byte) * 16777619u; };
    for (char c : baseName(where.file_name())) mix(static_cast<unsigned char>(c));
    for (std::uint_least32_t line = where.line(); line != 0; line >>= 8) mix(line & 0xFF);
    return hash;
}

void raiseFailure(FailureKind kind, std::string messageFormat, std::string insert,
                  const SourceLocation& where) {
    throw DriverFailure{kind, std::move(messageFormat), std::move(insert), locationOf(where)};
}

void raiseRealConversionFailure(std::string_view text, const SourceLocation& where) {
    raiseFailure(FailureKind::Conversion, "'%s' n'est pas une valeur en virgule flottante correcte",
                 std::string(text), where);
}

void raiseIntegerConversionFailure(std::string_view text, const SourceLocation& where) {
    raiseFailure(FailureKind::Conversion, "'%s' n'est pas une valeur entière correcte", std::string(text), where);
}

void raiseOverflow(const SourceLocation& where) {
    raiseFailure(FailureKind::Overflow, "Débordement en virgule flottante", {}, where);
}

void raiseInvalidOperation(const SourceLocation& where) {
    raiseFailure(FailureKind::InvalidOperation, "Opération en virgule flottante incorrecte", {}, where);
}

void raiseOutputFailure(int code, const SourceLocation& where) {
    raiseFailure(FailureKind::Output, outputFailureMessage(code), {}, where);
}

std::string_view failureName(FailureKind kind) {
    switch (kind) {
        case FailureKind::Conversion: return "EConvertError";
        case FailureKind::Overflow: return "EOverflow";
        case FailureKind::InvalidOperation: return "EInvalidOp";
        case FailureKind::Output: return "EInOutError";
    }
    return "Exception";
}

std::string outputFailureMessage(int code) {
    switch (code) {
        case 2: return "Fichier introuvable";
        case 3: return "Nom de fichier incorrect";
        case 4: return "Trop de fichiers ouverts";
        case ACCESS_DENIED: return "Accès au fichier refusé";
        case 100: return "Lecture au-delà de la fin de fichier";
        case DISK_FULL: return "Disque plein";
        case 106: return "Saisie numérique incorrecte";
        default: return "Erreur E/S " + std::to_string(code);
    }
}

std::string buildFailureReport(const DriverFailure& failure, std::string_view programName,
                               const TextConverter& toAnsi) {
    std::string report = toAnsi("Exception ");
    report += failureName(failure.kind);
    report += toAnsi(" dans le module ");
    report += programName;
    report += toAnsi(" à ");
    report += hexLocation(failure.location);
    report += ".\n";
    std::string message = fillMessage(failure, toAnsi);
    if (!message.empty() && message.back() != '.') message += '.';
    report += message;
    if (report.size() > REPORT_LIMIT) report.resize(REPORT_LIMIT);
    return report;
}

}  // namespace vardel
