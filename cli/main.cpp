// Entry point of vardel1 and vardel3; the build sets VARDEL_PORT_NUMBER.

#include "cli/dispatcher.hpp"
#include "cli/process.hpp"

#include <cstdlib>

#ifndef VARDEL_PORT_NUMBER
#error "VARDEL_PORT_NUMBER must name the program's serial port (1 or 3)"
#endif

int main(int argc, char** argv) {
    using namespace vardel;
    const bool stdoutWasOpen = prepareProcess();
    DriverRecords records;
    records.separator = queryDecimalSeparator();
    records.out.sink = platformOutputSink(!stdoutWasOpen);
    records.trace = openTrace(std::getenv("VARDEL_TRACE"), tickCount());
    records.link.trace = &records.trace;
    // The records give the port back when they go, after the last byte of output.
    return runDriver(records, buildConstantsFor(VARDEL_PORT_NUMBER), commandLineArguments(argc, argv),
                     programFileName(argv));
}
