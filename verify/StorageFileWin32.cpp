#include "verify/StorageFile.h"

#include "io/Io.h"

#include <cerrno>
#include <cstring>

namespace kelvane::verify {

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

} // namespace kelvane::verify
