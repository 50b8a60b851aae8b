#include "tamsorel/Compression.h"

#include "tamsorel/Deflate.h"

#include <algorithm>
#include <vector>

namespace tamsorel {

namespace {

// Up to three samples of this size, at the start, the middle and the end; deflate must save
// at least 3% of them at its fastest level.
constexpr std::size_t kSampleSize = 64 << 10;
constexpr std::size_t kSamplePercentKept = 97;
constexpr int kSampleLevel = 1;

// Deflates sample into at most 97% of its size: the compressed size, or the sample's own
// size when it does not fit.
std::size_t SampleCost(const unsigned char *sample, std::size_t size)
{
    thread_local std::vector<unsigned char> output(kSampleSize);
    const std::size_t room = std::min(size * kSamplePercentKept / 100, output.size());
    const std::size_t n = DeflateWhole(kSampleLevel, sample, size, output.data(), room);
    return n == 0 ? size : n;
}

} // namespace

bool LooksIncompressible(const unsigned char *data, std::size_t size)
{
    if (size == 0)
        return false;
    std::size_t taken = 0;
    std::size_t cost = 0;
    if (size <= 3 * kSampleSize) {
        for (std::size_t at = 0; at < size; at += kSampleSize) {
            const std::size_t n = std::min(kSampleSize, size - at);
            cost += SampleCost(data + at, n);
            taken += n;
        }
    } else {
        for (const std::size_t at :
             {std::size_t {0}, size / 2 - kSampleSize / 2, size - kSampleSize}) {
            cost += SampleCost(data + at, kSampleSize);
            taken += kSampleSize;
        }
    }
    return cost * 100 > taken * kSamplePercentKept;
}

std::size_t WholeDeflateRoom(Compression compression, const unsigned char *data, std::size_t size)
{
    if (size == 0 || compression == Compression::Store)
        return 0;
    if (compression == Compression::Deflate)
        return DeflateBound(kDeflateLevel, size);
    // A small file is simply deflated in full: its sample would be the whole of it.
    if (size > kSampleSize && LooksIncompressible(data, size))
        return 0;
    return size - 1;
}

bool DeflateStream(Compression compression, const unsigned char *firstChunk, std::size_t size)
{
    return compression == Compression::Deflate
        || (compression == Compression::Auto && !LooksIncompressible(firstChunk, size));
}

} // namespace tamsorel
