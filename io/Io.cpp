// The front of io/Io.h, the same on every platform: each call asks the test hook, then
// lets the platform's back end make it.

#include "io/BackEnd.h"
#include "io/IoTesting.h"

#include <atomic>
#include <iterator>

#include <fcntl.h>

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

} // namespace

const char *CallName(Call call)
{
    // In the order of Call.
    static constexpr const char *kNames[] = {
        "open",   "read",     "write",     "copy_file_range", "ftruncate", "fsync",
        "close",  "rename",   "link",      "unlink",          "mkdir",     "stat",
        "flock",  "opendir",  "readdir",   "closedir",        "readlink",  "dup",
        "fchmod", "futimens", "faccessat", "fchown",          "fcntl",
    };
    static_assert(std::size(kNames) == static_cast<std::size_t>(Call::SetFlags) + 1);
    const auto index = static_cast<std::size_t>(call);
    return index < std::size(kNames) ? kNames[index] : "?";
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
    case Call::Chmod:
    case Call::SetTimes:
    case Call::Chown:
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
    return backend::Open(path, flags, mode);
}

int OpenAt(int dirFd, const char *path, int flags, mode_t mode)
{
    if (const int error = Injected(Call::Open, path, dirFd, flags))
        return Fail(error, -1);
    return backend::OpenAt(dirFd, path, flags, mode);
}

ssize_t Read(int fd, void *buffer, std::size_t size)
{
    if (const int error = Injected(Call::Read, nullptr, fd))
        return Fail<ssize_t>(error, -1);
    return backend::Read(fd, buffer, size);
}

ssize_t Write(int fd, const void *data, std::size_t size)
{
    if (const int error = Injected(Call::Write, nullptr, fd))
        return Fail<ssize_t>(error, -1);
    return backend::Write(fd, data, size);
}

ssize_t PWrite(int fd, const void *data, std::size_t size, off_t offset)
{
    if (const int error = Injected(Call::Write, nullptr, fd))
        return Fail<ssize_t>(error, -1);
    return backend::PWrite(fd, data, size, offset);
}

ssize_t PRead(int fd, void *buffer, std::size_t size, off_t offset)
{
    if (const int error = Injected(Call::Read, nullptr, fd))
        return Fail<ssize_t>(error, -1);
    return backend::PRead(fd, buffer, size, offset);
}

int ClearNonBlock(int fd)
{
    if (const int error = Injected(Call::SetFlags, nullptr, fd))
        return Fail(error, -1);
    return backend::ClearNonBlock(fd);
}

ssize_t CopyFileRange(int in, int out, std::size_t size)
{
    if (const int error = Injected(Call::CopyFileRange, nullptr, out))
        return Fail<ssize_t>(error, -1);
    return backend::CopyFileRange(in, out, size);
}

int Ftruncate(int fd, off_t length)
{
    if (const int error = Injected(Call::Ftruncate, nullptr, fd))
        return Fail(error, -1);
    return backend::Ftruncate(fd, length);
}

int Fsync(int fd)
{
    if (const int error = Injected(Call::Fsync, nullptr, fd))
        return Fail(error, -1);
    return backend::Fsync(fd);
}

int Close(int fd)
{
    const int error = Injected(Call::Close, nullptr, fd);
    const int result = backend::Close(fd); // a failed close still releases the descriptor
    return error ? Fail(error, -1) : result;
}

int Rename(const char *from, const char *to)
{
    if (const int error = Injected(Call::Rename, from, -1, 0, to))
        return Fail(error, -1);
    return backend::Rename(from, to);
}

int RenameNoReplace(const char *from, const char *to)
{
    if (const int error = Injected(Call::Rename, from, -1, kRenameNoReplace, to))
        return Fail(error, -1);
    return backend::RenameNoReplace(from, to);
}

int Link(const char *from, const char *to)
{
    if (const int error = Injected(Call::Link, from, -1, 0, to))
        return Fail(error, -1);
    return backend::Link(from, to);
}

int Unlink(const char *path)
{
    if (const int error = Injected(Call::Unlink, path, -1))
        return Fail(error, -1);
    return backend::Unlink(path);
}

int UnlinkAt(int dirFd, const char *name, int flags)
{
    if (const int error = Injected(Call::Unlink, name, dirFd))
        return Fail(error, -1);
    return backend::UnlinkAt(dirFd, name, flags);
}

int Mkdir(const char *path, mode_t mode)
{
    if (const int error = Injected(Call::Mkdir, path, -1))
        return Fail(error, -1);
    return backend::Mkdir(path, mode);
}

int Stat(const char *path, struct stat *status)
{
    if (const int error = Injected(Call::Stat, path, -1))
        return Fail(error, -1);
    return backend::Stat(path, status);
}

int Lstat(const char *path, struct stat *status)
{
    if (const int error = Injected(Call::Stat, path, -1))
        return Fail(error, -1);
    return backend::Lstat(path, status);
}

int Fstat(int fd, struct stat *status)
{
    if (const int error = Injected(Call::Stat, nullptr, fd))
        return Fail(error, -1);
    return backend::Fstat(fd, status);
}

int FstatAt(int dirFd, const char *name, struct stat *status, int flags)
{
    if (const int error = Injected(Call::Stat, name, dirFd))
        return Fail(error, -1);
    return backend::FstatAt(dirFd, name, status, flags);
}

int Flock(int fd, int operation)
{
    if (const int error = Injected(Call::Flock, nullptr, fd))
        return Fail(error, -1);
    return backend::Flock(fd, operation);
}

int OpenRegular(const char *path, int flags, struct stat *status)
{
    return OpenRegularAt(AT_FDCWD, path, flags, status);
}

int OpenRegularAt(int dirFd, const char *path, int flags, struct stat *status)
{
    const int fd = OpenAt(dirFd, path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat own
    { };
    struct stat &found = status != nullptr ? *status : own;
    const bool stated = Fstat(fd, &found) == 0;
    if (!stated || !S_ISREG(found.st_mode)) {
        const int error = stated ? EINVAL : errno;
        Close(fd);
        return Fail(error, -1);
    }
    return fd;
}

namespace {

// Writes all of data through write(bytes, left, done), which writes some of it and says how
// much, as write(2) does.
template<typename WriteSome>
bool WriteEvery(const void *data, std::size_t size, WriteSome write)
{
    const auto *bytes = static_cast<const char *>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = write(bytes + done, size - done, done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written == 0 ? Fail(ENOSPC, false) : false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool WriteAll(int fd, const void *data, std::size_t size)
{
    return WriteEvery(data, size, [fd](const char *bytes, std::size_t left, std::size_t) {
        return Write(fd, bytes, left);
    });
}

bool PWriteAll(int fd, const void *data, std::size_t size, off_t offset)
{
    return WriteEvery(data, size,
                      [fd, offset](const char *bytes, std::size_t left, std::size_t done) {
                          return PWrite(fd, bytes, left, offset + static_cast<off_t>(done));
                      });
}

#ifdef _WIN32
int Attributes(const char *path, unsigned long *attributes)
{
    if (const int error = Injected(Call::Stat, path, -1))
        return Fail(error, -1);
    return backend::Attributes(path, attributes);
}

int SetAttributes(int fd, unsigned long attributes)
{
    if (const int error = Injected(Call::Chmod, nullptr, fd))
        return Fail(error, -1);
    return backend::SetAttributes(fd, attributes);
}

int CopyTimes(int from, int to)
{
    if (const int error = Injected(Call::SetTimes, nullptr, to))
        return Fail(error, -1);
    return backend::CopyTimes(from, to);
}
#else
ssize_t ReadLink(const char *path, char *buffer, std::size_t size)
{
    if (const int error = Injected(Call::ReadLink, path, -1))
        return Fail<ssize_t>(error, -1);
    return backend::ReadLink(path, buffer, size);
}

int FlockWithin(int fd, int operation, int milliseconds)
{
    if (const int error = Injected(Call::Flock, nullptr, fd))
        return Fail(error, -1);
    return backend::FlockWithin(fd, operation, milliseconds);
}

int DupCloexec(int fd)
{
    if (const int error = Injected(Call::Dup, nullptr, fd))
        return Fail(error, -1);
    return backend::DupCloexec(fd);
}

int Fchmod(int fd, mode_t mode)
{
    if (const int error = Injected(Call::Chmod, nullptr, fd))
        return Fail(error, -1);
    return backend::Fchmod(fd, mode);
}

int Futimens(int fd, const timespec times[2])
{
    if (const int error = Injected(Call::SetTimes, nullptr, fd))
        return Fail(error, -1);
    return backend::Futimens(fd, times);
}

int FaccessAt(int dirFd, const char *path, int mode, int flags)
{
    if (const int error = Injected(Call::Access, path, dirFd))
        return Fail(error, -1);
    return backend::FaccessAt(dirFd, path, mode, flags);
}

int Fchown(int fd, uid_t owner, gid_t group)
{
    if (const int error = Injected(Call::Chown, nullptr, fd))
        return Fail(error, -1);
    return backend::Fchown(fd, owner, group);
}

DIR *OpenDir(const char *path)
{
    if (const int error = Injected(Call::OpenDir, path, -1))
        return Fail<DIR *>(error, nullptr);
    return backend::OpenDir(path);
}

DIR *FdOpenDir(int fd)
{
    if (const int error = Injected(Call::OpenDir, nullptr, fd))
        return Fail<DIR *>(error, nullptr);
    return backend::FdOpenDir(fd);
}

dirent *ReadDir(DIR *dir)
{
    if (const int error = Injected(Call::ReadDir, nullptr, ::dirfd(dir)))
        return Fail<dirent *>(error, nullptr);
    return backend::ReadDir(dir);
}

int CloseDir(DIR *dir)
{
    const int error = Injected(Call::CloseDir, nullptr, ::dirfd(dir));
    const int result = backend::CloseDir(dir); // released whatever it reports
    return error ? Fail(error, -1) : result;
}

#endif

} // namespace kelvane::io
