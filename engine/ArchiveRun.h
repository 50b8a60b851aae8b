#pragma once

#include "engine/RunWindow.h"
#include "settings/JobSettings.h"

#include <string>

namespace kelvane {

// The worker procedure of one run. Always returns 0.
int ArchiveRun(RunWindow &window);

// Counts the files (not "." / "..", not folders) that the search of folder with mask
// reports, and sets the progress range to 0..count with step 1.
long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask);

// The run proper. Always returns 0.
int ProcessFiles(RunWindow &window, const JobSettings &settings, const std::string &runStamp);

// Puts the window back into its idle state after any run.
void ResetAfterRun(RunWindow &window);

// Creates every missing level of the target path; shows its own message on failure.
void CreateTargetPath(RunWindow &window, const std::string &targetPath);

// "_%Y%m%d_%H%M%S" in local time, now.
std::string MakeRunStamp();

} // namespace kelvane
