#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The file-system layer under the archive run: the few operations it needs, with the
// semantics of the classic window system mapped onto POSIX.
namespace kelvane::platform {

#ifdef _WIN32
inline constexpr char kNativeSeparator = '\\';
#else
inline constexpr char kNativeSeparator = '/';
#endif

// Name prefix of every temporary file the program makes beside a file it is about to put
// in place (copies, archives, the settings file), so that leftovers are recognisable.
inline constexpr char kTempPrefix[] = ".kelvane-tmp-";

// True for the characters that separate levels in a folder setting: "/" and "\".
bool IsSeparator(char c);

// A folder setting in native form: every "\" becomes "/". A leading "/" stays.
std::string NativeFolder(std::string_view folder);

// folder, exactly one native separator, name. Separators ("/" or "\") at the end of
// folder are dropped first, so a folder of "/" alone stays the root. An empty folder gives
// "/" + name: the root, as "\name" is on the classic system.
std::string JoinPath(std::string_view folder, std::string_view name);

struct DirEntry
{
    std::string name; // bare name, no folder
    bool isDirectory; // a link counts as what it points to
};

// True when name matches the mask: "*" any run (also empty), "?" exactly one character,
// "*.*" every name. Case-sensitive. An empty mask matches nothing. "?" takes one
// character: a well-formed UTF-8 sequence, or else a single byte. As on the classic
// system, a mask ending in ".*" also matches a name without any dot that the rest of the
// mask matches ("take1.*" matches "take1", "*.*" matches "README"); every other mask
// character, "." included, matches itself. No recursion: the time is at worst proportional to the
// product of the lengths (backtracking only to the last star), whatever the mask.
bool MatchMask(std::string_view mask, std::string_view name);

// One-level wildcard search of folder: entries whose names match mask, including "."
// and ".." when they match, directories and regular files (a link counts as what it
// points to); FIFOs, sockets, devices and dangling links are left out. Sorted in
// ascending unsigned byte order of name; a snapshot taken when the search starts.
// A folder that cannot be read gives an empty list. A link loop counts as dangling. An
// empty folder means the root "/", matching JoinPath (the classic "\*.*").
std::vector<DirEntry> SearchFolder(std::string_view folder, std::string_view mask);

// Creates one directory level. False when it could not be created (also: it exists).
bool CreateDirectoryLevel(const std::string &path);

// Copies a regular file to `to`, never replacing anything there and never leaving a
// partial file at `to`: the copy is made under a temporary name in the same folder and
// linked into place only when complete. False on any failure (nothing left behind).
// Only a regular file (a link is followed) is copied; a FIFO or device is refused without
// waiting. The copy keeps the source's permission bits and times where the file system
// of `to` can hold them.
bool CopyFileNoReplace(const std::string &from, const std::string &to);

// The size of the file (a link is followed); 0 when it cannot be found.
std::uint64_t FileSize(const std::string &path);

// Syncs the folder itself, so that the names made in it survive a power loss. A failure
// loses nothing already written.
void SyncFolder(const std::string &folder);

// True when the file can be opened for reading (it is closed again at once). Opens without
// waiting, so a FIFO answers at once; on POSIX a directory or a FIFO can be opened, so both
// count as present.
bool CanOpenForReading(const std::string &path);

// Creates and opens (write only, mode 0600, close-on-exec) a new file with a unique name
// beginning with kTempPrefix in the folder of `beside`, and stores its path in tempPath.
// Returns the descriptor, or -1 with tempPath cleared.
int OpenTempFileBeside(const std::string &beside, std::string &tempPath);

// Gives the file `from` the name `to` only if nothing exists at `to`; never replaces.
// Atomic where the file system supports it, else a hard link followed by removing `from`.
// False on failure, with `from` left as it was.
bool RenameNoReplace(const std::string &from, const std::string &to);

} // namespace kelvane::platform
