#include "verify/StorageFile.h"

#include "io/Io.h"

namespace kelvane::verify {

void StorageFile::Close()
{
    if (fd_ >= 0)
        io::Close(fd_);
    fd_ = -1;
}

bool StorageFile::LeaveCache(std::string &)
{
    return true; // opened without buffering: the system writes what it still caches first
}

} // namespace kelvane::verify
