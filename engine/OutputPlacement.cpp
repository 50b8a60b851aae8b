#include "engine/OutputPlacement.h"

#include "io/Io.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane {

namespace {

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of(io::kPathSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Holds an exclusive advisory lock on a folder while it lives. Every run takes it around
// its check-and-rename, so two runs never both see the same older file and both replace
// it. A folder that cannot be locked (some network file systems) is used without the
// lock: a run then still never replaces a file it saw appear, only the narrow window
// between the check and the rename stays open. A run holds the lock for a moment only;
// one held far longer belongs to some other program, and is not waited for without end.
class FolderLock
{
public:
    explicit FolderLock(const std::string &folder)
        : fd_(io::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd_ < 0)
            return;
        constexpr int kTries = 2000; // about two seconds
        for (int attempt = 0; attempt < kTries; ++attempt) {
            if (io::Flock(fd_, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR))
                return;
            const timespec pause {0, 1000000}; // 1 ms
            nanosleep(&pause, nullptr);
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0)
            io::Close(fd_); // releases the lock
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    // Makes a rename in the folder durable, as the back end does for its own.
    void Sync()
    {
        if (fd_ >= 0)
            io::Fsync(fd_);
    }

private:
    int fd_;
};

} // namespace

FileIdentity IdentityOf(const std::string &path)
{
    FileIdentity identity;
    struct stat status
    { };
    if (io::Lstat(path.c_str(), &status) == 0) {
        identity.exists = true;
        identity.device = static_cast<unsigned long long>(status.st_dev);
        identity.inode = static_cast<unsigned long long>(status.st_ino);
    }
    return identity;
}

std::string AlternativeName(const std::string &path, int n)
{
    const std::size_t slash = path.find_last_of(io::kPathSeparators);
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(n) + path.substr(dot);
}

std::string PlaceFinishedFile(const std::string &from, const std::string &to,
                              const FileIdentity &older)
{
    FolderLock lock(FolderOf(to));
    const FileIdentity now = IdentityOf(to);
    if (now.exists && now == older) {
        if (io::Rename(from.c_str(), to.c_str()) == 0) {
            lock.Sync();
            return to;
        }
        io::Unlink(from.c_str());
        return {};
    }
    if (platform::RenameNoReplace(from, to)) {
        lock.Sync();
        return to;
    }
    // Taken by a file that appeared during the run: another run's output, to be kept.
    if (IdentityOf(to).exists) {
        for (int n = 2; n <= kAlternativeNames; ++n) {
            const std::string alternative = AlternativeName(to, n);
            if (platform::RenameNoReplace(from, alternative)) {
                lock.Sync();
                return alternative;
            }
            if (!IdentityOf(alternative).exists)
                break; // the rename failed for another reason
        }
    }
    io::Unlink(from.c_str());
    return {};
}

} // namespace kelvane
