#pragma once

// The one-shot compressor and the CRC-32 that the back end uses for data it holds in full.
// Two implementations, one chosen when the library is built: libdeflate where it exists
// (faster), zlib everywhere else. Both produce raw deflate streams that any reader takes;
// the chunked deflate of large entries uses zlib in either case (it needs a preset
// dictionary and sync flushes).

#include <cstddef>
#include <cstdint>

namespace tamsorel {

std::uint32_t Crc32(std::uint32_t crc, const unsigned char *data, std::size_t size);

// The most bytes deflating size bytes at level can take.
std::size_t DeflateBound(int level, std::size_t size);

// Deflates size bytes at level (1 fastest .. 9) into out as one raw stream: the compressed
// size, or 0 when it does not fit in room. Thread-safe; each thread keeps its own state.
std::size_t DeflateWhole(int level, const unsigned char *data, std::size_t size, unsigned char *out,
                         std::size_t room);

} // namespace tamsorel
