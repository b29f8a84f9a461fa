#include "sim/platform_text.hpp"

namespace vardel::sim {

const PlatformText& platformText() {
    static constexpr PlatformText TEXT{
        "--port",
        "Usage: vardel-sim --port COMn [--scenario NAME|FILE] [--set \"LINE\"]... [--log FILE]\n"
        "                  [--control \\\\.\\pipe\\NAME]\n"
        "\n"
        "Plays the measurement interface on a COM port: one end of a null-modem pair\n"
        "(com0com, for one), whose other end the driver opens. Prints \"ready COMn\"\n"
        "once it answers, and serves until Ctrl+C or Ctrl+Break.\n"
        "\n"
        "  --port COMn        the port served: COM2, or \\\\.\\COM12 (required)\n"
        "  --control \\\\.\\pipe\\NAME   make a named pipe that takes scenario lines while the\n"
        "                     device runs; each acknowledged on the error output and in\n"
        "                     the log\n",
        "  --set \"LINE\"       one more scenario line, applied after the scenario (cmd\n"
        "                     knows only double quotes)\n",
        "  hangup BYTES [MS]       once: send BYTES bytes of the next reply, wait MS,\n"
        "                          hang up (the port is closed)\n"
        "  reconnect MS            MS after the hang-up, the port is opened again\n",
    };
    return TEXT;
}

}  // namespace vardel::sim
