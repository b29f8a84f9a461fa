// The line control record of a run: the mode string's four fields, and a
// plain three-wire line for everything else.

#include "serial/serial_win32.hpp"

namespace vardel {

namespace {

constexpr char XON = 0x11;
constexpr char XOFF = 0x13;
// Unused without flow control, but a port refuses limits beyond its
// receive queue: a quarter of the 256 bytes that the run asks for.
constexpr WORD FLOW_LIMIT = 64;

}  // namespace

void completeThreeWireLine(DCB& control) {
    control.DCBlength = sizeof control;
    control.fBinary = TRUE;
    // Parity is checked when the line has one; a parity error is only counted.
    control.fParity = control.Parity != NOPARITY;
    control.fOutxCtsFlow = FALSE;
    control.fOutxDsrFlow = FALSE;
    control.fDtrControl = DTR_CONTROL_ENABLE;
    control.fDsrSensitivity = FALSE;
    control.fTXContinueOnXoff = TRUE;
    control.fOutX = FALSE;
    control.fInX = FALSE;
    control.fErrorChar = FALSE;
    control.fNull = FALSE;
    control.fRtsControl = RTS_CONTROL_ENABLE;
    control.fAbortOnError = FALSE;
    control.fDummy2 = 0;
    control.wReserved = 0;  // must be zero
    control.XonLim = FLOW_LIMIT;
    control.XoffLim = FLOW_LIMIT;
    // SetCommState refuses a record whose two characters are the same.
    control.XonChar = XON;
    control.XoffChar = XOFF;
    control.ErrorChar = 0;
    control.EofChar = 0;
    control.EvtChar = 0;
    control.wReserved1 = 0;
}

bool buildLineControl(const char* settings, DCB& control) {
    control.DCBlength = sizeof control;
    const bool applied = BuildCommDCBA(settings, &control) != FALSE;
    completeThreeWireLine(control);
    return applied;
}

}  // namespace vardel
