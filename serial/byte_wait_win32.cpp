// The wait for one byte over a port's bounded read, which a port may end
// before its time-out: with an error pending, or a USB driver that doesn't
// keep the total time-out and returns 0 bytes at once.

#include "serial/serial_win32.hpp"

#include <algorithm>

namespace vardel {

std::optional<char> waitForByte(const ByteWaitPort& port, std::uint32_t milliseconds) {
    const std::uint32_t start = port.clock();
    for (;;) {
        // Unsigned differences: a clock that wraps meanwhile changes nothing.
        const std::uint32_t elapsed = port.clock() - start;
        if (elapsed >= milliseconds) return std::nullopt;
        const ByteRead read = port.readWithin(milliseconds - elapsed);
        if (read.outcome == ByteRead::Outcome::Byte) return read.byte;
        // Back without a byte: when time is left, the read ended early.
        // A short pause, so that a port that returns at once is not asked
        // again in a tight loop, then a read for the rest.
        const std::uint32_t after = port.clock() - start;
        if (after >= milliseconds) return std::nullopt;
        port.pause(std::min(EARLY_READ_PAUSE_MS, milliseconds - after));
    }
}

}  // namespace vardel
