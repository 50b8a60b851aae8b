#include "cli/StopSignals.h"

#include <csignal>

#include <windows.h>

namespace kelvane::batch {

namespace {

// Runs on a thread of its own that the system starts for the event. Ctrl+C and Ctrl+Break
// ask the run to stop and keep the process alive; closing the console, logging off and
// shutting down are left to the system, which ends the process whatever a handler says.
BOOL WINAPI HandleConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        HandleStopSignal(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        HandleStopSignal(SIGBREAK);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool InstallStopSignals()
{
    // A process started with Ctrl+C ignored (start /b from a script) keeps ignoring it,
    // as a signal ignored from the start stays ignored on POSIX; Ctrl+Break still works.
    return SetConsoleCtrlHandler(HandleConsoleControl, TRUE) != 0;
}

} // namespace kelvane::batch
