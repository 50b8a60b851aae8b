#include "verify/StorageFile.h"

#include "io/Io.h"

#include <cerrno>
#include <cstring>

namespace kelvane::verify {

StorageFile::~StorageFile()
{
    Close();
}

void StorageFile::Close()
{
    if (fd_ >= 0)
        io::Close(fd_);
    fd_ = -1;
}

bool StorageFile::Open(const std::string &path, std::string &error)
{
    Close();
    struct stat status
    { };
    // No buffering (O_DIRECT): every read comes from the device; offsets, sizes and buffers
    // are multiples of kBlockAlign, which any sector size divides.
    fd_ = io::OpenRegular(path.c_str(), O_RDONLY | O_DIRECT, &status);
    size_ = static_cast<std::uint64_t>(status.st_size);
    if (fd_ < 0)
        error = S_ISREG(status.st_mode) || status.st_mode == 0 ? std::strerror(errno)
                                                               : "not a regular file";
    return fd_ >= 0;
}

std::int64_t StorageFile::ReadBlock(std::uint64_t offset, unsigned char *buffer, std::string &error)
{
    std::size_t got = 0;
    while (got < kBlockSize && offset + got < size_) {
        const ssize_t n
            = io::PRead(fd_, buffer + got, kBlockSize - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            error = std::strerror(errno);
            return -1;
        }
        if (n == 0)
            break;
        // Only the last read may end short of a sector boundary (at the file's end).
        got += static_cast<std::size_t>(n);
        if (n % kBlockAlign != 0)
            break;
    }
    return static_cast<std::int64_t>(got);
}

} // namespace kelvane::verify
