// The simulator's signals: the reply to each request at given moments since
// the simulator started, for scenario lines as a user writes them.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/replies.hpp"
#include "sim/scenario.hpp"
#include "sim/signal.hpp"

namespace vardel::sim {
namespace {

struct Request {
    std::int64_t timeMs;
    std::string command;
    std::string reply;  // "" for no reply
};

struct SignalCase {
    std::string name;
    std::vector<std::string> lines;
    std::vector<Request> requests;  // in time order, one device record for all
};

// A directory for the recorded series, removed at the end.
struct SeriesFiles {
    std::filesystem::path directory;
    SeriesFiles() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vardel-signal-XXXXXX").string();
        directory = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
        write("steps.csv", "time_ms,count\n0,100\n1000,300\n# a comment\n\n2000,200\n");
        write("bits.csv", "0,1\r\n500,0\r\n1500,1\r\n");
    }
    ~SeriesFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(directory / name, std::ios::binary) << text;
    }
    std::string path(const std::string& name) const { return (directory / name).string(); }
};

std::string replyOrNothing(const Scenario& scenario, const std::string& command, std::int64_t timeMs,
                           DeviceRecord& record) {
    return replyTo(scenario, command, timeMs, record).value_or("");
}

TEST(SimulatorSignals, RepliesAtGivenMoments) {
    const SeriesFiles files;
    const std::string steps = files.path("steps.csv");
    const std::string bits = files.path("bits.csv");
    const std::string demoIdent = "0,0,0,0,0,1,0,0,150,57,100,177,0,0,0,0,0,0,0,0,\r";
    const std::vector<SignalCase> cases = {
        {"sine from the middle, rising; period in milliseconds",
         {"analog 0 sine 0 1000 2000"},
         {{0, "ZEA 0", "500\r"}, {250, "ZEA 0", "854\r"}, {500, "ZEA 0", "1000\r"}, {1000, "ZEA 0", "500\r"},
          {1500, "ZEA 0", "0\r"}, {2500, "ZEA 0", "1000\r"}, {100'000'500, "ZEA 0", "1000\r"}}},
        {"sine with a phase, other inputs untouched",
         {"analog * 5", "analog 1 sine 200 400 1000 90"},
         {{0, "ZEA 1", "400\r"}, {250, "ZEA 1", "300\r"}, {500, "ZEA 1", "200\r"}, {500, "ZEA 2", "5\r"}}},
        {"triangle and square",
         {"analog 0 triangle 100 300 1000", "analog 2 square 10 20 400"},
         {{0, "ZEA 0", "100\r"}, {250, "ZEA 0", "200\r"}, {500, "ZEA 0", "300\r"}, {750, "ZEA 0", "200\r"},
          {0, "ZEA 2", "20\r"}, {199, "ZEA 2", "20\r"}, {200, "ZEA 2", "10\r"}, {399, "ZEA 2", "10\r"},
          {400, "ZEA 2", "20\r"}}},
        {"counts kept to 0..1023, rounded",
         {"analog 0 sine -500 1500 1000", "analog 1 triangle 0 1 1000"},
         {{250, "ZEA 0", "1023\r"}, {750, "ZEA 0", "0\r"}, {0, "ZEA 0", "500\r"}, {240, "ZEA 1", "0\r"},
          {250, "ZEA 1", "1\r"}}},
        {"recorded series, step and hold",
         {"analog 0 csv " + steps},
         {{0, "ZEA 0", "100\r"}, {999, "ZEA 0", "100\r"}, {1000, "ZEA 0", "300\r"}, {2500, "ZEA 0", "200\r"},
          {90'000, "ZEA 0", "200\r"}}},
        {"recorded series, linear and loop",
         {"analog 0 csv " + steps + " linear loop"},
         {{500, "ZEA 0", "200\r"}, {1500, "ZEA 0", "250\r"}, {2000, "ZEA 0", "100\r"}, {2500, "ZEA 0", "200\r"}}},
        {"binary toggle and series",
         {"binary 0 toggle 400", "binary 1 csv " + bits + " loop"},
         {{0, "ZEBIT 0", "1\r"}, {200, "ZEBIT 0", "0\r"}, {400, "ZEBIT 0", "1\r"}, {0, "ZEBIT 1", "1\r"},
          {600, "ZEBIT 1", "0\r"}, {1500, "ZEBIT 1", "1\r"}, {1600, "ZEBIT 1", "1\r"}, {2100, "ZEBIT 1", "0\r"}}},
        {"sensor by name and count by reading",
         {"ident " + demoIdent.substr(0, demoIdent.size() - 1), "sensor 2 pH", "analog 2 value 7.0",
          "analog 1 value 25", "analog 3 value 250"},
         {{0, "ZRECO", "0,0,0,0,0,1,0,0,150,57,150,177,0,0,0,0,0,0,0,0,\r"},
          {0, "ZEA 2", "510\r"}, {0, "ZEA 1", "765\r"}, {0, "ZEA 3", "1023\r"}}},
        {"reading follows a sensor changed later; names in UTF-8",
         {"analog 0 value 50", "sensor 0 thermom\xC3\xA8tre 0..100\xC2\xB0" "C", "sensor 1 (rien)"},
         {{0, "ZRECO", "0,0,0,0,0,0,0,0,177,0,0,0,0,0,0,0,0,0,0,0,\r"}, {0, "ZEA 0", "510\r"}}},
        {"a name typed in a Windows console: Windows-1252",
         {"analog 0 value 50", "sensor 0 thermom\xE8tre 0..100\xB0" "C"},
         {{0, "ZRECO", "0,0,0,0,0,0,0,0,177,0,0,0,0,0,0,0,0,0,0,0,\r"}, {0, "ZEA 0", "510\r"}}},
        {"a sensor line keeps a later silence",
         {"ident 1,2,3", "silent ident", "sensor 0 pH"},
         {{0, "ZRECO", ""}}},
        {"timed lines apply when due",
         {"analog 0 100", "at 1000 analog 0 sine 0 1000 2000", "at 500 silent analog", "at 2000 analog 0 42"},
         {{499, "ZEA 0", "100\r"}, {500, "ZEA 0", ""}, {1500, "ZEA 0", "0\r"}, {2000, "ZEA 0", "42\r"}}},
    };
    for (const auto& signalCase : cases) {
        SCOPED_TRACE(signalCase.name);
        Scenario scenario;
        std::string error;
        for (const auto& line : signalCase.lines) ASSERT_TRUE(applyScenarioLine(line, scenario, error)) << line << ": " << error;
        DeviceRecord record;
        for (const auto& request : signalCase.requests) {
            SCOPED_TRACE(request.command + " at " + std::to_string(request.timeMs) + " ms");
            EXPECT_TRUE(applyDueLines(scenario, request.timeMs).empty());
            EXPECT_EQ(replyOrNothing(scenario, request.command, request.timeMs, record), request.reply);
        }
    }
}

// Noise: the same counts for the same seed, whatever the requests' times;
// another seed gives others; a normal spread about the signal.
TEST(SimulatorSignals, SeededNoise) {
    auto draws = [](const std::vector<std::string>& lines, int count) {
        Scenario scenario;
        std::string error;
        for (const auto& line : lines) EXPECT_TRUE(applyScenarioLine(line, scenario, error)) << error;
        DeviceRecord record;
        std::vector<int> counts;
        for (int i = 0; i < count; ++i) {
            counts.push_back(std::stoi(replyOrNothing(scenario, "ZEA 0", i * 7, record)));
        }
        return counts;
    };
    const auto first = draws({"analog 0 500", "analog 0 noise 20 7"}, 4000);
    EXPECT_EQ(first, draws({"analog 0 square 500 500 10", "analog * noise 20 7"}, 4000));
    EXPECT_NE(first, draws({"analog 0 500", "analog 0 noise 20 8"}, 4000));
    EXPECT_EQ(draws({"analog 0 500", "analog 0 noise 20 7", "analog 0 noise 0"}, 3), (std::vector<int>{500, 500, 500}));
    double sum = 0;
    double squares = 0;
    for (int count : first) {
        sum += count;
        squares += (count - 500.0) * (count - 500.0);
    }
    const double mean = sum / static_cast<double>(first.size());
    const double deviation = std::sqrt(squares / static_cast<double>(first.size()));
    EXPECT_NEAR(mean, 500, 1.5);
    EXPECT_NEAR(deviation, 20, 1.0);
    // A standard normal draw: mean 0, variance 1, independent of the index order.
    double drawSum = 0;
    double drawSquares = 0;
    for (std::uint64_t i = 0; i < 20000; ++i) {
        const double draw = gaussianDraw(3, i);
        drawSum += draw;
        drawSquares += draw * draw;
    }
    EXPECT_NEAR(drawSum / 20000, 0, 0.03);
    EXPECT_NEAR(drawSquares / 20000, 1, 0.04);
    EXPECT_EQ(gaussianDraw(3, 17), gaussianDraw(3, 17));
}

TEST(SimulatorSignals, BadLinesAreNamed) {
    const SeriesFiles files;
    files.write("bad.csv", "0,1\n10,x\n");
    files.write("back.csv", "0,1\n10,2\n5,3\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"sensor 0 pHH", "no sensor is named \"pHH\""},
        {"sensor 4 pH", "sensor takes an input 0 to 3"},
        {"analog 0 sine 0 1000 0", "sine takes LOW HIGH PERIOD_MS [PHASE_DEG]"},
        {"analog 0 square 0 1000 10 90", "square takes LOW HIGH PERIOD_MS,"},
        {"analog 7 value 3", "value needs an input 0 to 3"},
        {"analog 0 value abc", "value takes one reading"},
        {"analog 0 noise -1", "noise takes a standard deviation"},
        {"analog 0 csv " + files.path("none.csv"), "none.csv\" is no regular file"},
        {"analog 0 csv /dev/zero", "\"/dev/zero\" is no regular file"},
        {"binary 0 csv " + files.path(""), "is no regular file"},
        {"analog 0 csv " + files.path("bad.csv"), "bad.csv: line 2: not \"time_ms,count\""},
        {"analog 0 csv " + files.path("back.csv"), "line 3: time goes back"},
        {"analog 0 csv " + files.path("bad.csv") + " cubic", "csv takes a file"},
        {"binary 0 csv " + files.path("bad.csv") + " linear", "csv takes a file and optionally loop|hold"},
        {"binary 0 toggle 0", "toggle takes PERIOD_MS"},
        {"at 100 at 200 analog 0 1", "at lines don't nest"},
        {"at 100 sensor 0 nothing", "at 100: no sensor is named"},
        {"at soon analog 0 1", "at takes milliseconds"},
    };
    for (const auto& [line, message] : cases) {
        Scenario scenario;
        std::string error;
        EXPECT_FALSE(applyScenarioLine(line, scenario, error)) << line;
        EXPECT_NE(error.find(message), std::string::npos) << line << ": " << error;
        EXPECT_TRUE(scenario.timed.empty()) << line;
    }
    // Text replies that only look like signals' numbers stay as written.
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(applyScenarioLine("analog 0 0512", scenario, error));
    ASSERT_TRUE(applyScenarioLine("analog-raw 1 sine 1 2 3", scenario, error));
    DeviceRecord record;
    EXPECT_EQ(replyOrNothing(scenario, "ZEA 0", 0, record), "0512\r");
    EXPECT_EQ(replyOrNothing(scenario, "ZEA 1", 0, record), "sine 1 2 3");
}

}  // namespace
}  // namespace vardel::sim
