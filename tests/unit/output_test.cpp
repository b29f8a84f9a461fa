#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "cli/output.hpp"
#include "cli/process.hpp"

using namespace vardel;

namespace {

// A sink that records what reaches the system, one entry per hand-over.
struct RecordingSink {
    std::vector<std::string> writes;
    std::string errorOutput;
    int openCode = 0;
    int writeCode = 0;
    bool console = false;

    OutputSink sink() {
        OutputSink s;
        s.open = [this](bool& isConsole) {
            isConsole = console;
            return openCode;
        };
        s.write = [this](std::string_view bytes) {
            if (writeCode == 0) writes.emplace_back(bytes);
            return writeCode;
        };
        s.writeError = [this](std::string_view bytes) { errorOutput += bytes; };
        s.toAnsi = toAnsi;
        return s;
    }
    std::string all() const {
        std::string joined;
        for (const auto& w : writes) joined += w;
        return joined;
    }
};

int outputFailureCode(StandardOutput& out, std::string_view text) {
    try {
        printLine(out, text);
    } catch (const DriverFailure& failure) {
        EXPECT_EQ(failure.kind, FailureKind::Output);
        return failure.messageFormat == "Disque plein" ? 101 : -1;
    }
    return 0;
}

}  // namespace

TEST(PrintLine, ConsoleGetsEachLineAtOnce) {
    RecordingSink rec;
    rec.console = true;
    StandardOutput out;
    out.sink = rec.sink();
    printLine(out, "-777");
    ASSERT_EQ(rec.writes.size(), 1u);
    EXPECT_EQ(rec.writes[0], "-777\r\n");
    printLine(out, "");
    EXPECT_EQ(rec.writes.back(), "\r\n");
}

TEST(PrintLine, FileOrPipeCollectsUntilTheBufferIsFullOrTheEnd) {
    RecordingSink rec;
    StandardOutput out;
    out.sink = rec.sink();
    printLine(out, "12");
    EXPECT_TRUE(rec.writes.empty());
    EXPECT_EQ(flushOutput(out), 0);
    EXPECT_EQ(rec.all(), "12\r\n");

    RecordingSink longRec;
    StandardOutput longOut;
    longOut.sink = longRec.sink();
    const std::string text(300, 'x');
    printLine(longOut, text);
    ASSERT_EQ(longRec.writes.size(), 2u);
    EXPECT_EQ(longRec.writes[0].size(), 128u);
    EXPECT_EQ(flushOutput(longOut), 0);
    EXPECT_EQ(longRec.all(), text + "\r\n");
}

TEST(PrintLine, ARunThatWritesNothingNeverOpensTheStream) {
    RecordingSink rec;
    rec.openCode = 103;
    StandardOutput out;
    out.sink = rec.sink();
    EXPECT_EQ(flushOutput(out), 0);
    EXPECT_FALSE(out.opened);
}

TEST(PrintLine, FailuresAreFoundByTheCheckAfterTheLine) {
    RecordingSink console;
    console.console = true;
    console.writeCode = 101;
    StandardOutput out;
    out.sink = console.sink();
    EXPECT_EQ(outputFailureCode(out, "1"), 101);

    // On a file the short line waits in the buffer: the failure shows at the end.
    RecordingSink file;
    file.writeCode = 101;
    StandardOutput fileOut;
    fileOut.sink = file.sink();
    EXPECT_EQ(outputFailureCode(fileOut, "1"), 0);
    EXPECT_EQ(flushOutput(fileOut), 101);

    // A line longer than the buffer fills it, and the check after it fails.
    StandardOutput longOut;
    longOut.sink = file.sink();
    EXPECT_EQ(outputFailureCode(longOut, std::string(200, 'y')), 101);
}

TEST(PrintLine, NoStandardOutputIsCode103) {
    RecordingSink rec;
    rec.openCode = 103;
    StandardOutput out;
    out.sink = rec.sink();
    try {
        printLine(out, "1");
        FAIL();
    } catch (const DriverFailure& failure) {
        EXPECT_EQ(failure.messageFormat, "Erreur E/S 103");
    }
}


TEST(FailureReport, CutAfter1024CharactersThenTheLineEnd) {
    const DriverFailure failure{FailureKind::Conversion, "'%s' n'est pas une valeur en virgule flottante correcte",
                                std::string(1500, 'z'), 7};
    const std::string report = buildFailureReport(failure, "vardel1", toAnsi);
    EXPECT_EQ(report.size(), 1024u);

    RecordingSink rec;
    StandardOutput out;
    out.sink = rec.sink();
    EXPECT_EQ(reportFailure(out, failure, "vardel1"), 1);
    EXPECT_EQ(rec.all(), report + "\r\n");
}

TEST(FailureReport, OutputFailuresAreReportedOnTheErrorOutput) {
    RecordingSink rec;
    StandardOutput out;
    out.sink = rec.sink();
    const DriverFailure failure{FailureKind::Output, outputFailureMessage(101), {}, 9};
    EXPECT_EQ(reportFailure(out, failure, "vardel1"), 1);
    EXPECT_TRUE(rec.writes.empty());
    EXPECT_EQ(rec.errorOutput, buildFailureReport(failure, "vardel1", toAnsi) + "\r\n");
}

TEST(FailureReport, ReportThatCannotBeWrittenGoesToTheErrorOutput) {
    RecordingSink rec;
    rec.writeCode = 101;
    StandardOutput out;
    out.sink = rec.sink();
    const DriverFailure failure{FailureKind::InvalidOperation, "Opération en virgule flottante incorrecte", {}, 2};
    EXPECT_EQ(reportFailure(out, failure, "vardel1"), 1);
    EXPECT_NE(rec.errorOutput.find("EInvalidOp"), std::string::npos);
}

// The system's write errors, each on the code of the fault it names; every
// other one on 29, never its own number (EIO is 5, a denied access;
// ENETUNREACH 101, a full disk).
TEST(OutputFailureCodes, EachWriteErrorGivesTheCodeOfItsFault) {
    struct Case {
        int error;
        int code;
    };
    const Case cases[] = {
        {EACCES, 5},    {EPERM, 5},         {ENOSPC, 101},      {EDQUOT, 101},       {EFBIG, 101},
        {EBADF, 103},   {EPIPE, 109},       {ECONNRESET, 109},  {EIO, 29},           {EAGAIN, 29},
        {EINTR, 29},    {EDESTADDRREQ, 29}, {EFAULT, 29},       {EINVAL, 29},        {ENOBUFS, 29},
        {ENETDOWN, 29}, {ENETUNREACH, 29},  {ENOENT, 29},       {ESRCH, 29},         {0, 29},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outputFailureCodeFor(static_cast<std::uint32_t>(c.error)), c.code) << std::strerror(c.error);
    }
    // The table's own codes: 2 to 5 and 100 to 106 stand for one fault each,
    // and no other write error reaches them.
    for (int error = 1; error < 256; ++error) {
        const int code = outputFailureCodeFor(static_cast<std::uint32_t>(error));
        const bool named = error == EACCES || error == EPERM || error == ENOSPC || error == EDQUOT || error == EFBIG ||
                           error == EBADF;
        EXPECT_EQ((code >= 2 && code <= 5) || (code >= 100 && code <= 106), named) << std::strerror(error);
    }
    EXPECT_EQ(outputFailureMessage(29), "Erreur E/S 29");
}
