// The fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT): their handler writes a report
// into the report file and lets the signal end the program as it would have without the handler.
//
// The handler uses async-signal-safe means only: system calls, text formatted into buffers that
// were set aside when it was installed, and a disassembler whose memory comes from such a
// buffer. Everything that does not change while the program runs (header lines, the hardware
// list, the file names) is prepared at installation.
#pragma once

#include "crashreport/Report.h"

namespace pairsweep::crashreport {

void InstallFatalSignalHandlers(const TProgramInfo& program);

// After this, a fatal signal ends the program without a report of its own: for abort() called
// once the error has been reported already.
void SuppressFatalSignalReport();

}  // namespace pairsweep::crashreport
