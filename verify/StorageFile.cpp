// The read-back's part common to both platforms: the opening and the loop over one block's
// reads. Leaving the cache and closing differ per platform (StorageFilePosix.cpp,
// StorageFileWin32.cpp).
#include "verify/StorageFile.h"

#include "io/Io.h"

#include <cerrno>
#include <cstring>

namespace kelvane::verify {

namespace {

#ifdef _WIN32
// Opened without buffering (O_DIRECT): every read comes from the device; offsets, sizes and
// buffers are multiples of kBlockAlign, which any sector size divides. A read must not
// start at or past the file's size, and a read that ends off a sector boundary ends the
// file (only the last one may).
constexpr bool kUnbuffered = true;
constexpr int kOpenFlags = O_RDONLY | O_DIRECT;
#else
// Through the cache: a short read says nothing; only a read of nothing is the end.
constexpr bool kUnbuffered = false;
constexpr int kOpenFlags = O_RDONLY;
#endif

} // namespace

StorageFile::~StorageFile()
{
    Close();
}

bool StorageFile::Open(const std::string &path, std::string &error)
{
    Close();
    struct stat status
    { };
    fd_ = io::OpenRegular(path.c_str(), kOpenFlags, &status);
    if (fd_ < 0) {
        error = !S_ISREG(status.st_mode) && status.st_mode != 0 ? "not a regular file"
                                                                : std::strerror(errno);
        return false;
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
    if (!LeaveCache(error)) {
        Close();
        return false;
    }
    return true;
}

std::int64_t StorageFile::ReadBlock(std::uint64_t offset, unsigned char *buffer, std::string &error)
{
    std::size_t got = 0;
    while (got < kBlockSize && !(kUnbuffered && offset + got >= size_)) {
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
        if (kUnbuffered && n % kBlockAlign != 0)
            break;
    }
    return static_cast<std::int64_t>(got);
}

} // namespace kelvane::verify
