#include "tamsorel/FileSink.h"

#include "io/Io.h"

#include <algorithm>
#include <fcntl.h>

namespace tamsorel {

namespace {

constexpr std::uint64_t kWritebackStep = 8 << 20;

} // namespace

bool FileSink::WriteAt(std::uint64_t offset, const unsigned char *data, std::size_t size)
{
    return kelvane::io::PWriteAll(fd_, data, size, static_cast<off_t>(offset));
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
    // Only a hint, so made directly, not through io/: a file that cannot take it (a device)
    // is written all the same.
    ::sync_file_range(fd_, static_cast<off_t>(writebackFrom_),
                      static_cast<off_t>(end - writebackFrom_), SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = end;
#else
    (void)end;
#endif
}

} // namespace tamsorel
