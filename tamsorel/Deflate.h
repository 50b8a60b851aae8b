#pragma once

// The one-shot compressor and the CRC-32 that the back end uses for data it holds in full.
// Two implementations, one chosen when the library is built: libdeflate where it exists
// (faster), zlib everywhere else. Both produce raw deflate streams that any reader takes;
// the chunked deflate of large entries uses zlib in either case (it needs a preset
// dictionary and sync flushes).

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tamsorel {

std::uint32_t Crc32(std::uint32_t crc, const unsigned char *data, std::size_t size);

// The one-shot compressor of each level, made when first used and kept for the next data.
// For one thread at a time, held by whoever compresses (the pipeline's workspaces), not
// thread-local: where thread-locals are emulated (mingw-w64), one with a destructor can be
// destroyed after its storage is freed, at the end of every worker thread.
class Deflater
{
public:
    Deflater();
    ~Deflater();

    // The most bytes deflating size bytes at level can take.
    std::size_t Bound(int level, std::size_t size);

    // Deflates size bytes at level (1 fastest .. 9) into out as one raw stream: the
    // compressed size, or 0 when it does not fit in room.
    std::size_t Whole(int level, const unsigned char *data, std::size_t size, unsigned char *out,
                      std::size_t room);

private:
    struct Levels; // the library's compressors
    std::unique_ptr<Levels> levels_;
};

} // namespace tamsorel
