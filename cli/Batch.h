#pragma once

#include "cli/BatchOptions.h"
#include "cli/TerminalReport.h"

#include <ostream>
#include <string>
#include <vector>

namespace kelvane::batch {

// The progress output that suits the options and where standard error goes.
ProgressStyle ChooseStyle(const BatchOptions &options, bool errIsTerminal);

// A stop wins over reports, reports over a clean run.
int ExitStatusFor(const RunReport &report);

// Runs one job in the window and returns the exit status. A stop already requested in
// the window makes the run end before its first file. With verify, every output the run
// placed is read back and checked after it (VerifyOutputs); a failure there gives
// kExitReported, a stop kExitStopped.
int RunJob(TerminalReport &window, bool verify = false);

// The whole program after the program name: options, settings, the run, the exit status.
// With handleSignals, SIGINT, SIGTERM and SIGHUP are routed to the run's stop request.
int BatchMain(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
              bool errIsTerminal, bool handleSignals);

} // namespace kelvane::batch
