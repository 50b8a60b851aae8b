#pragma once

// How stored names are made: what goes into the archive is always a relative path with
// "/" between levels that cannot climb out of the folder it is extracted to.

#include <string>
#include <vector>

namespace tamsorel {

// Splits at every "/" and "\"; drops a leading drive ("C:"), the root and every empty,
// "." and ".." level.
// True when text begins with a drive: a letter and a colon.
bool StartsWithDrive(const std::string &text);

std::vector<std::string> CleanLevels(const std::string &path);

// The name to store for the file at diskPath: entryName (or diskPath itself when
// entryName is null) cleaned and joined with "/"; when that leaves nothing, the bare
// name of diskPath. Empty when there is no usable name at all.
std::string StoredName(const char *diskPath, const char *entryName);

// True for a well-formed UTF-8 string that holds at least one non-ASCII character: only
// such names get the UTF-8 flag, other bytes are stored as they are with the flag clear.
bool NeedsUtf8Flag(const std::string &name);

} // namespace tamsorel
