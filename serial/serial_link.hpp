#pragma once
// The one serial link of the process: open and configure the port, write a
// text, count the bytes waiting, read one reply ending in a carriage return.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/trace.hpp"

namespace vardel {

inline constexpr std::uint16_t REPLY_TIMEOUT_MS = 1000;

// What the platform keeps of an opened port (its descriptor or handle, and
// whatever else that platform needs); each platform file defines it.
struct PortState;

// Gives the port back: the platform's release of the port, then the state.
struct PortRelease {
    void operator()(PortState* state) const noexcept;
};

struct SerialLink {
    std::string portName = "Com2:";
    std::string lineSettings = "baud=1200 parity=e data=7 stop=1";
    std::uint16_t timeoutMs = REPLY_TIMEOUT_MS;
    // What the open gave, usable or not; the port is given back when the
    // link is destroyed or opened again, whichever comes first.
    std::unique_ptr<PortState, PortRelease> port;
    const Trace* trace = nullptr;  // the run's trace, if it has one
};

// Platform operations (serial_posix.cpp / serial_win32.cpp).
void openPort(SerialLink& link);
bool portIsOpen(const SerialLink& link);
void writeText(SerialLink& link, std::string_view text);
std::uint16_t bytesWaiting(SerialLink& link);
// Reads one waiting byte; false when none could be read.
bool readOneByte(SerialLink& link, char& byte);
// Sleeps until a byte may be waiting or `milliseconds` have passed.
void waitForInput(SerialLink& link, std::uint32_t milliseconds);
// Millisecond clock, unsigned 32-bit, wrapping.
std::uint32_t tickCount();

inline void releasePort(SerialLink& link) { link.port.reset(); }

// What a reply is collected from: the link's platform functions.
struct ReplySource {
    std::function<std::uint16_t()> bytesWaiting;
    std::function<bool(char&)> readOneByte;
    std::function<void(std::uint32_t)> waitForInput;
    std::function<std::uint32_t()> clock;
};

// Collects one reply: bytes up to the first carriage return (not included);
// the empty text when none came once more than `timeoutMs` have passed. And
// how it ended: at a carriage return, or at the time-out with the bytes that
// had come without one.
struct CollectedReply {
    std::string text;
    bool timedOut = false;
    std::string unterminated;
};
CollectedReply collectReplyWithEnd(const ReplySource& source, std::uint32_t timeoutMs);

// One reply read from the link and traced; no value when the time-out
// passed without a carriage return (bytes that came without one are no reply).
std::optional<std::string> readReply(SerialLink& link);

// A line of the link's trace, if it has one.
void traceLink(const SerialLink& link, std::string_view text);

// The trace's line for a write of `text` made after it: `sent` bytes went
// out; `failure` is why not all of them (the system's error text), empty
// when all did.
std::string writeTraceText(std::string_view text, std::size_t sent, std::string_view failure);

// The trace's line for a setting that the port refused, with the system's error text.
std::string refusalTraceText(std::string_view setting, std::string_view failure);

}  // namespace vardel
