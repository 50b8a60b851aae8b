#include "io/Io.h"

#include "io/IoTesting.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace kelvane::io {

namespace {

std::atomic<FaultHook *> g_hook {nullptr};

// 0 when the call may go ahead (always, unless a test installed a hook), else the errno
// it is to fail with.
inline int Injected(Call call, const char *path, int fd, int flags = 0,
                    const char *target = nullptr)
{
    FaultHook *hook = g_hook.load(std::memory_order_acquire);
    if (__builtin_expect(hook == nullptr, 1))
        return 0;
    return hook->Before(CallInfo {call, path, fd, flags, target});
}

template<typename Result>
Result Fail(int error, Result result)
{
    errno = error;
    return result;
}

} // namespace

const char *CallName(Call call)
{
    switch (call) {
    case Call::Open:
        return "open";
    case Call::Read:
        return "read";
    case Call::Write:
        return "write";
    case Call::CopyFileRange:
        return "copy_file_range";
    case Call::Ftruncate:
        return "ftruncate";
    case Call::Fsync:
        return "fsync";
    case Call::Close:
        return "close";
    case Call::Rename:
        return "rename";
    case Call::Link:
        return "link";
    case Call::Unlink:
        return "unlink";
    case Call::Mkdir:
        return "mkdir";
    case Call::Stat:
        return "stat";
    case Call::Flock:
        return "flock";
    case Call::OpenDir:
        return "opendir";
    case Call::ReadDir:
        return "readdir";
    case Call::CloseDir:
        return "closedir";
    }
    return "?";
}

bool ChangesStorage(const CallInfo &info)
{
    switch (info.call) {
    case Call::Open:
        return (info.flags & (O_CREAT | O_TRUNC)) != 0 || (info.flags & O_ACCMODE) != O_RDONLY;
    case Call::Write:
    case Call::CopyFileRange:
    case Call::Ftruncate:
    case Call::Fsync:
    case Call::Rename:
    case Call::Link:
    case Call::Unlink:
    case Call::Mkdir:
        return true;
    default:
        return false;
    }
}

void SetFaultHook(FaultHook *hook)
{
    g_hook.store(hook, std::memory_order_release);
}

int Open(const char *path, int flags, mode_t mode)
{
    if (const int error = Injected(Call::Open, path, -1, flags))
        return Fail(error, -1);
    return ::open(path, flags, mode);
}

int OpenAt(int dirFd, const char *path, int flags, mode_t mode)
{
    if (const int error = Injected(Call::Open, path, dirFd, flags))
        return Fail(error, -1);
    return ::openat(dirFd, path, flags, mode);
}

ssize_t Read(int fd, void *buffer, std::size_t size)
{
    if (const int error = Injected(Call::Read, nullptr, fd))
        return Fail<ssize_t>(error, -1);
    return ::read(fd, buffer, size);
}

ssize_t Write(int fd, const void *data, std::size_t size)
{
    if (const int error = Injected(Call::Write, nullptr, fd))
        return Fail<ssize_t>(error, -1);
    return ::write(fd, data, size);
}

ssize_t PWrite(int fd, const void *data, std::size_t size, off_t offset)
{
    if (const int error = Injected(Call::Write, nullptr, fd))
        return Fail<ssize_t>(error, -1);
    return ::pwrite(fd, data, size, offset);
}

ssize_t CopyFileRange(int in, int out, std::size_t size)
{
    if (const int error = Injected(Call::CopyFileRange, nullptr, out))
        return Fail<ssize_t>(error, -1);
    return ::copy_file_range(in, nullptr, out, nullptr, size, 0);
}

int Ftruncate(int fd, off_t length)
{
    if (const int error = Injected(Call::Ftruncate, nullptr, fd))
        return Fail(error, -1);
    return ::ftruncate(fd, length);
}

int Fsync(int fd)
{
    if (const int error = Injected(Call::Fsync, nullptr, fd))
        return Fail(error, -1);
    return ::fsync(fd);
}

int Close(int fd)
{
    const int error = Injected(Call::Close, nullptr, fd);
    const int result = ::close(fd); // a failed close still releases the descriptor
    return error ? Fail(error, -1) : result;
}

int Rename(const char *from, const char *to)
{
    if (const int error = Injected(Call::Rename, from, -1, 0, to))
        return Fail(error, -1);
    return ::rename(from, to);
}

int RenameNoReplace(const char *from, const char *to)
{
    if (const int error = Injected(Call::Rename, from, -1, kRenameNoReplace, to))
        return Fail(error, -1);
#ifdef SYS_renameat2
    return static_cast<int>(
        ::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
#else
    (void)to;
    return Fail(ENOSYS, -1);
#endif
}

int Link(const char *from, const char *to)
{
    if (const int error = Injected(Call::Link, from, -1, 0, to))
        return Fail(error, -1);
    return ::link(from, to);
}

int Unlink(const char *path)
{
    if (const int error = Injected(Call::Unlink, path, -1))
        return Fail(error, -1);
    return ::unlink(path);
}

int UnlinkAt(int dirFd, const char *name, int flags)
{
    if (const int error = Injected(Call::Unlink, name, dirFd))
        return Fail(error, -1);
    return ::unlinkat(dirFd, name, flags);
}

int Mkdir(const char *path, mode_t mode)
{
    if (const int error = Injected(Call::Mkdir, path, -1))
        return Fail(error, -1);
    return ::mkdir(path, mode);
}

int Stat(const char *path, struct stat *status)
{
    if (const int error = Injected(Call::Stat, path, -1))
        return Fail(error, -1);
    return ::stat(path, status);
}

int Lstat(const char *path, struct stat *status)
{
    if (const int error = Injected(Call::Stat, path, -1))
        return Fail(error, -1);
    return ::lstat(path, status);
}

int Fstat(int fd, struct stat *status)
{
    if (const int error = Injected(Call::Stat, nullptr, fd))
        return Fail(error, -1);
    return ::fstat(fd, status);
}

int FstatAt(int dirFd, const char *name, struct stat *status, int flags)
{
    if (const int error = Injected(Call::Stat, name, dirFd))
        return Fail(error, -1);
    return ::fstatat(dirFd, name, status, flags);
}

int Flock(int fd, int operation)
{
    if (const int error = Injected(Call::Flock, nullptr, fd))
        return Fail(error, -1);
    return ::flock(fd, operation);
}

DIR *OpenDir(const char *path)
{
    if (const int error = Injected(Call::OpenDir, path, -1))
        return Fail<DIR *>(error, nullptr);
    return ::opendir(path);
}

DIR *FdOpenDir(int fd)
{
    if (const int error = Injected(Call::OpenDir, nullptr, fd))
        return Fail<DIR *>(error, nullptr);
    return ::fdopendir(fd);
}

dirent *ReadDir(DIR *dir)
{
    if (const int error = Injected(Call::ReadDir, nullptr, ::dirfd(dir)))
        return Fail<dirent *>(error, nullptr);
    return ::readdir(dir);
}

int CloseDir(DIR *dir)
{
    const int error = Injected(Call::CloseDir, nullptr, ::dirfd(dir));
    const int result = ::closedir(dir); // released whatever it reports
    return error ? Fail(error, -1) : result;
}

} // namespace kelvane::io
