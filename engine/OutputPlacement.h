#pragma once

// Putting a finished output at its name when another run may be writing to the same
// folder at the same time.

#include <string>

namespace kelvane {

// Which file a name stood for at some moment, so that an older file can be told from one
// put there since. Directories and links count as files here: any entry takes the name.
struct FileIdentity
{
    bool exists = false;
    unsigned long long device = 0;
    unsigned long long inode = 0;

    bool operator==(const FileIdentity &other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

// The entry at path now (the link itself, not what it points to).
FileIdentity IdentityOf(const std::string &path);

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
