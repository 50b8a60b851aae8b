#include "tamsorel/EntrySource.h"

#include "io/Io.h"

#include <cerrno>
#include <fcntl.h>

namespace tamsorel {

FileSource::~FileSource()
{
    if (fd_ >= 0)
        kelvane::io::Close(fd_);
}

bool FileSource::Open(const char *path)
{
    if (fd_ >= 0) {
        kelvane::io::Close(fd_);
        fd_ = -1;
    }
    // Without waiting: opening a FIFO without a writer must not hang the run.
    const int fd = kelvane::io::OpenRegular(path, O_RDONLY, &status_);
    if (fd < 0)
        return false;
    // Reads wait again; where that cannot be set, the file is not read at all.
    if (kelvane::io::ClearNonBlock(fd) != 0) {
        const int error = errno;
        kelvane::io::Close(fd);
        errno = error;
        return false;
    }
    fd_ = fd;
    return true;
}

std::int64_t FileSource::Read(unsigned char *buffer, std::size_t size)
{
    if (fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t n = kelvane::io::Read(fd_, buffer, size);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -1;
    }
}

std::int64_t ReadFull(ByteSource &source, unsigned char *buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t n = source.Read(buffer + done, size - done);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace tamsorel
