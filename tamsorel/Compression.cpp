#include "tamsorel/Compression.h"

#include "tamsorel/Deflate.h"

#include <algorithm>
#include <memory>

namespace tamsorel {

namespace {

// Up to three samples of this size, at the start, the middle and the end; deflate must save
// at least 3% of them at its fastest level.
constexpr std::size_t kSampleSize = 64 << 10;
constexpr std::size_t kSamplePercentKept = 97;
constexpr int kSampleLevel = 1;

// Deflates sample into at most 97% of its size (output has room for kSampleSize bytes): the
// compressed size, or the sample's own size when it does not fit.
std::size_t SampleCost(Deflater &deflater, const unsigned char *sample, std::size_t size,
                       unsigned char *output)
{
    const std::size_t room = std::min(size * kSamplePercentKept / 100, kSampleSize);
    const std::size_t n = deflater.Whole(kSampleLevel, sample, size, output, room);
    return n == 0 ? size : n;
}

} // namespace

bool LooksIncompressible(Deflater &deflater, const unsigned char *data, std::size_t size)
{
    if (size == 0)
        return false;
    const std::unique_ptr<unsigned char[]> output(new unsigned char[kSampleSize]);
    std::size_t taken = 0;
    std::size_t cost = 0;
    if (size <= 3 * kSampleSize) {
        for (std::size_t at = 0; at < size; at += kSampleSize) {
            const std::size_t n = std::min(kSampleSize, size - at);
            cost += SampleCost(deflater, data + at, n, output.get());
            taken += n;
        }
    } else {
        for (const std::size_t at :
             {std::size_t {0}, size / 2 - kSampleSize / 2, size - kSampleSize}) {
            cost += SampleCost(deflater, data + at, kSampleSize, output.get());
            taken += kSampleSize;
        }
    }
    return cost * 100 > taken * kSamplePercentKept;
}

std::size_t WholeDeflateRoom(Deflater &deflater, Compression compression, const unsigned char *data,
                             std::size_t size)
{
    if (size == 0 || compression == Compression::Store)
        return 0;
    if (compression == Compression::Deflate)
        return deflater.Bound(kDeflateLevel, size);
    // A small file is simply deflated in full: its sample would be the whole of it.
    if (size > kSampleSize && LooksIncompressible(deflater, data, size))
        return 0;
    return size - 1;
}

bool DeflateStream(Deflater &deflater, Compression compression, const unsigned char *firstChunk,
                   std::size_t size)
{
    return compression == Compression::Deflate
        || (compression == Compression::Auto && !LooksIncompressible(deflater, firstChunk, size));
}

} // namespace tamsorel
