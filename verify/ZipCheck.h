#pragma once

// Reading back what a run wrote: a zip reader of its own over zlib, written from the zip
// format rather than from the writer, so that it checks the writer instead of repeating
// it. It streams: two blocks and an inflate window at a time, whatever the archive's size
// or entry count (zip64 included).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kelvane::verify {

// Reads go by whole blocks at multiples of kBlockSize into buffers aligned to kBlockAlign:
// what a read around the system's cache needs (sector-aligned offsets, sizes and buffers).
inline constexpr std::size_t kBlockSize = std::size_t {256} << 10;
inline constexpr std::size_t kBlockAlign = 4096;

class BlockInput
{
public:
    virtual ~BlockInput() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads the block at offset (a multiple of kBlockSize) into buffer (kBlockSize bytes,
    // aligned to kBlockAlign). Returns the bytes read, fewer only for the last block, or
    // -1 with error set.
    virtual std::int64_t ReadBlock(std::uint64_t offset, unsigned char *buffer, std::string &error)
        = 0;
};

// One entry whose data has been read in full and found to match its headers.
struct EntryFacts
{
    std::uint64_t index = 0; // in central directory order, from 0
    std::string name;
    std::uint64_t size = 0; // uncompressed
};

// Compares an entry with what the caller expects of it: empty when it matches, else what
// differed.
using EntryCheck = std::function<std::string(const EntryFacts &)>;

struct ZipCheckResult
{
    bool ok = false;
    bool stopped = false; // the stop flag was set before the end
    std::string problem; // what differed or could not be read, when neither ok nor stopped
    std::uint64_t entries = 0; // entries read and found matching
};

// Parses the end records and the central directory, then reads every entry's local header
// and data: each entry is inflated (or read, when stored) and its CRC-32 and sizes compared
// with the central directory's and the local header's (or its data descriptor's). check is
// called for every entry that passed. The first problem ends the check. stop (may be null)
// is looked at between blocks.
ZipCheckResult CheckZip(BlockInput &input, const EntryCheck &check, const std::atomic<bool> *stop);

// Compares two inputs byte for byte. Empty when equal; else what differed.
struct CompareResult
{
    bool stopped = false;
    std::string problem;
};
CompareResult CompareInputs(BlockInput &copy, BlockInput &source, const std::atomic<bool> *stop);

} // namespace kelvane::verify
