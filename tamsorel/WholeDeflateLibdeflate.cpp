#include "tamsorel/WholeDeflate.h"

#include <libdeflate.h>
#include <memory>
#include <new>

namespace tamsorel {

namespace {

struct CompressorDeleter
{
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

constexpr int kLevels = 13; // libdeflate's 0 to 12

libdeflate_compressor *ThreadCompressor(int level)
{
    thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressors[kLevels];
    auto &compressor = compressors[level];
    if (!compressor)
        compressor.reset(libdeflate_alloc_compressor(level));
    if (!compressor)
        throw std::bad_alloc();
    return compressor.get();
}

} // namespace

std::uint32_t Crc32(std::uint32_t crc, const unsigned char *data, std::size_t size)
{
    return static_cast<std::uint32_t>(libdeflate_crc32(crc, data, size));
}

std::size_t DeflateWhole(int level, const unsigned char *in, std::size_t size, unsigned char *out,
                         std::size_t room)
{
    return libdeflate_deflate_compress(ThreadCompressor(level), in, size, out, room);
}

std::size_t DeflateWholeBound(int level, std::size_t size)
{
    return libdeflate_deflate_compress_bound(ThreadCompressor(level), size);
}

} // namespace tamsorel
