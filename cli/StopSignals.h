#pragma once

#include <atomic>

namespace kelvane::batch {

// SIGINT, SIGTERM and SIGHUP ask the run to stop: the handler sets the flag given here
// and writes a short notice to the notice descriptor. Neither a first nor a later signal
// ends the process, since killing it mid-file would leave a half-written file; the run
// stops by itself after the file in hand. A null flag (no run) is allowed.
void SetStopTarget(std::atomic<bool> *flag);

// Where the handler writes its notice (standard error unless told otherwise), and
// whether a line end goes first because a progress bar may hold the line.
void SetStopNoticeFd(int fd, bool afterBar);

// On Windows: Ctrl+C and Ctrl+Break ask for the stop, through a console control handler.
// Installs the handler for SIGINT, SIGTERM and SIGHUP (restarting interrupted system
// calls), except for those that are ignored already (nohup), and ignores SIGPIPE, so that
// a closed standard error cannot kill a run either.
// Returns false if any of them could not be installed.
bool InstallStopSignals();

// The handler itself; async-signal-safe.
extern "C" void HandleStopSignal(int signal);

} // namespace kelvane::batch
