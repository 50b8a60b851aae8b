#pragma once

// Which name a finished output takes when another run may be writing to the same folder
// at the same time: the run's policy (replace the file found at the start, else take an
// alternative name, or drop). The placing itself is placement/'s.

#include "placement/Placement.h"

#include <string>

namespace kelvane {

using placement::FileIdentity;
using placement::IdentityOf;

// "folder/name_2.ext" for n = 2: the alternative name put before the last extension.
std::string AlternativeName(const std::string &path, int n);

// How many alternative names PlaceFinishedFile tries before it gives up.
inline constexpr int kAlternativeNames = 999;

// What a finished file may take the place of at its name.
enum class Replacing {
    // The file found at the name when the run began, and nothing else: a file that appeared
    // since (another run's output) is never replaced; the finished file then takes the first
    // free name of AlternativeName(to, 2), AlternativeName(to, 3), ...
    Older,
    // Whatever stands at the name.
    Anything,
    // Nothing: where the name is taken, the finished file is dropped.
    Nothing,
};

// Gives the finished file `from` (a private temporary name in the folder of `to`) the
// name `to`, replacing what stands there only as `replacing` allows (`older` is the file
// found at the name when the run began). Runs of this program place their files one at a
// time (an advisory lock on the folder), so the test and the rename act as one. Returns
// the path the file got; an empty string, with `from` removed, when it was dropped or
// could not be placed.
std::string PlaceFinishedFile(const std::string &from, const std::string &to,
                              const FileIdentity &older, Replacing replacing = Replacing::Older);

} // namespace kelvane
