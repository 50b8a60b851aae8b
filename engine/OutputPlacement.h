#pragma once

// Putting a finished output at its name when another run may be writing to the same
// folder at the same time.

#include "placement/Placement.h"

#include <string>

namespace kelvane {

using placement::FileIdentity;
using placement::IdentityOf;

// "folder/name_2.ext" for n = 2: the alternative name put before the last extension.
std::string AlternativeName(const std::string &path, int n);

// How many alternative names PlaceFinishedFile tries before it gives up.
inline constexpr int kAlternativeNames = 999;

// Gives the finished file `from` (a private temporary name in the folder of `to`) the
// name `to`. It replaces the file there only when that is still `older`, the one found
// at the name when the run began; a file that appeared since (another run's output) is
// never replaced: the file then takes the first free name of AlternativeName(to, 2),
// AlternativeName(to, 3), ... Runs of this program place their files one at a time
// (an advisory lock on the folder), so the test and the rename act as one. Returns the
// path the file got; on failure an empty string, with `from` removed.
std::string PlaceFinishedFile(const std::string &from, const std::string &to,
                              const FileIdentity &older);

} // namespace kelvane
