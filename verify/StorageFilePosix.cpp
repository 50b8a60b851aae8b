#include "verify/StorageFile.h"

#include "io/Io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kelvane::verify {

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

bool StorageFile::LeaveCache(std::string &error)
{
    // Dirty pages cannot be dropped: the data goes to the storage first. A write that
    // failed on its way there shows here. A file system that cannot sync (or a read-only
    // one, which has nothing to sync) is no failure.
    if (io::Fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && errno != ENOSYS) {
        error = std::string("it could not be synced to the storage: ") + std::strerror(errno);
        return false;
    }
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    return true;
}

} // namespace kelvane::verify
