#include "tamsorel/FileSink.h"

#include "io/Io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace tamsorel {

namespace {

constexpr std::uint64_t kWritebackStep = 8 << 20;

} // namespace

bool FileSink::WriteAt(std::uint64_t offset, const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = kelvane::io::PWrite(fd_, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool FileSink::Truncate(std::uint64_t size)
{
    writebackFrom_ = std::min(writebackFrom_, size);
    return kelvane::io::Ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool FileSink::Sync()
{
    return kelvane::io::Fsync(fd_) == 0;
}

void FileSink::Settled(std::uint64_t end)
{
#ifdef SYNC_FILE_RANGE_WRITE
    if (end < writebackFrom_ + kWritebackStep)
        return;
    // Only a hint: a file that cannot take it (a device) is written all the same.
    ::sync_file_range(fd_, static_cast<off_t>(writebackFrom_),
                      static_cast<off_t>(end - writebackFrom_), SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = end;
#else
    (void)end;
#endif
}

} // namespace tamsorel
