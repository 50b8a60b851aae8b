#pragma once

#include "paths/Paths.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Searching folders, making folder levels and asking after files: the few operations of
// the file system the archive run needs, with the semantics of the classic window system,
// over io/ (and on Windows the system's own folder search, FileSystemWin32.cpp). Paths are
// UTF-8, joined and split by paths/Paths.h; putting files in place is placement/.
namespace kelvane::folders {

struct DirEntry
{
    std::string name; // bare name, no folder
    bool isDirectory; // a link counts as what it points to
};

// True when name matches the mask: "*" any run (also empty), "?" exactly one character,
// "*.*" every name. Letter case counts (on Windows, ASCII letters fold, as names do there).
// An empty mask matches nothing. "?" takes one character: a well-formed UTF-8 sequence, or
// else a single byte. As on the classic system, a mask ending in ".*" also matches a name
// without any dot that the rest of the mask matches ("take1.*" matches "take1", "*.*"
// matches "README"); every other mask character, "." included, matches itself. No
// recursion: the time is at worst proportional to the product of the lengths, whatever the
// mask.
bool MatchMask(std::string_view mask, std::string_view name);

// One-level wildcard search of folder: entries whose names match mask, including "."
// and ".." when they match, directories and regular files (a link counts as what it
// points to); FIFOs, sockets, devices and dangling links are left out. Sorted in
// ascending unsigned byte order of name (POSIX, whose directory order is arbitrary); on
// Windows in the order the system's search reports them. A snapshot taken when the search
// starts.
// A folder that cannot be read gives an empty list. A link loop counts as dangling. An
// empty folder means the root "/", matching JoinPath (the classic "\*.*").
std::vector<DirEntry> SearchFolder(std::string_view folder, std::string_view mask);

// Creates one directory level. False when it could not be created (also: it exists).
bool CreateDirectoryLevel(const std::string &path);

// The size of the file (a link is followed); 0 when it cannot be found.
std::uint64_t FileSize(const std::string &path);

// True when the file can be opened for reading (it is closed again at once). Opens without
// waiting, so a FIFO answers at once; on POSIX a directory or a FIFO can be opened, so both
// count as present.
bool CanOpenForReading(const std::string &path);

} // namespace kelvane::folders
