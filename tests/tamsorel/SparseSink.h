#pragma once

// An archive kept in memory as a sparse file: blocks that hold only zeros are not kept and
// read back as zeros, so that an archive with gigabytes of zeros stored in it costs next to
// no memory, while its headers and compressed data are all there for the readers.

#include "tamsorel/OutputSink.h"
#include "tests/support/RawZip.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tamsorel::test {

class SparseSink : public tamsorel::OutputSink
{
public:
    bool WriteAt(std::uint64_t offset, const unsigned char *data, std::size_t size) override;
    bool Truncate(std::uint64_t size) override;
    bool Sync() override { return true; }

    std::uint64_t Size() const { return size_; }
    // Bytes held in memory.
    std::uint64_t KeptBytes() const { return blocks_.size() * kBlockSize; }
    // Copies size bytes from offset into out, zeros where nothing is kept; false past the end.
    bool ReadAt(std::uint64_t offset, unsigned char *out, std::size_t size) const;

private:
    static constexpr std::size_t kBlockSize = 64 << 10;
    std::map<std::uint64_t, std::vector<unsigned char>> blocks_; // by block number
    std::uint64_t size_ = 0;
};

// The header fields of the archive in the sink (see ReadRawZip).
RawZip ReadRawZip(const SparseSink &sink);

// One entry as libarchive read it from the sink (which checks the data against its CRC).
struct SinkEntry
{
    std::string name;
    std::uint64_t size = 0;
    bool allZero = true; // every byte of the data is 0
    std::string data; // only for entries up to the data limit
};
struct SinkZip
{
    bool ok = false;
    std::string error;
    std::vector<SinkEntry> entries;
};
// Reads the archive with libarchive from its central directory, as a file would be read.
SinkZip ReadSinkZip(const SparseSink &sink, std::uint64_t dataLimit = 1 << 20);

} // namespace tamsorel::test
