#include "platform/TempFiles.h"

#include "io/Io.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kelvane::platform {

namespace {

bool HasTempPrefix(std::string_view name)
{
    return name.substr(0, sizeof kTempPrefix - 1) == kTempPrefix;
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens a regular file of the folder without following a link and without waiting
// (a FIFO put there meanwhile must not block). -1 for anything else.
int OpenRegular(int dirFd, const std::string &name)
{
    const int fd = io::OpenAt(dirFd, name.c_str(),
                              O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status;
    if (io::Fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        io::Close(fd);
        return -1;
    }
    return fd;
}

// True when a live writer holds the temporary file `name` (a file that cannot be opened
// is held by nobody).
bool IsHeld(int dirFd, const std::string &name)
{
    const int fd = OpenRegular(dirFd, name);
    if (fd < 0)
        return false;
    const bool held = io::Flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    io::Close(fd);
    return held;
}

// The temporary this one belongs to: its name without the extension, when that still
// has more than the prefix. Empty when it stands alone.
std::string OwnerOf(const std::string &name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= sizeof kTempPrefix - 1)
        return {};
    return name.substr(0, dot);
}

// Removes one candidate if it is a leftover. The lock is taken before anything is
// decided, and the name is checked to still stand for the locked file: a writer that
// renamed its file meanwhile released the lock only after the rename.
bool RemoveIfLeftover(int dirFd, const std::string &name)
{
    struct stat named;
    if (io::FstatAt(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(named.st_mode))
        return false;
    const int fd = OpenRegular(dirFd, name);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat held;
    if (io::Flock(fd, LOCK_EX | LOCK_NB) == 0 && io::Fstat(fd, &held) == 0) {
        const std::string owner = OwnerOf(name);
        // The owner is checked after this file's lock: a writer removes its owner only
        // after this file has left its name, which the check below then sees.
        if ((owner.empty() || !IsHeld(dirFd, owner))
            && io::FstatAt(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && SameFile(held, named))
            removed = io::UnlinkAt(dirFd, name.c_str(), 0) == 0;
    }
    io::Close(fd); // releases the lock
    return removed;
}

} // namespace

bool LockTempFile(int fd, const std::string &path)
{
    if (io::Flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK; // no locks on this file system: written unguarded
    struct stat held;
    struct stat named;
    return io::Fstat(fd, &held) == 0 && io::Lstat(path.c_str(), &named) == 0
        && SameFile(held, named);
}

int RemoveLeftoverTemps(const std::string &folder)
{
    const int dirFd
        = io::Open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    std::vector<std::string> candidates;
#ifdef _WIN32
    for (const DirEntry &entry : SearchFolder(folder, std::string(kTempPrefix) + "*"))
        if (!entry.isDirectory && HasTempPrefix(entry.name))
            candidates.push_back(entry.name);
#else
    const int listFd = dup(dirFd);
    DIR *dir = listFd >= 0 ? io::FdOpenDir(listFd) : nullptr;
    if (dir == nullptr && listFd >= 0)
        io::Close(listFd);
    if (dir != nullptr) {
        while (const dirent *entry = io::ReadDir(dir)) {
            if (HasTempPrefix(entry->d_name)
                && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN))
                candidates.emplace_back(entry->d_name);
        }
        io::CloseDir(dir);
    }
#endif
    int removed = 0;
    for (const std::string &name : candidates)
        removed += RemoveIfLeftover(dirFd, name) ? 1 : 0;
    io::Close(dirFd);
    return removed;
}

} // namespace kelvane::platform
