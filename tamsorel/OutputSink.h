#pragma once

// Where an archive's bytes go. Writes are positional, so that a header can be rewritten once
// its entry's sizes are known, and the end can be cut off again to drop an entry whose source
// failed. A file is one sink; the tests keep multi-gigabyte archives in memory with another.

#include <cstddef>
#include <cstdint>

namespace tamsorel {

class OutputSink
{
public:
    virtual ~OutputSink() = default;
    // Writes all size bytes at offset, which is at most the current end.
    virtual bool WriteAt(std::uint64_t offset, const unsigned char *data, std::size_t size) = 0;
    // Drops everything from size on.
    virtual bool Truncate(std::uint64_t size) = 0;
    // Makes everything written durable.
    virtual bool Sync() = 0;
    // The bytes before end are written out and will not change in the normal course: a file
    // may start putting them on disk, so that the final sync has less to wait for.
    virtual void Settled(std::uint64_t end) { (void)end; }
};

} // namespace tamsorel
