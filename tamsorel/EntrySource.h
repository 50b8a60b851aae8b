#pragma once

// Where an entry's bytes come from: a source read to its end, whatever size it claimed.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tamsorel {

class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads up to size bytes: the count read, 0 at the end, -1 on a read error.
    virtual std::int64_t Read(unsigned char *buffer, std::size_t size) = 0;
};

// A regular file on disk, read to its end (not to the size it had when opened).
class FileSource : public ByteSource
{
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    // False when the path cannot be opened or is not a regular file. FIFOs and devices are
    // opened without blocking and refused.
    bool Open(const char *path);
    const struct stat &Status() const { return status_; }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override;

private:
    int fd_ = -1;
    struct stat status_
    { };
};

// Fills buffer from source as far as it goes: the count, short only at the end; -1 on error.
std::int64_t ReadFull(ByteSource &source, unsigned char *buffer, std::size_t size);

} // namespace tamsorel
