#pragma once

// The target folder's levels, made at the start of a run, and the run's time stamp.

#include "engine/RunWindow.h"

#include <cstddef>
#include <ctime>
#include <string>

namespace kelvane {

// Creates every missing level of the target path; shows its own message on failure.
// Both "/" and "\" separate levels; leading separators are kept ("/" for an absolute
// path, "//" for a network path), and levels are made only below TargetRootLength.
// Returns the level that could neither be made nor found, empty when every level is there.
std::string CreateTargetPath(RunWindow &window, const std::string &targetPath);

// How many bytes at the start of a target path name a place that is never made nor
// searched, below which levels are made. On Windows: a drive ("E:" of "E:\Archive"), the
// share of a network path ("\\server\share", "\\?\UNC\server\share") and the volume of a
// "\\?\" or "\\.\" path ("\\?\C:"); 0 for every other path. On POSIX always 0:
// "//server/share" is a path like any other there.
std::size_t TargetRootLength(const std::string &targetPath);

// "_%Y%m%d_%H%M%S" in local time, now or at the given time.
std::string MakeRunStamp();
std::string MakeRunStamp(std::time_t when);

} // namespace kelvane
