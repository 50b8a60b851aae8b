#pragma once

#include <string>

// Temporary files (names beginning with kTempPrefix) and the leftovers of runs that were
// killed while writing one. A writer holds an exclusive lock (flock) on its temporary file
// from its creation until the file has its final name or is removed; a file with the
// prefix that nobody holds locked is a leftover.
namespace kelvane::platform {

// Takes the writer's lock on the new temporary file fd, created at path. False when the
// file is no longer at path (a cleanup took it between its creation and the lock): the
// caller then closes fd and makes another. On a file system without locks it is written
// unguarded (true).
bool LockTempFile(int fd, const std::string &path);

// Removes the leftovers in folder (one level): regular files whose names begin with
// kTempPrefix and that no live writer holds locked. A link, a folder or any other kind
// of entry is never touched, nor any name without the prefix. A temporary whose name is
// another temporary's name followed by an extension (".kelvane-tmp-x" and
// ".kelvane-tmp-x.zip") belongs to that one, and stays while that one is held.
// Returns how many files were removed.
int RemoveLeftoverTemps(const std::string &folder);

} // namespace kelvane::platform
