#pragma once
// The parts of the Windows port that its unit tests reach on their own: the
// line control record a run writes to the port, and the wait for one byte
// over a read that the port may end early.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace vardel {

// Sets every field of `control` that a mode string doesn't name to a plain
// three-wire line: binary mode; no CTS or DSR output flow control, no DSR
// sensitivity, no XON/XOFF either way; no error character, no null
// stripping, no abort on error; DTR and RTS raised. Baud rate, parity, data
// bits and stop bits are kept. A port keeps what the last program set, and
// BuildCommDCBA's "baud=... parity=... data=... stop=..." form changes only
// those four fields.
void completeThreeWireLine(DCB& control);

// The mode string applied to `control` (BuildCommDCBA), then the rest
// completed to a three-wire line. False when Windows refused the string;
// the record is completed all the same.
bool buildLineControl(const char* settings, DCB& control);

// What one read of one byte, bounded in time, gave.
struct ByteRead {
    enum class Outcome { Byte, Nothing, Failed };
    Outcome outcome = Outcome::Nothing;
    char byte = 0;
};

// What the wait for one byte runs on: the port's bounded read, the clock
// and the pause. The port supplies the real ones, the tests scripted ones.
struct ByteWaitPort {
    // Reads one byte, waiting at most the given milliseconds (at least 1).
    std::function<ByteRead(std::uint32_t)> readWithin;
    // Millisecond clock, unsigned 32-bit, wrapping (GetTickCount).
    std::function<std::uint32_t()> clock;
    // Sleeps the given milliseconds.
    std::function<void(std::uint32_t)> pause;
};

// The pause after a read that came back without a byte before the deadline:
// short, so that a byte arriving meanwhile is read soon after, and enough
// that a port that returns at once is not asked again in a tight loop.
inline constexpr std::uint32_t EARLY_READ_PAUSE_MS = 5;

// Waits until a byte comes or `milliseconds` have passed on the clock. A
// read that the port ends early without a byte, empty or failed, is followed
// by a pause of EARLY_READ_PAUSE_MS (less when the deadline is nearer), then
// by another read for the time left.
std::optional<char> waitForByte(const ByteWaitPort& port, std::uint32_t milliseconds);

}  // namespace vardel
