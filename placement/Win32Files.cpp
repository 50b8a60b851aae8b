// The placement layer's file operations on Windows. A Handle is a descriptor of io/Io.h
// (whose Win32 implementation holds the real HANDLE), so that the archive back end writes
// through the same calls on both platforms; a folder lock's Handle is its mutex. Paths are
// UTF-8 here and UTF-16 at the call.

#include "placement/NativeFiles.h"

#include "io/Io.h"
#include "io/Win32.h"

#include <cwchar>
#include <random>
#include <string>
#include <vector>

namespace kelvane::placement::native {

namespace {

int Fd(Handle handle)
{
    return static_cast<int>(handle);
}

HANDLE Native(Handle handle)
{
    return io::NativeHandle(Fd(handle));
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens a file for the cleanup: reading its lock, and removing it through the handle.
HANDLE OpenForCleanup(const std::string &path)
{
    return CreateFileW(io::WidePath(path).c_str(), GENERIC_READ | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The writer's lock: one byte far past any data, as io::Flock takes it.
bool TryLock(HANDLE file)
{
    OVERLAPPED at {};
    at.Offset = 0xFFFFFFFEU;
    at.OffsetHigh = 0x7FFFFFFFU;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// True when a live writer holds the temporary at path (one that cannot be opened is held
// by nobody).
bool IsHeld(const std::string &path)
{
    const HANDLE file = OpenForCleanup(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool held = !TryLock(file) && GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return held;
}

std::string OwnerOf(const std::string &name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= sizeof kTempPrefix - 1)
        return {};
    return name.substr(0, dot);
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
        if (owner.empty() || !IsHeld(paths::JoinPath(folder, owner))) {
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

std::error_code LastError()
{
    return std::error_code(errno, std::generic_category());
}

void RandomBytes(unsigned char *buffer, std::size_t size)
{
    std::random_device device; // the system's generator
    for (std::size_t i = 0; i < size; ++i)
        buffer[i] = static_cast<unsigned char>(device());
}

Handle CreateNew(const std::string &path)
{
    const int fd = io::Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    return fd < 0 ? kNoHandle : fd;
}

bool LockNew(Handle handle, const std::string &path)
{
    if (io::Flock(Fd(handle), LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK; // no locks on this file system: written unguarded
    struct stat held;
    struct stat named;
    return io::Fstat(Fd(handle), &held) == 0 && io::Lstat(path.c_str(), &named) == 0
        && SameFile(held, named);
}

bool WriteAll(Handle handle, const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = io::Write(Fd(handle), bytes, size);
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool WriteAllAt(Handle handle, const void *data, std::size_t size, std::uint64_t offset)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = io::PWrite(Fd(handle), bytes, size, static_cast<off_t>(offset));
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

bool Sync(Handle handle)
{
    return io::Fsync(Fd(handle)) == 0;
}

void Close(Handle handle)
{
    if (handle != kNoHandle)
        io::Close(Fd(handle));
}

Renamed RenameNoReplace(const std::string &from, const std::string &to)
{
    // MoveFileExW without replacing, which every Windows file system can do.
    return io::RenameNoReplace(from.c_str(), to.c_str()) == 0 ? Renamed::Done : Renamed::Failed;
}

bool RenameReplace(const std::string &from, const std::string &to)
{
    return io::Rename(from.c_str(), to.c_str()) == 0; // MOVEFILE_REPLACE_EXISTING
}

bool NameIsFree(const std::string &path)
{
    if (GetFileAttributesW(io::WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
        errno = EEXIST;
        return false;
    }
    const DWORD error = GetLastError();
    errno = io::ErrnoFromWin32(error);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
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

bool Remove(const std::string &path)
{
    return io::Unlink(path.c_str()) == 0;
}

bool SyncFolder(const std::string &)
{
    // Windows cannot flush a folder: its names are in the file system's journal, which
    // commits them by itself.
    return true;
}

FileIdentity Identity(const std::string &path)
{
    // The same numbers as io::Fstat gives an open file, so that the two compare.
    FileIdentity identity;
    struct stat status;
    if (io::Lstat(path.c_str(), &status) == 0) {
        identity.exists = true;
        identity.device = static_cast<unsigned long long>(status.st_dev);
        identity.inode = static_cast<unsigned long long>(status.st_ino);
    } else {
        // Something that cannot be opened at all (in use without sharing) still takes the
        // name.
        identity.exists = GetFileAttributesW(io::WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    return identity;
}

int RemoveLeftovers(const std::string &folder)
{
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

Handle OpenRegularForCopy(const std::string &path)
{
    const int fd = io::Open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return kNoHandle;
    struct stat status;
    if (io::Fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        io::Close(fd);
        errno = EINVAL;
        return kNoHandle;
    }
    return fd;
}

void CopyPermissions(Handle, Handle)
{
    // Nothing to carry over: a new file takes its folder's permissions, as on copy.
}

bool CopyData(Handle from, Handle to)
{
    std::vector<char> buffer(std::size_t {1} << 17);
    for (;;) {
        const ssize_t got = io::Read(Fd(from), buffer.data(), buffer.size());
        if (got == 0)
            return true;
        if (got < 0 || !WriteAll(to, buffer.data(), static_cast<std::size_t>(got)))
            return false;
    }
}

void CopyTimes(Handle from, Handle to)
{
    FILETIME created, accessed, written;
    if (GetFileTime(Native(from), &created, &accessed, &written))
        SetFileTime(Native(to), nullptr, &accessed, &written);
}

Standing Examine(std::string &path, std::error_code &reason)
{
    // A link at path is replaced as a file would be: MoveFileExW renames onto the link.
    const DWORD attributes = GetFileAttributesW(io::WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return Standing::Absent;
        reason = std::error_code(io::ErrnoFromWin32(error), std::generic_category());
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
    const DWORD attributes = GetFileAttributesW(io::WidePath(old).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    FILE_BASIC_INFO basic {};
    basic.FileAttributes = attributes
        & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
           | FILE_ATTRIBUTE_NORMAL);
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(Native(handle), FileBasicInfo, &basic, sizeof basic) != 0;
}

Handle OpenExistingForWriting(const std::string &path)
{
    const int fd = io::Open(path.c_str(), O_WRONLY | O_NOFOLLOW);
    if (fd < 0)
        return kNoHandle;
    struct stat status;
    if (io::Fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        io::Close(fd);
        errno = EINVAL;
        return kNoHandle;
    }
    return fd;
}

bool Truncate(Handle handle, std::uint64_t size)
{
    return io::Ftruncate(Fd(handle), static_cast<off_t>(size)) == 0;
}

// A byte-range lock on a folder handle is not known to hold on NTFS or on shares, so the
// lock is a named mutex keyed by the folder's identity (volume serial number and file
// index): every spelling of the folder (a drive letter, a mapped letter, a "\\?\" path)
// meets the same one, and two runs on this machine exclude each other. A mutex is held by
// a thread and may be taken again by it, so nested locks in one thread never wait.
Handle LockFolder(const std::string &folder)
{
    const HANDLE directory
        = CreateFileW(io::WidePath(folder).c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (directory == INVALID_HANDLE_VALUE)
        return kNoHandle;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(directory, &info) != 0;
    CloseHandle(directory);
    if (!known)
        return kNoHandle;
    wchar_t key[64];
    swprintf(key, sizeof key / sizeof key[0], L"kelvane-folder-%08lx-%08lx%08lx",
             info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
    // Every session's runs meet in the global namespace; where it is refused, this
    // session's runs still meet in their own.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, (std::wstring(L"Global\\") + key).c_str());
    if (mutex == nullptr)
        mutex = CreateMutexW(nullptr, FALSE, (std::wstring(L"Local\\") + key).c_str());
    if (mutex == nullptr)
        return kNoHandle;
    // A lock held far longer than a rename takes is not waited for: a deadline, not a
    // count of sleeps that the system's timer tick would stretch. A holder that ended
    // without releasing (WAIT_ABANDONED) leaves the lock to this run.
    constexpr DWORD kWaitMilliseconds = 2000; // about two seconds
    const DWORD waited = WaitForSingleObject(mutex, kWaitMilliseconds);
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
