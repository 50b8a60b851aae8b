#pragma once

#include "resources/Version.h"

#include <string>
#include <vector>

namespace kelvane::batch {

inline constexpr const char *kProgramName = "kelvane-batch";
inline constexpr const char *kVersionLine = "kelvane-batch " KELVANE_VERSION;

// Exit statuses of the batch program.
inline constexpr int kExitClean = 0; // every matching file was placed, nothing reported
inline constexpr int kExitReported = 1; // the run reported something (conflicts, failures)
inline constexpr int kExitUsage = 2; // bad command line or unreadable settings file
inline constexpr int kExitStopped = 130; // a stop was requested (Ctrl+C, SIGTERM, SIGHUP)

struct BatchOptions
{
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    bool hasSettingsPath = false;
    std::string settingsPath; // --settings FILE
    bool quiet = false; // no progress output at all; messages still shown
    bool verbose = false; // one progress line per file instead of the bar
    bool verify = false; // read every output back from the storage after the run
    std::string error; // the complaint for UsageError, without the program name
};

// Parses the arguments after the program name. Never exits and never prints.
BatchOptions ParseArguments(const std::vector<std::string> &args);

// The text of --help.
std::string UsageText();

} // namespace kelvane::batch
