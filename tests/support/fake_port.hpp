#pragma once
// A scripted device in place of the serial port, for the unit tests and the
// fuzz targets. It implements the platform functions of
// serial/serial_link.hpp from memory: the link's port state leads to the
// device, each command written is answered
// by the next scripted reply, and a fake millisecond clock moves only when
// the driver waits, so a time-out costs no real time.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "serial/serial_link.hpp"

namespace vardel::fake {

struct ScriptedReply {
    std::uint32_t delayMs = 0;  // from the command's end to the first byte
    std::string bytes;
};

struct FakeDevice {
    // Taken in order, one for each text written; later texts get no answer.
    std::vector<ScriptedReply> replies;
    bool missing = false;           // the port can't be opened
    std::uint32_t byteSpacingMs = 1;  // about the pace of 9600 baud
    std::uint32_t longestWaitMs = UINT32_MAX;  // the most one wait moves the clock

    // What the driver did.
    int opens = 0;
    int releases = 0;
    std::string portName;
    std::string lineSettings;
    std::vector<std::string> written;
    std::uint32_t lastWaitMs = 0;  // what the last wait asked for
    int pollsWithoutWait = 0;      // empty counts asked for again without a wait between

    // Internal: bytes on their way, with their arrival times.
    struct Arrival {
        std::uint64_t at;
        char byte;
    };
    std::deque<Arrival> incoming;
    std::size_t nextReply = 0;
    std::uint64_t calls = 0;
    bool emptySinceWait = false;
};

// Bytes that arrive unasked, from `atMs` on the fake clock, after those
// already on their way.
void arriveAt(FakeDevice& device, std::uint64_t atMs, std::string_view bytes);
// The bytes on their way or waiting, not yet read.
std::string queuedBytes(const FakeDevice& device);

// Makes `link` lead to `device`; openPort then opens it (or, when the device
// is missing, leaves the link invalid).
void attachDevice(SerialLink& link, FakeDevice& device);

// A device on a link that is already open, with the clock at zero: one
// exchange of a unit test.
struct OpenedDevice {
    FakeDevice device;
    SerialLink link;
    explicit OpenedDevice(std::vector<ScriptedReply> replies);
    OpenedDevice(const OpenedDevice&) = delete;
    OpenedDevice& operator=(const OpenedDevice&) = delete;
};

// The fake clock: tickCount() gives `start` plus the fake milliseconds that
// have passed since this call.
void resetFakeClock(std::uint32_t start);
std::uint64_t fakeMillisecondsPassed();

}  // namespace vardel::fake
