// The POSIX back end of io/Io.h: the system calls and nothing else (the hook is asked in
// Io.cpp).

#include "io/BackEnd.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace kelvane::io::backend {

int Open(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

int OpenAt(int dirFd, const char *path, int flags, mode_t mode)
{
    return ::openat(dirFd, path, flags, mode);
}

ssize_t Read(int fd, void *buffer, std::size_t size)
{
    return ::read(fd, buffer, size);
}

ssize_t Write(int fd, const void *data, std::size_t size)
{
    return ::write(fd, data, size);
}

ssize_t PWrite(int fd, const void *data, std::size_t size, off_t offset)
{
    return ::pwrite(fd, data, size, offset);
}

ssize_t PRead(int fd, void *buffer, std::size_t size, off_t offset)
{
    return ::pread(fd, buffer, size, offset);
}

int ClearNonBlock(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags < 0 ? -1 : ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

ssize_t CopyFileRange(int in, int out, std::size_t size)
{
    return ::copy_file_range(in, nullptr, out, nullptr, size, 0);
}

int Ftruncate(int fd, off_t length)
{
    return ::ftruncate(fd, length);
}

int Fsync(int fd)
{
    return ::fsync(fd);
}

int Close(int fd)
{
    return ::close(fd);
}

int Rename(const char *from, const char *to)
{
    return ::rename(from, to);
}

int RenameNoReplace(const char *from, const char *to)
{
#ifdef SYS_renameat2
    return static_cast<int>(
        ::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
#else
    (void)from;
    (void)to;
    return Fail(ENOSYS, -1);
#endif
}

int Link(const char *from, const char *to)
{
    return ::link(from, to);
}

int Unlink(const char *path)
{
    return ::unlink(path);
}

int UnlinkAt(int dirFd, const char *name, int flags)
{
    return ::unlinkat(dirFd, name, flags);
}

int Mkdir(const char *path, mode_t mode)
{
    return ::mkdir(path, mode);
}

int Stat(const char *path, struct stat *status)
{
    return ::stat(path, status);
}

int Lstat(const char *path, struct stat *status)
{
    return ::lstat(path, status);
}

int Fstat(int fd, struct stat *status)
{
    return ::fstat(fd, status);
}

int FstatAt(int dirFd, const char *name, struct stat *status, int flags)
{
    return ::fstatat(dirFd, name, status, flags);
}

int Flock(int fd, int operation)
{
    return ::flock(fd, operation);
}

int FlockWithin(int fd, int operation, int milliseconds)
{
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return 0;
        if ((errno != EWOULDBLOCK && errno != EINTR)
            || std::chrono::steady_clock::now() >= deadline)
            return -1;
        const timespec pause {0, 1000000}; // 1 ms
        nanosleep(&pause, nullptr);
    }
}

ssize_t ReadLink(const char *path, char *buffer, std::size_t size)
{
    return ::readlink(path, buffer, size);
}

int DupCloexec(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int Fchmod(int fd, mode_t mode)
{
    return ::fchmod(fd, mode);
}

int Futimens(int fd, const timespec times[2])
{
    return ::futimens(fd, times);
}

int FaccessAt(int dirFd, const char *path, int mode, int flags)
{
    return ::faccessat(dirFd, path, mode, flags);
}

int Fchown(int fd, uid_t owner, gid_t group)
{
    return ::fchown(fd, owner, group);
}

DIR *OpenDir(const char *path)
{
    return ::opendir(path);
}

DIR *FdOpenDir(int fd)
{
    return ::fdopendir(fd);
}

dirent *ReadDir(DIR *dir)
{
    return ::readdir(dir);
}

int CloseDir(DIR *dir)
{
    return ::closedir(dir);
}

} // namespace kelvane::io::backend
