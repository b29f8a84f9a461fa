// The Windows port's line control record and its wait for one byte, run
// under Wine: the record a run writes whatever the port held before, and a
// wait that a port ending its reads early can't cut short.

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_win32.hpp"

using namespace vardel;

namespace {

constexpr const char* BUILD_SETTINGS = "baud=9600 parity=n data=8 stop=1";
constexpr const char* DEFAULT_SETTINGS = "baud=1200 parity=e data=7 stop=1";

DCB recordOfBits(unsigned char fill) {
    DCB control;
    std::memset(&control, fill, sizeof control);
    return control;
}

void expectThreeWireLine(const DCB& control) {
    EXPECT_EQ(control.DCBlength, sizeof(DCB));
    EXPECT_TRUE(control.fBinary);
    EXPECT_FALSE(control.fOutxCtsFlow);
    EXPECT_FALSE(control.fOutxDsrFlow);
    EXPECT_EQ(control.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_FALSE(control.fDsrSensitivity);
    EXPECT_TRUE(control.fTXContinueOnXoff);
    EXPECT_FALSE(control.fOutX);
    EXPECT_FALSE(control.fInX);
    EXPECT_FALSE(control.fErrorChar);
    EXPECT_FALSE(control.fNull);
    EXPECT_EQ(control.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_FALSE(control.fAbortOnError);
    EXPECT_EQ(control.fDummy2, 0u);
    EXPECT_EQ(control.wReserved, 0);
    // SetCommState refuses equal characters, and limits beyond the queue.
    EXPECT_NE(control.XonChar, control.XoffChar);
    EXPECT_LE(control.XonLim, 256);
    EXPECT_LE(control.XoffLim, 256);
    EXPECT_EQ(control.ErrorChar, 0);
    EXPECT_EQ(control.EofChar, 0);
    EXPECT_EQ(control.EvtChar, 0);
}

struct SettingsCase {
    const char* settings;
    DWORD baud;
    BYTE parity;
    BYTE dataBits;
};

const SettingsCase SETTINGS[] = {
    {BUILD_SETTINGS, 9600, NOPARITY, 8},
    {DEFAULT_SETTINGS, 1200, EVENPARITY, 7},
};

}  // namespace

TEST(LineControl, ModeStringThenAThreeWireLineFromEveryBitSetOrClear) {
    for (const SettingsCase& c : SETTINGS) {
        for (const unsigned char fill : {0xFF, 0x00}) {
            SCOPED_TRACE(std::string(c.settings) + (fill ? ", every bit set" : ", every bit clear"));
            DCB control = recordOfBits(fill);
            EXPECT_TRUE(buildLineControl(c.settings, control));
            EXPECT_EQ(control.BaudRate, c.baud);
            EXPECT_EQ(control.Parity, c.parity);
            EXPECT_EQ(control.ByteSize, c.dataBits);
            EXPECT_EQ(control.StopBits, ONESTOPBIT);
            EXPECT_EQ(static_cast<bool>(control.fParity), c.parity != NOPARITY);
            expectThreeWireLine(control);
        }
    }
}

TEST(LineControl, WhatAPortHeldBeforeLeavesNoTrace) {
    // Every byte of the record comes from the settings and the driver.
    for (const SettingsCase& c : SETTINGS) {
        SCOPED_TRACE(c.settings);
        DCB fromSet = recordOfBits(0xFF);
        DCB fromClear = recordOfBits(0x00);
        DCB fromMixed = recordOfBits(0xA5);
        buildLineControl(c.settings, fromSet);
        buildLineControl(c.settings, fromClear);
        buildLineControl(c.settings, fromMixed);
        EXPECT_EQ(std::memcmp(&fromSet, &fromClear, sizeof(DCB)), 0);
        EXPECT_EQ(std::memcmp(&fromSet, &fromMixed, sizeof(DCB)), 0);
    }
}

TEST(LineControl, CompletingKeepsTheFourFieldsOfTheModeString) {
    for (const unsigned char fill : {0xFF, 0x00}) {
        DCB control = recordOfBits(fill);
        control.BaudRate = 19200;
        control.ByteSize = 7;
        control.Parity = ODDPARITY;
        control.StopBits = TWOSTOPBITS;
        completeThreeWireLine(control);
        EXPECT_EQ(control.BaudRate, 19200u);
        EXPECT_EQ(control.ByteSize, 7);
        EXPECT_EQ(control.Parity, ODDPARITY);
        EXPECT_EQ(control.StopBits, TWOSTOPBITS);
        expectThreeWireLine(control);
    }
}

TEST(LineControl, RefusedSettingsStillGiveAThreeWireLine) {
    DCB control = recordOfBits(0xFF);
    EXPECT_FALSE(buildLineControl("baud=", control));
    expectThreeWireLine(control);
}

// --- The wait for one byte, on a scripted port ---

namespace {

constexpr std::uint32_t TAKES_ITS_TIME_OUT = std::numeric_limits<std::uint32_t>::max();

// What one read does: how long it takes (at most the time-out it is given)
// and what it gives.
struct ScriptedRead {
    std::uint32_t takesMs;
    ByteRead::Outcome outcome;
    char byte = 0;
};

// A port whose reads follow a script, on a clock that moves only when a read
// or a pause takes time. Once the script is out, each read waits its whole
// time-out and gives nothing.
class ScriptedPort {
public:
    ScriptedPort(std::uint32_t startMs, std::vector<ScriptedRead> script)
        : now_(startMs), start_(startMs), script_(script.begin(), script.end()) {}

    ByteWaitPort port() {
        return ByteWaitPort{
            [this](std::uint32_t timeoutMs) { return read(timeoutMs); },
            [this] { return now_; },
            [this](std::uint32_t ms) {
                pauses.push_back(ms);
                now_ += ms;
            },
        };
    }
    std::uint32_t elapsed() const { return now_ - start_; }

    std::vector<std::uint32_t> asked;   // each read's time-out
    std::vector<std::uint32_t> pauses;  // each pause
    bool pausedBeforeEachRead() const { return pauses.size() + 1 >= asked.size(); }

private:
    ByteRead read(std::uint32_t timeoutMs) {
        asked.push_back(timeoutMs);
        EXPECT_GE(timeoutMs, 1u) << "a read time-out of 0 would mean no limit";
        ScriptedRead step{TAKES_ITS_TIME_OUT, ByteRead::Outcome::Nothing};
        if (!script_.empty()) {
            step = script_.front();
            script_.pop_front();
        }
        now_ += step.takesMs < timeoutMs ? step.takesMs : timeoutMs;
        return ByteRead{step.outcome, step.byte};
    }

    std::uint32_t now_;
    std::uint32_t start_;
    std::deque<ScriptedRead> script_;
};

using O = ByteRead::Outcome;

struct WaitCase {
    const char* name;
    std::uint32_t startMs;
    std::uint32_t waitMs;
    std::vector<ScriptedRead> script;
    std::optional<char> expected;
    std::vector<std::uint32_t> asked;
    std::vector<std::uint32_t> pauses;
    std::uint32_t elapsed;
};

const WaitCase WAITS[] = {
    {"a byte within the time-out", 1000, 1000, {{30, O::Byte, '6'}}, '6', {1000}, {}, 30},
    {"nothing: one read for the whole wait", 1000, 1000, {}, std::nullopt, {1000}, {}, 1000},
    {"an empty return at once, then the byte", 1000, 1000, {{0, O::Nothing}, {100, O::Byte, 'x'}}, 'x',
     {1000, 995}, {5}, 105},
    {"a failed read at once, then the byte", 1000, 1000, {{0, O::Failed}, {40, O::Byte, '\r'}}, '\r',
     {1000, 995}, {5}, 45},
    {"early returns, then a late byte", 1000, 1000,
     {{300, O::Nothing}, {300, O::Failed}, {380, O::Byte, '1'}}, '1', {1000, 695, 390}, {5, 5}, 990},
    {"early returns, then nothing until the deadline", 1000, 1000, {{300, O::Nothing}, {300, O::Nothing}},
     std::nullopt, {1000, 695, 390}, {5, 5}, 1000},
    {"the pause is cut at the deadline", 1000, 1000, {{998, O::Nothing}}, std::nullopt, {1000}, {2}, 1000},
    {"a byte after the last pause", 1000, 1000, {{993, O::Failed}, {1, O::Byte, 'z'}}, 'z', {1000, 2}, {5}, 999},
    {"the clock wraps during the wait", 0xFFFFFF00u, 1000, {{0, O::Nothing}, {600, O::Nothing}},
     std::nullopt, {1000, 995, 390}, {5, 5}, 1000},
    {"no time to wait", 1000, 0, {{0, O::Byte, 'n'}}, std::nullopt, {}, {}, 0},
};

}  // namespace

TEST(ByteWait, ScriptedEarlyReturnsFailuresAndLateBytes) {
    for (const WaitCase& c : WAITS) {
        SCOPED_TRACE(c.name);
        ScriptedPort scripted(c.startMs, c.script);
        EXPECT_EQ(waitForByte(scripted.port(), c.waitMs), c.expected);
        EXPECT_EQ(scripted.asked, c.asked);
        EXPECT_EQ(scripted.pauses, c.pauses);
        EXPECT_EQ(scripted.elapsed(), c.elapsed);
    }
}

TEST(ByteWait, APortThatFailsEveryReadAtOnceIsAskedOncePerPause) {
    // Returns at the deadline, having paused between every two reads: no
    // tight loop, and no hang.
    std::vector<ScriptedRead> failures(1000, ScriptedRead{0, O::Failed});
    ScriptedPort scripted(5, failures);
    EXPECT_EQ(waitForByte(scripted.port(), 1000), std::nullopt);
    EXPECT_EQ(scripted.elapsed(), 1000u);
    EXPECT_EQ(scripted.asked.size(), 1000 / EARLY_READ_PAUSE_MS);
    EXPECT_EQ(scripted.pauses.size(), scripted.asked.size());
    for (const std::uint32_t pause : scripted.pauses) EXPECT_EQ(pause, EARLY_READ_PAUSE_MS);
}

TEST(ByteWait, USBPortReturningEmptyAtOnceStillDeliversTheReplyInTime) {
    // A driver that ignores the total time-out: empty returns until the
    // reply's first byte comes at 700 ms.
    std::vector<ScriptedRead> script(140, ScriptedRead{0, O::Nothing});
    script.push_back({0, O::Byte, '6'});
    ScriptedPort scripted(123456, script);
    EXPECT_EQ(waitForByte(scripted.port(), 1001), '6');
    EXPECT_EQ(scripted.elapsed(), 700u);
    EXPECT_TRUE(scripted.pausedBeforeEachRead());
}
