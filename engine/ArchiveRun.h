#pragma once

// The archive run's entry points. What they use lives beside them: RunReport.h (what a
// run did), RunNames.h (its names and paths), RunMessages.h (what it tells the user),
// TargetFolders.h (the target's levels and the run stamp).

#include "engine/RunReport.h"
#include "engine/RunWindow.h"
#include "settings/JobSettings.h"

#include <string>

namespace kelvane {

// The worker procedure of one run, filling report as it goes.
void ArchiveRun(RunWindow &window, RunReport &report);
// The same, for a window that needs no report.
void ArchiveRun(RunWindow &window);

// Counts the files that the search of folder (native form) with mask reports: not "."
// and "..", not folders, not temporaries (names beginning with placement::kTempPrefix,
// which another run may still be writing). Sets the progress range to 0..count (clamped
// to INT_MAX) with step 1. Returns the count at full width; 0 after telling the user when
// the folder exists but cannot be read to its end.
long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask,
                             RunReport &report);
// The same, for a caller that wants the count only.
long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask);

// The run proper, with the settings and the stamp the run fixed at its start.
void ProcessFiles(RunWindow &window, const JobSettings &settings, const std::string &runStamp,
                  RunReport &report);

// Puts the window back into its idle state after any run.
void ResetAfterRun(RunWindow &window);

} // namespace kelvane
