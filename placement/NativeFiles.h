#pragma once

// What the placement layer does differently per platform, one implementation file per
// platform (PosixFiles.cpp, Win32Files.cpp): locks, the rename flavours, file identity,
// permissions and times, letter case, the cleanup's search. Everything else is written once
// in Placement.cpp over io/Io.h, whose descriptors are the Handles here on both platforms
// (but for a folder lock's). Not for use outside placement/.

#include "io/Io.h"
#include "placement/Placement.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace kelvane::placement::native {

using Handle = TempFile::NativeHandle;
inline constexpr Handle kNoHandle = -1;

// ---- Written once, in Placement.cpp ----

// The descriptor of io/Io.h that handle is.
inline int Fd(Handle handle)
{
    return static_cast<int>(handle);
}

inline bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The calling thread's last error, errno as io/Io.h left it. The portable code tests it
// against std::errc::file_exists (a name drawn twice), permission_denied and
// operation_not_permitted (a folder that refuses a new file).
std::error_code LastError();

// The temporary a temporary's name says it belongs to: the name without its extension,
// when that still has more than the prefix. Empty when it stands alone.
std::string OwnerOf(const std::string &name);

// True when a live writer holds the temporary `name` in dirFd (as io::OpenAt takes them):
// one that cannot be opened is held by nobody.
bool IsHeld(int dirFd, const std::string &name);

// ---- Per platform ----

// Fills buffer with unpredictable bytes (or, with no entropy yet, merely unique ones).
void RandomBytes(unsigned char *buffer, std::size_t size);

// Renames without replacing by the file system's own means. Unsupported (with nothing
// changed) where it has none, so that the caller falls back to its folder lock.
enum class Renamed { Done, Failed, Unsupported };
Renamed RenameNoReplace(const std::string &from, const std::string &to);
// name in upper case, as the platform folds letter case in names (FoldCase).
std::string UpperCase(std::string_view name);
bool SyncFolder(const std::string &folder);

int RemoveLeftovers(const std::string &folder);

// Gives a new copy the permissions of its source (before its data is written, so that
// the copy is never more open than its source).
void CopyPermissions(Handle from, Handle to);
// Gives a finished copy the modification time of its source.
void CopyTimes(Handle from, Handle to);

// What a save may do with the file that stands at path: following links, path becomes
// the final target. Absent (a new file will be made), Replaceable (a regular file that
// may be written), else the reason to leave it alone.
enum class Standing { Absent, Replaceable, Refused };
Standing Examine(std::string &path, std::error_code &reason);
// Gives the new file the permissions (and, where the process may, the owner) of the old.
bool KeepAttributes(Handle handle, const std::string &old);

// Folder locks for FolderLock. A lock held far longer than a rename takes is not waited
// for: LockFolder gives up after this long.
inline constexpr int kFolderLockWaitMilliseconds = 2000;
Handle LockFolder(const std::string &folder);
void UnlockFolder(Handle handle);
bool SyncHandle(Handle handle);

} // namespace kelvane::placement::native
