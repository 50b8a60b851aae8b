#pragma once

// The one door through which the archive back end, the file layers (placement/, folders/),
// the run, the settings file and the read-back (verify/) reach the file system. Each function is
// the system call of the same name, with the same arguments, result and errno; a test can watch
// every call and make chosen ones fail (io/IoTesting.h), on every platform, which is how the
// failure paths are proven. Io.cpp asks the hook; the back end of the platform (PosixBackEnd.cpp,
// Win32BackEnd.cpp) makes the call.

#include <cstddef>

#ifdef _WIN32
#include "io/PosixNames.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace kelvane::io {

int Open(const char *path, int flags, mode_t mode = 0);
int OpenAt(int dirFd, const char *path, int flags, mode_t mode = 0);
ssize_t Read(int fd, void *buffer, std::size_t size);
ssize_t Write(int fd, const void *data, std::size_t size);
ssize_t PWrite(int fd, const void *data, std::size_t size, off_t offset);
ssize_t PRead(int fd, void *buffer, std::size_t size, off_t offset);
// fcntl(fd, F_SETFL) without O_NONBLOCK, so that reads wait again (nothing to change on
// Windows, whose files have no such mode).
int ClearNonBlock(int fd);
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

// ---- Steps made of the calls above (each of which still asks the hook) ----

// Opens path (OpenRegularAt: in dirFd, as OpenAt) with flags and O_NONBLOCK, O_NOCTTY and
// O_CLOEXEC, so that a FIFO or a device put there cannot stall the open, and keeps it only
// when it is a regular file: -1 with errno EINVAL for any other kind. status, when given,
// receives what Fstat said (also of a file refused for its kind).
int OpenRegular(const char *path, int flags, struct stat *status = nullptr);
int OpenRegularAt(int dirFd, const char *path, int flags, struct stat *status = nullptr);
// Writes all of data (PWriteAll: at offset), again after EINTR and short writes. False with
// errno set when a write fails; a write of nothing counts as a full disk (ENOSPC).
bool WriteAll(int fd, const void *data, std::size_t size);
bool PWriteAll(int fd, const void *data, std::size_t size, off_t offset);

#ifdef _WIN32
// The Windows file layer's own calls, for what POSIX does with stat, fchmod and futimens
// (placement/Win32Files.cpp). Attributes are FILE_ATTRIBUTE_ bits.
// GetFileAttributesW: a name that is not there fails with ENOENT.
int Attributes(const char *path, unsigned long *attributes);
// SetFileInformationByHandle(FileBasicInfo) with these attributes; the times stay.
int SetAttributes(int fd, unsigned long attributes);
// GetFileTime of from, then SetFileTime of to with its access and write times.
int CopyTimes(int from, int to);
#else
// The POSIX file layer's own calls; Windows has other means (placement/Win32Files.cpp).
// readlink(2): the link's target, not terminated.
ssize_t ReadLink(const char *path, char *buffer, std::size_t size);
// fcntl(fd, F_DUPFD_CLOEXEC, 0): a second descriptor that no child process inherits.
int DupCloexec(int fd);
int Fchmod(int fd, mode_t mode);
int Futimens(int fd, const timespec times[2]);
int FaccessAt(int dirFd, const char *path, int mode, int flags);
int Fchown(int fd, uid_t owner, gid_t group);
// flock(2) with LOCK_NB, tried again while the lock is held elsewhere until milliseconds
// have passed (then -1, EWOULDBLOCK). One call to the hook however long the wait: how often
// a busy lock is tried depends on timing, and a test's count of calls must not.
int FlockWithin(int fd, int operation, int milliseconds);

// Windows lists folders with its own search (folders/FileSystemWin32.cpp).
DIR *OpenDir(const char *path);
DIR *FdOpenDir(int fd);
// Null at the end of the folder with errno unchanged, or on an error with errno set:
// callers that must tell the two apart clear errno first.
dirent *ReadDir(DIR *dir);
int CloseDir(DIR *dir);
#endif

} // namespace kelvane::io
