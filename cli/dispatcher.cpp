#include "cli/dispatcher.hpp"

#include <array>
#include <variant>

#include "text/real_text.hpp"
#include "text/integer_text.hpp"
#include "text/real_argument.hpp"

namespace vardel {

namespace {

using Result = std::variant<std::int32_t, std::string, double>;
using Handler = Result (*)(DriverRecords&, const BuildConstants&);

// Which arguments are rounded (or narrowed) before the handler runs.
enum class ArgumentUse { None, N, MFromYThenNFromX, NAndSingleY };

struct CommandRow {
    std::string_view word;
    ArgumentUse use;
    Handler handler;
};

Result analogRaw(DriverRecords& r, const BuildConstants&) { return readAnalogRaw(r.link, r.run.n); }
Result analogName(DriverRecords& r, const BuildConstants&) {
    return sensorName(r.link, r.fields, r.sensors, r.run.n);
}
Result analogConverted(DriverRecords& r, const BuildConstants&) {
    return readAnalogConverted(r.link, r.fields, r.sensors, r.run.n);
}
Result analogConvertedSingle(DriverRecords& r, const BuildConstants&) {
    return static_cast<double>(narrowArgumentToSingle(readAnalogConverted(r.link, r.fields, r.sensors, r.run.n)));
}
Result noIntegerValue(DriverRecords&, const BuildConstants&) { return NO_VALUE; }
Result noRealValue(DriverRecords&, const BuildConstants&) { return static_cast<double>(NO_VALUE); }
Result noName(DriverRecords&, const BuildConstants&) { return std::string(); }
Result binaryInput(DriverRecords& r, const BuildConstants&) { return readBinaryInput(r.link, r.run.n); }
Result binaryInputLabel(DriverRecords& r, const BuildConstants&) { return binaryInputName(r.run.n); }
Result binaryOutput(DriverRecords& r, const BuildConstants&) {
    return writeBinaryOutput(r.link, r.outputs, r.run.n, r.run.m);
}
Result binaryOutputLabel(DriverRecords& r, const BuildConstants&) { return binaryOutputName(r.run.n); }
Result binaryOutputState(DriverRecords& r, const BuildConstants&) { return readBinaryOutput(r.outputs, r.run.n); }
Result title(DriverRecords&, const BuildConstants& b) { return std::string(b.title); }
Result detail(DriverRecords&, const BuildConstants& b) { return std::string(b.detail); }

using enum ArgumentUse;

constexpr std::array<CommandRow, 37> DriverCommandTable{{
    {"ea", N, analogRaw},
    {"nea", N, analogName},
    {"ead", N, analogConverted},
    {"nead", N, analogName},
    {"sa", MFromYThenNFromX, noIntegerValue},
    {"nsa", N, noName},
    {"rsa", N, noIntegerValue},
    {"sad", N, noRealValue},
    {"nsad", N, noName},
    {"rsad", N, noRealValue},
    {"eb", N, binaryInput},
    {"neb", N, binaryInputLabel},
    {"sb", MFromYThenNFromX, binaryOutput},
    {"nsb", N, binaryOutputLabel},
    {"rsb", N, binaryOutputState},
    {"titre", None, title},
    {"detail", None, detail},
    {"stdea", N, analogRaw},
    {"stdnea", N, analogName},
    {"stdead", N, analogConverted},
    {"stdeas", N, analogConvertedSingle},
    {"stdnead", N, analogName},
    {"stdsa", MFromYThenNFromX, noIntegerValue},
    {"stdnsa", N, noName},
    {"stdrsa", N, noIntegerValue},
    {"stdsad", N, noRealValue},
    {"stdsas", NAndSingleY, noRealValue},
    {"stdnsad", N, noName},
    {"stdrsad", N, noRealValue},
    {"stdrsas", N, noRealValue},
    {"stdeb", N, binaryInput},
    {"stdneb", N, binaryInputLabel},
    {"stdsb", MFromYThenNFromX, binaryOutput},
    {"stdnsb", N, binaryOutputLabel},
    {"stdrsb", N, binaryOutputState},
    {"stdtitre", None, title},
    {"stddetail", None, detail},
}};

const CommandRow* findCommand(std::string_view word) {
    for (const CommandRow& row : DriverCommandTable) {
        if (row.word == word) return &row;
    }
    return nullptr;
}

void convertArguments(RunState& run, const std::vector<std::string>& arguments, char separator) {
    // Missing arguments default to 11 and 22 on purpose, not to zero.
    run.x = 11.0;
    run.y = 22.0;
    run.command = arguments.empty() ? std::string() : arguments[0];
    if (arguments.size() >= 2) run.x = parseRealArgument(arguments[1], separator);
    if (arguments.size() >= 3) run.y = parseRealArgument(arguments[2], separator);
}

void roundArguments(RunState& run, ArgumentUse use) {
    if (use == MFromYThenNFromX) run.m = roundArgument(run.y);
    if (use != None) run.n = roundArgument(run.x);
    if (use == NAndSingleY) run.y = narrowArgumentToSingle(run.y);
}

std::string resultText(const Result& result, char separator) {
    if (const auto* integer = std::get_if<std::int32_t>(&result)) return formatInteger(*integer);
    if (const auto* real = std::get_if<double>(&result)) return formatReal(*real, separator);
    return std::get<std::string>(result);
}

}  // namespace

void dispatch(DriverRecords& records, const BuildConstants& build, const std::vector<std::string>& arguments) {
    records.link.portName = build.portName;
    records.link.lineSettings = build.lineSettings;
    // The port opens for every word, before any argument is read, on purpose:
    // even an unknown word or a failing argument holds the port for the run.
    openPort(records.link);
    convertArguments(records.run, arguments, records.separator);
    const CommandRow* row = findCommand(records.run.command);
    if (row == nullptr) return;
    roundArguments(records.run, row->use);
    printLine(records.out, resultText(row->handler(records, build), records.separator));
}

int runDriver(DriverRecords& records, const BuildConstants& build, const std::vector<std::string>& arguments,
              std::string_view programName) {
    try {
        dispatch(records, build, arguments);
        // Losing the output at the last hand-over is a failure too: the
        // caller must not be told that all went well.
        if (const int code = flushOutput(records.out); code != 0) raiseOutputFailure(code);
    } catch (const DriverFailure& failure) {
        return reportFailure(records.out, failure, programName);
    }
    return 0;
}

}  // namespace vardel
