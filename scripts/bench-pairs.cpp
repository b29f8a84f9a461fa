// Runs two commands in turn, PAIRS times, and prints the medians of their
// wall and CPU times, of the per-pair ratios and differences, and the peak
// resident size of the second command. The benchmark's timer: a shell can't
// time a 2 ms process to a tenth of a millisecond.
//
//   bench-pairs PAIRS [NAME=VALUE...] REFERENCE ARGS... -- [NAME=VALUE...] SUBJECT ARGS...
//
// NAME=VALUE words before a program are set in its environment. Standard
// input and output are /dev/null, the error output is kept. Printed, one line:
//   wall_ref_ms wall_sub_ms wall_ratio wall_diff_ms cpu_ref_ms cpu_sub_ms cpu_ratio rss_sub_max_kib
// Exit status 1 when a command can't be run or ends with a status other than 0.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Command {
    std::vector<std::string> environment;
    std::vector<std::string> words;
};

struct Run {
    double wallMs = 0;
    double cpuMs = 0;
    long maxRssKib = 0;
    bool ok = false;
};

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ms(const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; }

// fork, not vfork or posix_spawn: the child's peak resident size counts its
// size before the exec, which is this small program's and not a shell's.
Run runOnce(const Command& command) {
    std::vector<char*> argv;
    for (const auto& word : command.words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    Run run;
    const double start = nowMs();
    const pid_t pid = fork();
    if (pid < 0) return run;
    if (pid == 0) {
        for (const auto& entry : command.environment) putenv(const_cast<char*>(entry.c_str()));
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "bench-pairs: can't run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.wallMs = nowMs() - start;
    run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    run.maxRssKib = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Reads [NAME=VALUE...] PROGRAM ARGS... up to "--" or the end.
Command readCommand(int argc, char** argv, int& i) {
    Command command;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string word = argv[i];
        if (command.words.empty() && word.find('=') != std::string::npos && word.front() != '/') {
            command.environment.push_back(word);
        } else {
            command.words.push_back(word);
        }
    }
    return command;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: bench-pairs PAIRS [NAME=VALUE...] REFERENCE ARGS... -- [NAME=VALUE...] SUBJECT ARGS...\n",
                   stderr);
        return 2;
    }
    const int pairs = std::max(1, std::atoi(argv[1]));
    int i = 2;
    const Command reference = readCommand(argc, argv, i);
    ++i;
    const Command subject = readCommand(argc, argv, i);
    if (reference.words.empty() || subject.words.empty()) {
        std::fputs("bench-pairs: a command is missing\n", stderr);
        return 2;
    }

    // One run of each first, so that both start from warm caches.
    if (!runOnce(reference).ok || !runOnce(subject).ok) {
        std::fputs("bench-pairs: a command failed\n", stderr);
        return 1;
    }
    std::vector<double> wallRef, wallSub, wallRatio, wallDiff, cpuRef, cpuSub, cpuRatio;
    long rssMax = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        // Alternate which goes first, so that neither always follows the other.
        Run first = runOnce(pair % 2 == 0 ? reference : subject);
        Run second = runOnce(pair % 2 == 0 ? subject : reference);
        const Run& ref = pair % 2 == 0 ? first : second;
        const Run& sub = pair % 2 == 0 ? second : first;
        if (!ref.ok || !sub.ok) {
            std::fputs("bench-pairs: a command failed\n", stderr);
            return 1;
        }
        wallRef.push_back(ref.wallMs);
        wallSub.push_back(sub.wallMs);
        wallRatio.push_back(sub.wallMs / ref.wallMs);
        wallDiff.push_back(sub.wallMs - ref.wallMs);
        cpuRef.push_back(ref.cpuMs);
        cpuSub.push_back(sub.cpuMs);
        if (ref.cpuMs > 0) cpuRatio.push_back(sub.cpuMs / ref.cpuMs);
        rssMax = std::max(rssMax, sub.maxRssKib);
    }
    std::printf("%.3f %.3f %.3f %.3f %.3f %.3f %.3f %ld\n", median(wallRef), median(wallSub), median(wallRatio),
                median(wallDiff), median(cpuRef), median(cpuSub), median(cpuRatio), rssMax);
    return 0;
}
