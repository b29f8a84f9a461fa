// Mode strings, their mapping onto terminal attributes, and port names.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "serial/line_settings.hpp"
#include "serial/termios_mapping.hpp"

using namespace vardel;

namespace {

bool operator==(const LineParameters& a, const LineParameters& b) {
    return a.baud == b.baud && a.parity == b.parity && a.dataBits == b.dataBits && a.stopBits == b.stopBits;
}

LineParameters read(const std::string& mode) {
    LineParameters params;
    EXPECT_TRUE(applyModeString(mode, params)) << mode;
    return params;
}

// Attributes of a terminal in its ordinary, cooked state, with every flag set
// that the serial line must not keep.
termios cookedTerminal() {
    termios attributes{};
    attributes.c_iflag = ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | INPCK | BRKINT | PARMRK | IGNBRK;
    attributes.c_oflag = OPOST | ONLCR;
    attributes.c_lflag = ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN;
    attributes.c_cflag = CS7 | PARENB | PARODD | CSTOPB | HUPCL | CRTSCTS;
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 5;
    cfsetispeed(&attributes, B38400);
    cfsetospeed(&attributes, B38400);
    return attributes;
}

termios mapped(const std::string& mode) {
    termios attributes = cookedTerminal();
    applyLineParameters(read(mode), attributes);
    return attributes;
}

bool has(tcflag_t flags, tcflag_t wanted) { return (flags & wanted) == wanted; }

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value != nullptr) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedVariable() {
        if (saved_) setenv(name_, saved_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

}  // namespace

TEST(ModeString, TheTwoSettingsTextsOfTheLink) {
    EXPECT_TRUE(read("baud=9600 parity=n data=8 stop=1") == (LineParameters{9600, Parity::None, 8, StopBits::One}));
    EXPECT_TRUE(read("baud=1200 parity=e data=7 stop=1") == (LineParameters{1200, Parity::Even, 7, StopBits::One}));
}

TEST(ModeString, KeysAndValuesInAnyCaseAndOrderWithAnyBlanks) {
    EXPECT_TRUE(read("  STOP=2\tData=5   PARITY=O baud=300 ") == (LineParameters{300, Parity::Odd, 5, StopBits::Two}));
    EXPECT_EQ(read("parity=M").parity, Parity::Mark);
    EXPECT_EQ(read("parity=s").parity, Parity::Space);
    EXPECT_EQ(read("stop=1.5").stopBits, StopBits::OnePointFive);
    EXPECT_EQ(read("data=6").dataBits, 6u);
}

TEST(ModeString, KeysNotGivenKeepTheirValuesAndTheLastOfAKeyWins) {
    LineParameters params{9600, Parity::None, 8, StopBits::Two};
    EXPECT_TRUE(applyModeString("baud=19200 baud=4800", params));
    EXPECT_TRUE(params == (LineParameters{4800, Parity::None, 8, StopBits::Two}));
}

TEST(ModeString, TextsThatAreNotModeStringsChangeNothing) {
    const LineParameters before{2400, Parity::Odd, 6, StopBits::Two};
    for (const char* mode : {"", "   ", "baud", "baud=", "=9600", "baud=abc", "baud=0", "baud=-9600", "baud=+9600",
                             "baud=4294967296", "baud=96OO", "parity=x", "parity=none", "parity=", "data=4", "data=9",
                             "data=08x", "stop=3", "stop=1.0", "stop=0", "speed=9600", "baud = 9600",
                             "baud=9600,parity=n", "9600,n,8,1", "baud=9600 parity=n data=8 stop=1 xon=on",
                             "baud=9600 parity=q"}) {
        LineParameters params = before;
        EXPECT_FALSE(applyModeString(mode, params)) << '"' << mode << '"';
        EXPECT_TRUE(params == before) << '"' << mode << '"';
    }
}

TEST(TerminalMapping, BuildSettingsGiveARaw9600Baud8N1Line) {
    const termios line = mapped("baud=9600 parity=n data=8 stop=1");
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | PARODD | CSTOPB), 0u);
    // Raw bytes both ways: no translation, no echo, no signals, no flow control.
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    // Reads return at once; the modem lines are ignored and stay up on close.
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    EXPECT_TRUE(has(line.c_cflag, CLOCAL | CREAD));
    EXPECT_EQ(line.c_cflag & HUPCL, 0u);
}

TEST(TerminalMapping, DefaultSettingsGive1200Baud7E1) {
    const termios line = mapped("baud=1200 parity=e data=7 stop=1");
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B1200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE(has(line.c_cflag, PARENB));
    EXPECT_EQ(line.c_cflag & (PARODD | CSTOPB), 0u);
}

TEST(TerminalMapping, ParityDataAndStopBitVariants) {
    EXPECT_TRUE(has(mapped("parity=o").c_cflag, PARENB | PARODD));
    EXPECT_EQ(mapped("data=5").c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_EQ(mapped("data=6").c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
    EXPECT_TRUE(has(mapped("stop=2").c_cflag, CSTOPB));
    EXPECT_TRUE(has(mapped("stop=1.5").c_cflag, CSTOPB));
#ifdef CMSPAR
    EXPECT_TRUE(has(mapped("parity=m").c_cflag, PARENB | CMSPAR | PARODD));
    const termios space = mapped("parity=s");
    EXPECT_TRUE(has(space.c_cflag, PARENB | CMSPAR));
    EXPECT_EQ(space.c_cflag & PARODD, 0u);
    EXPECT_EQ(mapped("parity=e").c_cflag & CMSPAR, 0u);
#endif
}

TEST(TerminalMapping, RateWithoutSpeedConstantKeepsTheSpeed) {
    EXPECT_EQ(speedConstant(14400), std::nullopt);
    const termios line = mapped("baud=14400 parity=n data=8 stop=1");
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B38400));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(speedConstant(115200), std::optional<speed_t>(B115200));
}

TEST(PortPath, ComNamesUseTheirVariableOrTheMatchingSerialDevice) {
    ScopedVariable com1("VARDEL_COM1", nullptr);
    ScopedVariable com3("VARDEL_COM3", "/tmp/somewhere/port3");
    ScopedVariable com12("VARDEL_COM12", "");
    EXPECT_EQ(portPathFor("Com1:"), "/dev/ttyS0");
    EXPECT_EQ(portPathFor("COM1"), "/dev/ttyS0");
    EXPECT_EQ(portPathFor("Com3:"), "/tmp/somewhere/port3");
    EXPECT_EQ(portPathFor("cOm3"), "/tmp/somewhere/port3");
    EXPECT_EQ(portPathFor("Com12:"), "/dev/ttyS11");
    EXPECT_EQ(portPathFor("Com2:"), "/dev/ttyS1");
}

TEST(PortPath, OtherNamesArePaths) {
    ScopedVariable com1("VARDEL_COM1", "/tmp/not-this");
    for (const char* name : {"/dev/ttyUSB0", "Com:", "Com0:", "Com1x:", "Com1::", "Com+1:", "Com 1:", "LPT1:", "ttyS0"}) {
        EXPECT_EQ(portPathFor(name), name);
    }
}
