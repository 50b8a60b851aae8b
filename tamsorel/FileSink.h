#pragma once

// An archive written to an open file descriptor, which stays the caller's.

#include "tamsorel/OutputSink.h"

namespace tamsorel {

class FileSink : public OutputSink
{
public:
    explicit FileSink(int fd) : fd_(fd) { }
    bool WriteAt(std::uint64_t offset, const unsigned char *data, std::size_t size) override;
    bool Truncate(std::uint64_t size) override;
    bool Sync() override;
    void Settled(std::uint64_t end) override;

private:
    int fd_;
    std::uint64_t writebackFrom_ = 0; // settled but not yet handed to the disk
};

} // namespace tamsorel
