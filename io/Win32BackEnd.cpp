// The Win32 back end of io/Io.h: the POSIX-style calls made with Win32 (the hook is asked
// in Io.cpp), and the conversions at the system call (io/Win32.h).

#include "io/BackEnd.h"
#include "io/Win32.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvane::io {

namespace {

// Descriptors are indexes into this table, from 3 up (0 to 2 mean what they mean to the
// C runtime). Each keeps the path it was opened with, for the *at calls.
struct Slot
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;
    // Held while the file position is used: a write at an offset moves it and puts it back.
    std::shared_ptr<std::mutex> position;
};

std::mutex g_tableMutex;
std::vector<Slot> g_table;
constexpr int kFirstFd = 3;

int Adopt(HANDLE handle, std::string path)
{
    std::lock_guard<std::mutex> lock(g_tableMutex);
    for (std::size_t i = 0; i < g_table.size(); ++i) {
        if (g_table[i].handle == INVALID_HANDLE_VALUE) {
            g_table[i] = Slot {handle, std::move(path), std::make_shared<std::mutex>()};
            return static_cast<int>(i) + kFirstFd;
        }
    }
    g_table.push_back(Slot {handle, std::move(path), std::make_shared<std::mutex>()});
    return static_cast<int>(g_table.size() - 1) + kFirstFd;
}

bool Lookup(int fd, Slot &slot)
{
    std::lock_guard<std::mutex> lock(g_tableMutex);
    const long index = static_cast<long>(fd) - kFirstFd;
    if (index < 0 || static_cast<std::size_t>(index) >= g_table.size()
        || g_table[index].handle == INVALID_HANDLE_VALUE)
        return false;
    slot = g_table[index];
    return true;
}

template<typename Result>
Result FailWin32(Result result)
{
    errno = ErrnoFromWin32(GetLastError());
    return result;
}

HANDLE HandleOf(int fd)
{
    const HANDLE handle = NativeHandle(fd);
    if (handle == INVALID_HANDLE_VALUE)
        errno = EBADF;
    return handle;
}

std::string AtPath(int dirFd, const char *name)
{
    Slot slot;
    if (dirFd == AT_FDCWD || !Lookup(dirFd, slot))
        return name;
    std::string path = slot.path;
    if (!path.empty() && path.back() != '\\' && path.back() != '/')
        path += '\\';
    return path + name;
}

std::int64_t UnixTime(const FILETIME &time)
{
    const std::uint64_t ticks
        = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

// The stat of this C runtime has a 16-bit st_ino: the rest of the 64-bit file index is folded
// into st_dev beside the volume's serial number, so that equal (st_dev, st_ino) still means
// the same file.
void FillStat(const BY_HANDLE_FILE_INFORMATION &info, struct stat *status)
{
    *status = {};
    const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    status->st_mode = static_cast<unsigned short>((directory ? S_IFDIR | 0755 : S_IFREG | 0644)
                                                  & ~(readOnly ? 0222 : 0));
    const std::uint64_t index
        = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    status->st_ino = static_cast<_ino_t>(index & 0xFFFF);
    std::uint64_t mixed = (index >> 16) * 0x9E3779B97F4A7C15ULL;
    mixed ^= mixed >> 29;
    status->st_dev = static_cast<_dev_t>(info.dwVolumeSerialNumber ^ (mixed >> 32) ^ mixed);
    status->st_nlink = static_cast<short>(info.nNumberOfLinks);
    status->st_size = static_cast<off_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32)
                                         | info.nFileSizeLow);
    status->st_mtime = UnixTime(info.ftLastWriteTime);
    status->st_atime = UnixTime(info.ftLastAccessTime);
    status->st_ctime = UnixTime(info.ftCreationTime);
}

int StatHandle(HANDLE handle, struct stat *status)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return FailWin32(-1);
    FillStat(info, status);
    return 0;
}

int StatPath(const char *path, struct stat *status, bool follow)
{
    const std::wstring wide = WidePath(path);
    const HANDLE handle = CreateFileW(
        wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FailWin32(-1);
    const int result = StatHandle(handle, status);
    CloseHandle(handle);
    return result;
}

// Reads or writes at fd's file position: transfer(handle, want) with at most 1 GiB, under
// the descriptor's position lock.
template<typename Transfer>
ssize_t AtPosition(int fd, std::size_t size, Transfer transfer)
{
    Slot slot;
    if (!Lookup(fd, slot))
        return Fail<ssize_t>(EBADF, -1);
    std::lock_guard<std::mutex> lock(*slot.position);
    return transfer(slot.handle, static_cast<DWORD>(size < (1U << 30) ? size : (1U << 30)));
}

int Move(const char *from, const char *to, DWORD flags)
{
    if (!MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), flags))
        return FailWin32(-1);
    return 0;
}

} // namespace

std::wstring Wide(std::string_view text, UINT codePage)
{
    if (text.empty())
        return {};
    const int size
        = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            size);
    return wide;
}

std::string Utf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                            size, nullptr, nullptr);
    return utf8;
}

std::wstring WidePath(std::string_view path)
{
    std::wstring wide = Wide(path);
    for (wchar_t &c : wide)
        if (c == L'/')
            c = L'\\';
    // Room for the 8.3 name a folder must still take (CreateDirectoryW's limit is 248).
    constexpr std::size_t kClassicLimit = MAX_PATH - 12;
    if (wide.size() < kClassicLimit || wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    // The "\\?\" form takes the path as it stands: it must be absolute, without "." or "..".
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return wide;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_LOCK_VIOLATION:
        return EWOULDBLOCK;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOSYS;
    default:
        return EIO;
    }
}

HANDLE NativeHandle(int fd)
{
    Slot slot;
    return Lookup(fd, slot) ? slot.handle : INVALID_HANDLE_VALUE;
}

std::string PathOf(int fd)
{
    Slot slot;
    return Lookup(fd, slot) ? slot.path : std::string();
}

namespace backend {

int Open(const char *path, int flags, mode_t mode)
{
    DWORD access = 0;
    switch (flags & O_ACCMODE) {
    case O_WRONLY:
        access = GENERIC_WRITE;
        break;
    case O_RDWR:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    default:
        access = GENERIC_READ;
    }
    if (flags & O_APPEND) // every write at the end, as O_APPEND does
        access = (access & GENERIC_READ) | FILE_APPEND_DATA | SYNCHRONIZE;
    DWORD disposition = OPEN_EXISTING;
    if ((flags & O_CREAT) && (flags & O_EXCL))
        disposition = CREATE_NEW;
    else if ((flags & O_CREAT) && (flags & O_TRUNC))
        disposition = CREATE_ALWAYS;
    else if (flags & O_CREAT)
        disposition = OPEN_ALWAYS;
    else if (flags & O_TRUNC)
        disposition = TRUNCATE_EXISTING;
    // Others may read and may rename or remove the name (a cleanup or our own commit); a
    // file made here to be written is not written by anyone else meanwhile.
    DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    if (disposition != CREATE_NEW || (flags & O_ACCMODE) == O_RDONLY)
        share |= FILE_SHARE_WRITE;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if ((flags & O_CREAT) && !(mode & 0222))
        attributes = FILE_ATTRIBUTE_READONLY;
    // Folders open only with backup semantics: a folder opens for reading, as on POSIX.
    if ((flags & O_DIRECTORY) || (flags & O_ACCMODE) == O_RDONLY)
        attributes |= FILE_FLAG_BACKUP_SEMANTICS;
    if (flags & O_NOFOLLOW)
        attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
    if (flags & O_DIRECT)
        attributes |= FILE_FLAG_NO_BUFFERING;
    const std::wstring wide = WidePath(path);
    const HANDLE handle
        = CreateFileW(wide.c_str(), access, share, nullptr, disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FailWin32(-1);
    if (flags & O_DIRECTORY) {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(handle, &info)
            || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            CloseHandle(handle);
            return Fail(ENOTDIR, -1);
        }
    }
    return Adopt(handle, path);
}

int OpenAt(int dirFd, const char *path, int flags, mode_t mode)
{
    return Open(AtPath(dirFd, path).c_str(), flags, mode);
}

ssize_t Read(int fd, void *buffer, std::size_t size)
{
    // Under the position lock, as a write: a PWrite on another thread moves the position for
    // a moment, and a read meanwhile would start there.
    return AtPosition(fd, size, [buffer](HANDLE handle, DWORD want) -> ssize_t {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, want, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF)
                return 0;
            return FailWin32<ssize_t>(-1);
        }
        return static_cast<ssize_t>(got);
    });
}

ssize_t Write(int fd, const void *data, std::size_t size)
{
    return AtPosition(fd, size, [data](HANDLE handle, DWORD want) -> ssize_t {
        DWORD written = 0;
        if (!WriteFile(handle, data, want, &written, nullptr))
            return FailWin32<ssize_t>(-1);
        return static_cast<ssize_t>(written);
    });
}

// ReadFile and WriteFile at an offset move a synchronous handle's position as well: it is
// put back, as pread and pwrite leave it, under the descriptor's position lock, so that reads
// and writes on other threads neither see nor keep the moved position. transfer(handle,
// want, at, done) is the one call; false with the Win32 error set.
template<typename Transfer>
ssize_t AtOffset(int fd, std::size_t size, off_t offset, Transfer transfer)
{
    return AtPosition(fd, size, [offset, transfer](HANDLE handle, DWORD want) -> ssize_t {
        LARGE_INTEGER position {};
        if (!SetFilePointerEx(handle, LARGE_INTEGER {}, &position, FILE_CURRENT))
            return FailWin32<ssize_t>(-1);
        OVERLAPPED at {};
        at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFU);
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
        DWORD done = 0;
        const bool made = transfer(handle, want, &at, &done);
        const DWORD error = GetLastError();
        if (!SetFilePointerEx(handle, position, nullptr, FILE_BEGIN))
            return FailWin32<ssize_t>(-1); // the data moved, but later calls would go astray
        if (!made && error == ERROR_HANDLE_EOF)
            return 0; // a read from the end on
        if (!made) {
            SetLastError(error);
            return FailWin32<ssize_t>(-1);
        }
        return static_cast<ssize_t>(done);
    });
}

ssize_t PWrite(int fd, const void *data, std::size_t size, off_t offset)
{
    return AtOffset(fd, size, offset,
                    [data](HANDLE handle, DWORD want, OVERLAPPED *at, DWORD *done) {
                        return WriteFile(handle, data, want, done, at) != 0;
                    });
}

ssize_t PRead(int fd, void *buffer, std::size_t size, off_t offset)
{
    return AtOffset(fd, size, offset,
                    [buffer](HANDLE handle, DWORD want, OVERLAPPED *at, DWORD *done) {
                        return ReadFile(handle, buffer, want, done, at) != 0;
                    });
}

int ClearNonBlock(int fd)
{
    return HandleOf(fd) == INVALID_HANDLE_VALUE ? -1 : 0; // no such mode to leave
}

ssize_t CopyFileRange(int, int, std::size_t)
{
    return Fail<ssize_t>(ENOSYS, -1); // callers fall back to reading and writing
}

int Ftruncate(int fd, off_t length)
{
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    FILE_END_OF_FILE_INFO end {};
    end.EndOfFile.QuadPart = length;
    if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end))
        return FailWin32(-1);
    return 0;
}

int Fsync(int fd)
{
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)
        && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0; // a folder's names are the file system's journal to keep
    if (!FlushFileBuffers(handle))
        return FailWin32(-1);
    return 0;
}

int Close(int fd)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        const long index = static_cast<long>(fd) - kFirstFd;
        if (index >= 0 && static_cast<std::size_t>(index) < g_table.size()) {
            handle = g_table[index].handle;
            g_table[index] = Slot {};
        }
    }
    if (handle == INVALID_HANDLE_VALUE)
        return Fail(EBADF, -1);
    if (!CloseHandle(handle))
        return FailWin32(-1);
    return 0;
}

int Rename(const char *from, const char *to)
{
    return Move(from, to, MOVEFILE_REPLACE_EXISTING);
}

int RenameNoReplace(const char *from, const char *to)
{
    return Move(from, to, 0); // without MOVEFILE_REPLACE_EXISTING a taken name fails
}

int Link(const char *from, const char *to)
{
    if (!CreateHardLinkW(WidePath(to).c_str(), WidePath(from).c_str(), nullptr))
        return FailWin32(-1);
    return 0;
}

int Unlink(const char *path)
{
    if (!DeleteFileW(WidePath(path).c_str()))
        return FailWin32(-1);
    return 0;
}

int UnlinkAt(int dirFd, const char *name, int)
{
    return Unlink(AtPath(dirFd, name).c_str());
}

int Mkdir(const char *path, mode_t)
{
    if (!CreateDirectoryW(WidePath(path).c_str(), nullptr))
        return FailWin32(-1);
    return 0;
}

int Stat(const char *path, struct stat *status)
{
    return StatPath(path, status, true);
}

int Lstat(const char *path, struct stat *status)
{
    return StatPath(path, status, false);
}

int Fstat(int fd, struct stat *status)
{
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    return StatHandle(handle, status);
}

int FstatAt(int dirFd, const char *name, struct stat *status, int flags)
{
    return StatPath(AtPath(dirFd, name).c_str(), status, !(flags & AT_SYMLINK_NOFOLLOW));
}

// A lock on one byte far past any data: it keeps other lockers out (as flock does, one
// holder per open file) and never stands in the way of reading or writing the data.
int Flock(int fd, int operation)
{
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    OVERLAPPED at = FlockByte();
    if (operation & LOCK_UN) {
        if (!UnlockFileEx(handle, 0, 1, 0, &at))
            return FailWin32(-1);
        return 0;
    }
    DWORD lockFlags = (operation & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (operation & LOCK_NB)
        lockFlags |= LOCKFILE_FAIL_IMMEDIATELY;
    if (!LockFileEx(handle, lockFlags, 0, 1, 0, &at))
        return FailWin32(-1);
    return 0;
}

int Attributes(const char *path, unsigned long *attributes)
{
    const DWORD found = GetFileAttributesW(WidePath(path).c_str());
    if (found == INVALID_FILE_ATTRIBUTES)
        return FailWin32(-1);
    *attributes = found;
    return 0;
}

int SetAttributes(int fd, unsigned long attributes)
{
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    FILE_BASIC_INFO basic {}; // times of zero are left as they are
    basic.FileAttributes = attributes;
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic))
        return FailWin32(-1);
    return 0;
}

int CopyTimes(int from, int to)
{
    const HANDLE source = HandleOf(from);
    const HANDLE target = HandleOf(to);
    if (source == INVALID_HANDLE_VALUE || target == INVALID_HANDLE_VALUE)
        return -1;
    FILETIME created, accessed, written;
    if (!GetFileTime(source, &created, &accessed, &written)
        || !SetFileTime(target, nullptr, &accessed, &written))
        return FailWin32(-1);
    return 0;
}

} // namespace backend
} // namespace kelvane::io
