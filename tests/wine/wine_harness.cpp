#include "tests/wine/wine_harness.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "text/windows1252.hpp"

namespace vardel::wine {
namespace {

namespace fs = std::filesystem;

constexpr auto RUN_TIME_LIMIT = std::chrono::seconds(20);

using test::readFile;
using test::writeFile;

std::string windowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string windowsProgramPath(const std::string& program) {
    const std::string path = std::string(VARDEL_WINDOWS_BUILD_DIR) + "/" + program + ".exe";
    if (!fs::exists(path)) {
        throw std::runtime_error(path + " is missing: build the Windows programs first (scripts/build-windows.sh)");
    }
    return path;
}

std::string linuxProgramPath(const std::string& program) {
    if (program == "vardel1") return VARDEL1_PATH;
    if (program == "vardel3") return VARDEL3_PATH;
    throw std::invalid_argument("unknown program " + program);
}

char portDigit(const std::string& program) { return program == "vardel3" ? '3' : '1'; }

// Points the prefix's fixed port path at the device (replaced in one step).
void pointWinePort(const std::string& program, const std::string& target) {
    const std::string ports = std::string(VARDEL_WINE_PREFIX) + "/ports";
    const std::string link = ports + "/com" + portDigit(program);
    const std::string staged = link + ".new";
    std::error_code ignored;
    fs::remove(staged, ignored);
    fs::create_symlink(target, staged);
    fs::rename(staged, link);
}

std::vector<std::string> localeEnvironment(Platform platform, Locale locale) {
    if (locale == Locale::FrenchComma) {
        return {"LC_ALL=fr_FR.UTF-8", std::string("LOCPATH=") + VARDEL_LOCALE_DIR};
    }
    // Wine takes C.UTF-8 for English (United States) with Windows-1252.
    return {platform == Platform::Windows ? "LC_ALL=C.UTF-8" : "LC_ALL=C"};
}

using Command = test::ProcessSpec;

Command linuxCommand(const Invocation& run, const std::string& noDevice) {
    Command command;
    command.argv.push_back(linuxProgramPath(run.program));
    command.argv.insert(command.argv.end(), run.arguments.begin(), run.arguments.end());
    const std::string port = run.device != nullptr ? run.device->path() : noDevice;
    command.environment = std::vector<std::string>{"PATH=/usr/bin:/bin", std::string("VARDEL_COM") + portDigit(run.program) + "=" + port};
    return command;
}

Command windowsCommand(const Invocation& run, const std::string& workDirectory) {
    Command command;
    const std::string program = windowsProgramPath(run.program);
    command.argv.push_back(VARDEL_WINE);
    if (run.commandLineTail.empty()) {
        command.argv.push_back(program);
        // Wine reads a Unix command line in the Unix locale's character set
        // (UTF-8 here) and hands it to the program in the Windows one.
        for (const auto& argument : run.arguments) command.argv.push_back(utf8FromWindows1252(argument));
    } else {
        const std::string batch = workDirectory + "/run.bat";
        writeFile(batch, "@\"" + windowsPath(program) + "\" " + run.commandLineTail + "\r\n@exit %ERRORLEVEL%\r\n");
        command.argv.insert(command.argv.end(), {"cmd", "/c", windowsPath(batch)});
    }
    const std::string noDevice = std::string(VARDEL_WINE_PREFIX) + "/ports/no-device";
    pointWinePort(run.program, run.device != nullptr ? run.device->path() : noDevice);
    command.environment = std::vector<std::string>{"PATH=/usr/bin:/bin", std::string("WINEPREFIX=") + VARDEL_WINE_PREFIX, "WINEDEBUG=-all"};
    if (const char* home = std::getenv("HOME")) command.environment->push_back(std::string("HOME=") + home);
    return command;
}

RunResult execute(Command command, Output output, const std::string& outputFile) {
    command.output = output;
    command.outputFile = outputFile;
    command.timeLimit = RUN_TIME_LIMIT;
    command.collect = test::CollectUntil::Exit;
    const test::ProcessRun run = test::runProcess(command);
    if (run.timedOut) throw std::runtime_error("the program was still running after the time limit");
    return run;
}

}  // namespace

RunResult runOn(Platform platform, const Invocation& run) {
    const test::TempDirectory work("vardel-wine");
    const std::string noDevice = work.path + "/no-device";
    Command command = platform == Platform::Linux ? linuxCommand(run, noDevice) : windowsCommand(run, work.path);
    for (auto& setting : localeEnvironment(platform, run.locale)) command.environment->push_back(setting);
    return execute(std::move(command), run.output, work.path + "/stdout");
}

std::string withLinuxProgramName(std::string text) {
    for (const std::string program : {"vardel1", "vardel3"}) {
        const std::string windowsName = " dans le module " + program + ".exe ";
        for (auto at = text.find(windowsName); at != std::string::npos; at = text.find(windowsName, at)) {
            text.replace(at, windowsName.size(), " dans le module " + program + " ");
        }
    }
    return text;
}

}  // namespace vardel::wine
