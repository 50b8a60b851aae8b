// The placement layer's file operations that are Windows' own (NativeFiles.h). A Handle is
// a descriptor of io/Io.h (whose Win32 implementation holds the real HANDLE); a folder
// lock's Handle is its mutex. Paths are UTF-8 here and UTF-16 at the call. The calls go
// through io/Io.h, so that tests can watch and fail them, but for the few said at the spot.

#include "placement/NativeFiles.h"

#include "io/Io.h"
#include "io/Win32.h"

#include <cwchar>
#include <random>
#include <string>
#include <vector>

namespace kelvane::placement::native {

namespace {

// The cleanup calls Win32 itself for the file it removes: it removes it through the very
// handle that holds its lock and checks the entry's kind on that handle, which io/Io.h has
// no calls for, and a failure there removes nothing, leaving the leftover to a later run.

// Opens a file for the cleanup: reading its lock, and removing it through the handle.
HANDLE OpenForCleanup(const std::string &path)
{
    return CreateFileW(io::WidePath(path).c_str(), GENERIC_READ | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The writer's lock, on the byte io::Flock takes.
bool TryLock(HANDLE file)
{
    OVERLAPPED at = io::FlockByte();
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Removes one candidate if it is a leftover: its lock is taken first, and the file is
// removed through the very handle that holds it, so a file that took the name since is
// never the one removed.
bool RemoveIfLeftover(const std::string &folder, const std::string &name)
{
    const HANDLE file = OpenForCleanup(paths::JoinPath(folder, name));
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool removed = false;
    if (GetFileInformationByHandle(file, &info)
        && !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        && TryLock(file)) {
        const std::string owner = OwnerOf(name);
        if (owner.empty() || !IsHeld(AT_FDCWD, paths::JoinPath(folder, owner))) {
            FILE_DISPOSITION_INFO disposition {TRUE};
            removed = SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                                 sizeof disposition)
                != 0;
        }
    }
    CloseHandle(file); // releases the lock; a removal takes effect here
    return removed;
}

} // namespace

void RandomBytes(unsigned char *buffer, std::size_t size)
{
    std::random_device device; // the system's generator
    for (std::size_t i = 0; i < size; ++i)
        buffer[i] = static_cast<unsigned char>(device());
}

Renamed RenameNoReplace(const std::string &from, const std::string &to)
{
    // MoveFileExW without replacing, which every Windows file system can do.
    return io::RenameNoReplace(from.c_str(), to.c_str()) == 0 ? Renamed::Done : Renamed::Failed;
}

std::string UpperCase(std::string_view name)
{
    // The system's own upper case without a language's rules, as NTFS's table folds names.
    const std::wstring wide = io::Wide(name);
    if (wide.empty())
        return std::string(name);
    std::wstring upper(wide.size(), L'\0');
    const int size = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                                   static_cast<int>(wide.size()), upper.data(),
                                   static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (size <= 0)
        return std::string(name);
    upper.resize(static_cast<std::size_t>(size));
    return io::Utf8(upper);
}

bool SyncFolder(const std::string &)
{
    // Windows cannot flush a folder: its names are in the file system's journal, which
    // commits them by itself.
    return true;
}

int RemoveLeftovers(const std::string &folder)
{
    // Windows' own search, as folders/FileSystemWin32.cpp lists folders (see above).
    WIN32_FIND_DATAW found;
    const std::string pattern = paths::JoinPath(folder, std::string(kTempPrefix) + "*");
    const HANDLE find = FindFirstFileExW(io::WidePath(pattern).c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    std::vector<std::string> candidates;
    do {
        std::string name = io::Utf8(found.cFileName);
        if (IsTempName(name)
            && !(found.dwFileAttributes
                 & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            candidates.push_back(std::move(name));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    int removed = 0;
    for (const std::string &name : candidates)
        removed += RemoveIfLeftover(folder, name) ? 1 : 0;
    return removed;
}

void CopyPermissions(Handle, Handle)
{
    // Nothing to carry over: a new file takes its folder's permissions, as on copy.
}

void CopyTimes(Handle from, Handle to)
{
    io::CopyTimes(Fd(from), Fd(to)); // a file system that cannot hold them still gets the data
}

Standing Examine(std::string &path, std::error_code &reason)
{
    // A link at path is replaced as a file would be: MoveFileExW renames onto the link.
    unsigned long attributes = 0;
    if (io::Attributes(path.c_str(), &attributes) != 0) {
        if (errno == ENOENT)
            return Standing::Absent;
        reason = LastError();
        return Standing::Refused;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        reason = std::make_error_code(std::errc::invalid_argument);
        return Standing::Refused;
    }
    // A file marked read-only stays as it is.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        reason = std::make_error_code(std::errc::permission_denied);
        return Standing::Refused;
    }
    return Standing::Replaceable;
}

bool KeepAttributes(Handle handle, const std::string &old)
{
    // Hidden, system and archive marks go to the new file; read-only ones were refused.
    unsigned long attributes = 0;
    if (io::Attributes(old.c_str(), &attributes) != 0)
        return false;
    attributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
        | FILE_ATTRIBUTE_NORMAL;
    return io::SetAttributes(Fd(handle), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL) == 0;
}

// A byte-range lock on a folder handle is not known to hold on NTFS or on shares, so the
// lock is a named mutex keyed by the folder's identity (its volume and file index, as
// io::Stat gives them): every spelling of the folder (a drive letter, a mapped letter, a
// "\\?\" path) meets the same one, and two runs on this machine exclude each other. A
// mutex is held by a thread and may be taken again by it, so nested locks in one thread
// never wait.
Handle LockFolder(const std::string &folder)
{
    struct stat status;
    if (io::Stat(folder.c_str(), &status) != 0)
        return kNoHandle;
    wchar_t key[64];
    swprintf(key, sizeof key / sizeof key[0], L"kelvane-folder-%08lx-%04lx",
             static_cast<unsigned long>(status.st_dev), static_cast<unsigned long>(status.st_ino));
    // Every session's runs meet in the global namespace; where it is refused, this
    // session's runs still meet in their own. The mutex is no file: a failure here is a
    // folder that cannot be locked, used without the lock.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, (std::wstring(L"Global\\") + key).c_str());
    if (mutex == nullptr)
        mutex = CreateMutexW(nullptr, FALSE, (std::wstring(L"Local\\") + key).c_str());
    if (mutex == nullptr)
        return kNoHandle;
    // A deadline, not a count of sleeps that the system's timer tick would stretch. A
    // holder that ended without releasing (WAIT_ABANDONED) leaves the lock to this run.
    const DWORD waited = WaitForSingleObject(mutex, kFolderLockWaitMilliseconds);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return kNoHandle;
    }
    return reinterpret_cast<Handle>(mutex);
}

void UnlockFolder(Handle handle)
{
    if (handle == kNoHandle)
        return;
    const HANDLE mutex = reinterpret_cast<HANDLE>(handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

bool SyncHandle(Handle handle)
{
    return handle != kNoHandle;
}

} // namespace kelvane::placement::native
