#pragma once
// The one serial link of the process: open and configure the port, write a
// text, count the bytes waiting, read one reply ending in a carriage return.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vardel {

inline constexpr std::uint16_t REPLY_TIMEOUT_MS = 1000;

struct SerialLink {
    std::string portName = "Com2:";
    std::string lineSettings = "baud=1200 parity=e data=7 stop=1";
    std::uint16_t timeoutMs = REPLY_TIMEOUT_MS;
    std::intptr_t handle = -1;  // kept whatever the open call gave (-1: invalid)
    int lookAheadByte = -1;     // a byte read while waiting, not yet taken (-1: none)
};

// Platform operations (serial_posix.cpp / serial_win32.cpp).
void openPort(SerialLink& link);
void writeText(SerialLink& link, std::string_view text);
std::uint16_t bytesWaiting(SerialLink& link);
// Reads one waiting byte; false when none could be read.
bool readOneByte(SerialLink& link, char& byte);
// Sleeps until a byte may be waiting or `milliseconds` have passed.
void waitForInput(SerialLink& link, std::uint32_t milliseconds);
// Millisecond clock, unsigned 32-bit, wrapping.
std::uint32_t tickCount();
// Gives the port back at the end of the run (exclusive mode cleared, closed).
void releasePort(SerialLink& link);

// What a reply is collected from; the link's, or a test's own.
struct ReplySource {
    std::function<std::uint16_t()> bytesWaiting;
    std::function<bool(char&)> readOneByte;
    std::function<void(std::uint32_t)> waitForInput;
    std::function<std::uint32_t()> clock;
};

// Collects one reply: bytes up to the first carriage return (not included);
// the empty text when none came once more than `timeoutMs` have passed.
std::string collectReply(const ReplySource& source, std::uint32_t timeoutMs);

std::string readReply(SerialLink& link);

}  // namespace vardel
