// vardel-sim: plays the measurement interface on the port a driver opens.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_loop.hpp"
#include "sim/platform_text.hpp"
#include "sim/scenario.hpp"

namespace {

using vardel::sim::PlatformText;
using vardel::sim::platformText;

constexpr int FAILURE = 1;
constexpr int USAGE_ERROR = 2;

// The options and scenario lines that both platforms share.
constexpr char SCENARIO_OPTIONS[] =
    "  --scenario NAME    built-in scenario: demo (default), silent, slow\n"
    "  --scenario FILE    scenario file, one setting a line\n";

constexpr char COMMON_OPTIONS[] =
    "  --log FILE         append every byte received to FILE (a regular file or a new one)\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n";

constexpr char SCENARIO_LINES[] =
    "Scenario lines (a later line overrides an earlier one; '#' starts a comment):\n"
    "  ident TEXT              reply to ZRECO: TEXT and a carriage return\n"
    "  analog N|* TEXT         reply to \"ZEA N\" (N as the driver sends it, e.g. -3)\n"
    "  binary D|* TEXT         reply to \"ZEBIT c\" with c = 48 + D, or D given as char:c\n"
    "  ident-raw, analog-raw, binary-raw   the same, no carriage return added\n"
    "  silent ident|analog|binary|all      no reply to that command\n"
    "  delay MS                wait before each reply\n"
    "  baud RATE               send reply bytes at 10 bits per byte at RATE\n"
    "  suffix TEXT             bytes sent right after each reply\n";

constexpr char MORE_SCENARIO_LINES[] =
    "  flood MS TEXT           after each reply, TEXT over and over for MS (0: off)\n"
    "Signals (times since the simulator started; counts rounded, kept to 0..1023):\n"
    "  analog N sine LOW HIGH PERIOD_MS [PHASE_DEG]   a sine between LOW and HIGH\n"
    "  analog N triangle LOW HIGH PERIOD_MS           LOW at 0, HIGH at half the period\n"
    "  analog N square LOW HIGH PERIOD_MS             HIGH, then LOW for the second half\n"
    "  analog N noise SD [SEED]     Gaussian noise added to input N's counts (SD 0: off)\n"
    "  analog N csv FILE [step|linear] [loop|hold]    a series of time_ms,count lines\n"
    "  analog N value X        the count whose reading is nearest X for input N's sensor\n"
    "  sensor N NAME           input N's identification slots set to a sensor so named\n"
    "  binary D toggle PERIOD_MS   1, then 0 for the second half of each period\n"
    "  binary D csv FILE [loop|hold]  a series of time_ms,value lines\n"
    "  at MS LINE              applies LINE MS milliseconds after the start\n"
    "Escapes in TEXT: \\r \\n \\t \\0 \\\\ \\xHH, and \\s for a blank.\n";


struct Arguments {
    std::string portName;
    std::string scenario = "demo";
    std::vector<std::string> settings;
    std::string logPath;
    std::string controlPath;
    bool help = false;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "vardel-sim: %s\nTry 'vardel-sim --help'.\n", message.c_str());
    return USAGE_ERROR;
}

// Reads the command line; a message when it can't be read.
std::optional<std::string> parseArguments(int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            arguments.help = true;
            continue;
        }
        const std::string_view portOption = platformText().portOption;
        if (option != portOption && option != "--scenario" && option != "--set" && option != "--log" &&
            option != "--control") {
            return "unknown option '" + option + "'";
        }
        if (i + 1 == argc) return option + " needs a value";
        const std::string value = argv[++i];
        if (option == portOption) arguments.portName = value;
        if (option == "--scenario") arguments.scenario = value;
        if (option == "--set") arguments.settings.push_back(value);
        if (option == "--log") arguments.logPath = value;
        if (option == "--control") arguments.controlPath = value;
    }
    if (!arguments.help && arguments.portName.empty()) return std::string(platformText().portOption) + " is required";
    return std::nullopt;
}

// Why the scenario can't be had, and the exit status that says so.
struct ScenarioError {
    std::string message;
    int status = USAGE_ERROR;
};

// A built-in scenario's text, or a scenario file's. A name that is neither
// is a usage error; a file that is no regular file, or larger than the
// series' limit, is refused with status 1 before it is read.
std::optional<std::string> scenarioText(const std::string& nameOrFile, std::optional<ScenarioError>& failure) {
    if (auto builtin = vardel::sim::builtinScenario(nameOrFile)) return builtin;
    std::error_code ignored;
    if (!std::filesystem::exists(nameOrFile, ignored)) {
        failure = ScenarioError{"no built-in scenario or readable file '" + nameOrFile + "'"};
        return std::nullopt;
    }
    std::string error;
    auto text = vardel::sim::readDataFile(nameOrFile, error);
    if (!text) failure = ScenarioError{"scenario: " + error, FAILURE};
    return text;
}

// Builds the scenario; why it can't be, when it can't.
std::optional<ScenarioError> buildScenario(const Arguments& arguments, vardel::sim::Scenario& scenario) {
    std::optional<ScenarioError> failure;
    const auto text = scenarioText(arguments.scenario, failure);
    if (!text) return failure;
    std::string error;
    if (!vardel::sim::applyScenarioText(*text, scenario, error)) return ScenarioError{arguments.scenario + ": " + error};
    for (const auto& line : arguments.settings) {
        if (!vardel::sim::applyScenarioLine(line, scenario, error)) return ScenarioError{"--set '" + line + "': " + error};
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    // The project's version, set by the build; alone on the command line.
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("vardel-sim %s\n", VARDEL_VERSION);
        return 0;
    }
    Arguments arguments;
    if (auto error = parseArguments(argc, argv, arguments)) return usageError(*error);
    if (arguments.help) {
        const PlatformText& text = platformText();
        std::fwrite(text.usageHead.data(), 1, text.usageHead.size(), stdout);
        std::fputs(SCENARIO_OPTIONS, stdout);
        std::fwrite(text.setOption.data(), 1, text.setOption.size(), stdout);
        std::fputs(COMMON_OPTIONS, stdout);
        std::fputs(SCENARIO_LINES, stdout);
        std::fwrite(text.hangupLines.data(), 1, text.hangupLines.size(), stdout);
        std::fputs(MORE_SCENARIO_LINES, stdout);
        return 0;
    }
    vardel::sim::DeviceOptions options{arguments.portName, arguments.logPath, arguments.controlPath, {}};
    if (auto failure = buildScenario(arguments, options.scenario)) {
        if (failure->status == USAGE_ERROR) return usageError(failure->message);
        std::fprintf(stderr, "vardel-sim: %s\n", failure->message.c_str());
        return failure->status;
    }
    return vardel::sim::runDevice(options);
}
