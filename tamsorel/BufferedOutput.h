#pragma once

// Buffered output to a sink with an error latch: once a write, rewrite or truncation fails,
// every later operation fails too, so that a broken archive is never finished.

#include "tamsorel/OutputSink.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamsorel {

class BufferedOutput
{
public:
    explicit BufferedOutput(OutputSink &sink);
    bool Write(const void *data, std::size_t size);
    // Overwrites bytes written earlier; never extends.
    bool WriteAt(std::uint64_t offset, const void *data, std::size_t size);
    // Drops everything from offset on.
    bool TruncateTo(std::uint64_t offset);
    bool Flush();
    bool Sync();
    std::uint64_t Offset() const { return flushed_ + buffer_.size(); }
    bool Failed() const { return failed_; }

private:
    bool WriteOut(std::uint64_t offset, const unsigned char *data, std::size_t size);

    OutputSink &sink_;
    std::uint64_t flushed_ = 0; // sink offset of buffer_[0]
    std::vector<unsigned char> buffer_;
    bool failed_ = false;
};

} // namespace tamsorel
