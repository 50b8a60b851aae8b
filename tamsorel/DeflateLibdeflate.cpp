#include "tamsorel/Deflate.h"

#include <libdeflate.h>

#include <memory>
#include <new>

namespace tamsorel {

namespace {

constexpr int kLevels = 12; // libdeflate's 1 .. 12; 0 is not used

struct CompressorDeleter
{
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

} // namespace

struct Deflater::Levels
{
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressors[kLevels + 1];

    libdeflate_compressor *At(int level)
    {
        auto &compressor = compressors[level];
        if (!compressor) {
            compressor.reset(libdeflate_alloc_compressor(level));
            if (!compressor)
                throw std::bad_alloc();
        }
        return compressor.get();
    }
};

Deflater::Deflater() : levels_(std::make_unique<Levels>()) { }

Deflater::~Deflater() = default;

std::uint32_t Crc32(std::uint32_t crc, const unsigned char *data, std::size_t size)
{
    return libdeflate_crc32(crc, data, size);
}

std::size_t Deflater::Bound(int level, std::size_t size)
{
    return libdeflate_deflate_compress_bound(levels_->At(level), size);
}

std::size_t Deflater::Whole(int level, const unsigned char *data, std::size_t size,
                            unsigned char *out, std::size_t room)
{
    return libdeflate_deflate_compress(levels_->At(level), data, size, out, room);
}

} // namespace tamsorel
