#pragma once

#include <string>
#include <string_view>
#include <vector>

// The file-system layer under the archive run: the few operations it needs, with the
// semantics of the classic window system mapped onto POSIX.
namespace kelvane::platform {

inline constexpr char kNativeSeparator = '/';

// True for the characters that separate levels in a folder setting: "/" and "\".
bool IsSeparator(char c);

// A folder setting in native form: every "\" becomes "/". A leading "/" stays.
std::string NativeFolder(std::string_view folder);

// folder, exactly one native separator, name. Separators at the end of folder are
// not doubled; a folder of "/" alone stays the root.
std::string JoinPath(std::string_view folder, std::string_view name);

struct DirEntry
{
    std::string name;   // bare name, no folder
    bool isDirectory;   // a link counts as what it points to
};

// True when name matches the mask: "*" any run (also empty), "?" exactly one character,
// "*.*" every name. Case-sensitive. Linear in the lengths, whatever the mask.
bool MatchMask(std::string_view mask, std::string_view name);

// One-level wildcard search of folder: entries whose names match mask, including "."
// and ".." when they match, directories and regular files (a link counts as what it
// points to); FIFOs, sockets, devices and dangling links are left out. Sorted in
// ascending unsigned byte order of name; a snapshot taken when the search starts.
// A folder that cannot be read gives an empty list.
std::vector<DirEntry> SearchFolder(std::string_view folder, std::string_view mask);

// Creates one directory level. False when it could not be created (also: it exists).
bool CreateDirectoryLevel(const std::string &path);

// Copies a regular file to `to`, never replacing anything there and never leaving a
// partial file at `to`: the copy is made under a temporary name in the same folder and
// linked into place only when complete. False on any failure (nothing left behind).
bool CopyFileNoReplace(const std::string &from, const std::string &to);

// True when the file can be opened for reading (it is closed again at once).
bool CanOpenForReading(const std::string &path);

} // namespace kelvane::platform
