#include "verify/StorageFile.h"

#include "io/Io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kelvane::verify {

StorageFile::~StorageFile()
{
    Close();
}

void StorageFile::Close()
{
    if (fd_ < 0)
        return;
    // What this check read is of no use to anyone later: leave the cache as it was. (Advice
    // alone, here and below, made directly: no result depends on it, so io/ has no call.)
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    io::Close(fd_);
    fd_ = -1;
}

bool StorageFile::Open(const std::string &path, std::string &error)
{
    Close();
    struct stat status
    { };
    fd_ = io::OpenRegular(path.c_str(), O_RDONLY, &status);
    if (fd_ < 0) {
        error = !S_ISREG(status.st_mode) && status.st_mode != 0 ? "not a regular file"
                                                                : std::strerror(errno);
        return false;
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
    // Dirty pages cannot be dropped: the data goes to the storage first. A write that
    // failed on its way there shows here. A file system that cannot sync (or a read-only
    // one, which has nothing to sync) is no failure.
    if (io::Fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && errno != ENOSYS) {
        error = std::string("it could not be synced to the storage: ") + std::strerror(errno);
        Close();
        return false;
    }
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    return true;
}

std::int64_t StorageFile::ReadBlock(std::uint64_t offset, unsigned char *buffer, std::string &error)
{
    std::size_t got = 0;
    while (got < kBlockSize) {
        const ssize_t n
            = io::PRead(fd_, buffer + got, kBlockSize - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return -1;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(got);
}

} // namespace kelvane::verify
