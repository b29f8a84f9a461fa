#include "sim/platform_text.hpp"

namespace vardel::sim {

const PlatformText& platformText() {
    static constexpr PlatformText TEXT{
        "--link",
        "Usage: vardel-sim --link PATH [--scenario NAME|FILE] [--set 'LINE']... [--log FILE]\n"
        "                  [--control PATH]\n"
        "\n"
        "Plays the measurement interface on a new pseudo-terminal and makes PATH a\n"
        "symbolic link to it; point VARDEL_COM1 (or VARDEL_COM3) at PATH. Prints\n"
        "\"ready PATH\" once it answers, and serves until SIGTERM or SIGINT.\n"
        "\n"
        "  --link PATH        where the link to the terminal is made (required)\n"
        "  --control PATH     make a FIFO at PATH (where nothing exists) that takes scenario\n"
        "                     lines while the device runs; each acknowledged on the error\n"
        "                     output and in the log\n",
        "  --set 'LINE'       one more scenario line, applied after the scenario\n",
        "  hangup BYTES [MS]       once: send BYTES bytes of the next reply, wait MS,\n"
        "                          hang up (the terminal closes and PATH goes away)\n"
        "  reconnect MS            MS after the hang-up, back on a new terminal at PATH\n",
    };
    return TEXT;
}

}  // namespace vardel::sim
