#pragma once

// The few file operations the placement layer needs from the platform, one implementation
// file per platform (PosixFiles.cpp, Win32Files.cpp). Placement.cpp holds what is the same
// everywhere: names, paths, UTF-8, case folding's probe and the order of the steps. Not for
// use outside placement/.

#include "placement/Placement.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace kelvane::placement::native {

using Handle = TempFile::NativeHandle;
inline constexpr Handle kNoHandle = -1;

// The calling thread's last error, as the failing call left it. The portable code tests it
// against std::errc::file_exists (a name drawn twice), permission_denied and
// operation_not_permitted (a folder that refuses a new file): an implementation whose own
// error numbers do not compare equal to those conditions returns the generic ones.
std::error_code LastError();

// Fills buffer with unpredictable bytes (or, with no entropy yet, merely unique ones).
void RandomBytes(unsigned char *buffer, std::size_t size);

// Creates a new file at path that must not exist yet, open for reading and writing.
// kNoHandle on failure; an existing name fails with std::errc::file_exists.
Handle CreateNew(const std::string &path);
// Takes the writer's lock on a new temporary at path. False when the file is no longer
// the one at path (a cleanup took it before the lock): the caller removes and retries.
bool LockNew(Handle handle, const std::string &path);
bool WriteAll(Handle handle, const void *data, std::size_t size);
bool WriteAllAt(Handle handle, const void *data, std::size_t size, std::uint64_t offset);
bool Sync(Handle handle);
void Close(Handle handle);

// Renames without replacing by the file system's own means. Unsupported (with nothing
// changed) where it has none, so that the caller falls back to its folder lock.
enum class Renamed { Done, Failed, Unsupported };
Renamed RenameNoReplace(const std::string &from, const std::string &to);
bool RenameReplace(const std::string &from, const std::string &to);
// True when nothing at all stands at path (a link, a folder or a file of another kind
// takes the name). False otherwise, with the last error file_exists when something
// stands there, or the reason the name could not be looked up.
bool NameIsFree(const std::string &path);
// name in upper case, as the platform folds letter case in names (FoldCase).
std::string UpperCase(std::string_view name);
bool Remove(const std::string &path);
bool SyncFolder(const std::string &folder);
FileIdentity Identity(const std::string &path);

int RemoveLeftovers(const std::string &folder);

// The source of a copy: opened without waiting, refused unless a regular file.
Handle OpenRegularForCopy(const std::string &path);
// Gives a new copy the permissions of its source (before its data is written, so that
// the copy is never more open than its source).
void CopyPermissions(Handle from, Handle to);
// Copies from the source's current position to its end.
bool CopyData(Handle from, Handle to);
// Gives a finished copy the modification time of its source.
void CopyTimes(Handle from, Handle to);

// What a save may do with the file that stands at path: following links, path becomes
// the final target. Absent (a new file will be made), Replaceable (a regular file that
// may be written), else the reason to leave it alone.
enum class Standing { Absent, Replaceable, Refused };
Standing Examine(std::string &path, std::error_code &reason);
// Gives the new file the permissions (and, where the process may, the owner) of the old.
bool KeepAttributes(Handle handle, const std::string &old);
// Opens an existing file for writing without cutting it, and makes it exactly size long
// after data is written: the in-place save.
Handle OpenExistingForWriting(const std::string &path);
bool Truncate(Handle handle, std::uint64_t size);

// Folder locks for FolderLock.
Handle LockFolder(const std::string &folder);
void UnlockFolder(Handle handle);
bool SyncHandle(Handle handle);

} // namespace kelvane::placement::native
