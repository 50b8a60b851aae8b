// What the back end needs of its one-shot deflate and CRC-32, checked against each library
// that can provide them: zlib's CRC, raw deflate streams that zlib inflates back, and no
// output at all when it does not fit the room given.

#include "tamsorel/Deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<unsigned char> Inflate(const std::vector<unsigned char> &in, std::size_t size)
{
    std::vector<unsigned char> out(size + 1);
    z_stream z {};
    if (inflateInit2(&z, -15) != Z_OK)
        return {};
    z.next_in = const_cast<unsigned char *>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END && z.avail_in == 0 ? out : std::vector<unsigned char> {};
}

} // namespace

TEST(DeflateTest, CrcAndRawDeflateThatZlibReadsBack)
{
    std::mt19937 gen(7);
    std::vector<unsigned char> noise(300000);
    for (unsigned char &b : noise)
        b = static_cast<unsigned char>(gen());
    std::string words;
    while (words.size() < 500000)
        words += "entry " + std::to_string(gen() % 5000) + " deflated\n";
    const std::vector<unsigned char> text(words.begin(), words.end());
    tamsorel::Deflater deflater; // kept across the data and levels, as a pipeline worker keeps it

    for (const std::vector<unsigned char> *data : {&std::as_const(noise), &text}) {
        SCOPED_TRACE(data == &noise ? "noise" : "text");
        const uLong whole = crc32(0, data->data(), static_cast<uInt>(data->size()));
        const std::size_t half = data->size() / 2;
        EXPECT_EQ(tamsorel::Crc32(tamsorel::Crc32(0, data->data(), half), data->data() + half,
                                  data->size() - half),
                  whole);

        for (const int level : {1, 6}) {
            const std::size_t bound = deflater.Bound(level, data->size());
            std::vector<unsigned char> out(bound);
            const std::size_t n
                = deflater.Whole(level, data->data(), data->size(), out.data(), bound);
            ASSERT_GT(n, 0u) << "the bound is room enough, level " << level;
            out.resize(n);
            EXPECT_TRUE(Inflate(out, data->size()) == *data) << "level " << level;
            // One byte too few: nothing, so that the caller stores the data instead.
            std::vector<unsigned char> tight(n - 1);
            EXPECT_EQ(deflater.Whole(level, data->data(), data->size(), tight.data(), n - 1), 0u)
                << "level " << level;
        }
    }
}
