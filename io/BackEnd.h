#pragma once

// Inside io/ only: the system calls themselves, one back end per platform
// (PosixBackEnd.cpp, Win32BackEnd.cpp). Each does what its namesake in io/Io.h promises and
// nothing more; the front (Io.cpp) asks the test hook first, on every platform.

#include "io/Io.h"

#include <cerrno>

namespace kelvane::io {

// Sets errno and returns result: the failure of a call, injected or real.
template<typename Result>
Result Fail(int error, Result result)
{
    errno = error;
    return result;
}

namespace backend {

int Open(const char *path, int flags, mode_t mode);
int OpenAt(int dirFd, const char *path, int flags, mode_t mode);
ssize_t Read(int fd, void *buffer, std::size_t size);
ssize_t Write(int fd, const void *data, std::size_t size);
ssize_t PWrite(int fd, const void *data, std::size_t size, off_t offset);
ssize_t CopyFileRange(int in, int out, std::size_t size);
int Ftruncate(int fd, off_t length);
int Fsync(int fd);
int Close(int fd);

int Rename(const char *from, const char *to);
int RenameNoReplace(const char *from, const char *to);
int Link(const char *from, const char *to);
int Unlink(const char *path);
int UnlinkAt(int dirFd, const char *name, int flags);
int Mkdir(const char *path, mode_t mode);

int Stat(const char *path, struct stat *status);
int Lstat(const char *path, struct stat *status);
int Fstat(int fd, struct stat *status);
int FstatAt(int dirFd, const char *name, struct stat *status, int flags);
int Flock(int fd, int operation);

#ifndef _WIN32
ssize_t ReadLink(const char *path, char *buffer, std::size_t size);
int DupCloexec(int fd);
int Fchmod(int fd, mode_t mode);
int Futimens(int fd, const timespec times[2]);
int FaccessAt(int dirFd, const char *path, int mode, int flags);
int Fchown(int fd, uid_t owner, gid_t group);

DIR *OpenDir(const char *path);
DIR *FdOpenDir(int fd);
dirent *ReadDir(DIR *dir);
int CloseDir(DIR *dir);
#endif

} // namespace backend
} // namespace kelvane::io
