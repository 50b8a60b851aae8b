#pragma once

// The one door through which the archive back end and the file-system layer reach the
// file system. Each function is the system call of the same name, with the same
// arguments, result and errno; a test can watch every call and make chosen ones fail
// (io/IoTesting.h), on every platform, which is how the failure paths are proven. Io.cpp
// asks the hook; the back end of the platform (PosixBackEnd.cpp, Win32BackEnd.cpp) makes
// the call.

#include <cstddef>

#ifdef _WIN32
#include "io/PosixNames.h"
#else
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace kelvane::io {

int Open(const char *path, int flags, mode_t mode = 0);
int OpenAt(int dirFd, const char *path, int flags, mode_t mode = 0);
ssize_t Read(int fd, void *buffer, std::size_t size);
ssize_t Write(int fd, const void *data, std::size_t size);
ssize_t PWrite(int fd, const void *data, std::size_t size, off_t offset);
// copy_file_range(2) from and to the files' own offsets.
ssize_t CopyFileRange(int in, int out, std::size_t size);
int Ftruncate(int fd, off_t length);
int Fsync(int fd);
// The descriptor is released even when the close reports an error.
int Close(int fd);

int Rename(const char *from, const char *to);
// renameat2(2) with RENAME_NOREPLACE; EINVAL or ENOSYS where the file system or the
// kernel cannot do it.
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
// The POSIX file layer's own calls; Windows has other means (placement/Win32Files.cpp).
// readlink(2): the link's target, not terminated.
ssize_t ReadLink(const char *path, char *buffer, std::size_t size);
// fcntl(fd, F_DUPFD_CLOEXEC, 0): a second descriptor that no child process inherits.
int DupCloexec(int fd);
int Fchmod(int fd, mode_t mode);
int Futimens(int fd, const timespec times[2]);
int FaccessAt(int dirFd, const char *path, int mode, int flags);
int Fchown(int fd, uid_t owner, gid_t group);

// Windows lists folders with its own search (folders/FileSystemWin32.cpp).
DIR *OpenDir(const char *path);
DIR *FdOpenDir(int fd);
// Null at the end of the folder with errno unchanged, or on an error with errno set:
// callers that must tell the two apart clear errno first.
dirent *ReadDir(DIR *dir);
int CloseDir(DIR *dir);
#endif

} // namespace kelvane::io
