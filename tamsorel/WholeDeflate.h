#pragma once

// Whole-buffer raw deflate and zip's CRC-32: libdeflate where there is one, zlib on
// Windows (no libdeflate build there). The streaming deflate of large entries is zlib's on
// every platform.

#include <cstddef>
#include <cstdint>

namespace tamsorel {

// The CRC-32 of zip over data, continuing from crc (0 to start).
std::uint32_t Crc32(std::uint32_t crc, const unsigned char *data, std::size_t size);

// Raw deflate of in at level (1 to 9), complete in one call, into out of room bytes, with a
// compressor kept by the calling thread. The compressed size; 0 when it does not fit.
std::size_t DeflateWhole(int level, const unsigned char *in, std::size_t size, unsigned char *out,
                         std::size_t room);

// The room DeflateWhole needs at most for size bytes at level.
std::size_t DeflateWholeBound(int level, std::size_t size);

} // namespace tamsorel
