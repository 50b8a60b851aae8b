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
