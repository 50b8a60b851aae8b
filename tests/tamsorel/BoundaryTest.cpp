// Archives exactly at the limits of the classic zip fields: entries of 4 GiB - 1 bytes (the
// largest size a 32-bit field holds, and also its "see zip64" marker) and 4 GiB, and 65,535
// and 65,536 entries (the same for the 16-bit count). They are written to memory, where
// blocks of zeros take no room, and read back by libarchive and byte by byte.

#include "LongTestSupport.h"
#include "SparseSink.h"
#include "tests/support/RawZip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

using namespace tamsorel;
using namespace tamsorel::test;

namespace {

const std::uint64_t kSizes[] = {kFourGiB - 1, kFourGiB};
constexpr std::uint16_t kZip64Id = 0x0001;

std::uint32_t Crc(const std::string &data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
}

// CRC-32 of n zero bytes, from a block's CRC combined, not from the data a reader saw.
std::uint32_t ZeroCrc(std::uint64_t n)
{
    const std::vector<unsigned char> block(std::size_t {1} << 20, 0);
    const uLong blockCrc = crc32(0, block.data(), static_cast<uInt>(block.size()));
    uLong crc = crc32(0, Z_NULL, 0);
    for (; n >= block.size(); n -= block.size())
        crc = crc32_combine64(crc, blockCrc, static_cast<z_off64_t>(block.size()));
    return static_cast<std::uint32_t>(crc32(crc, block.data(), static_cast<uInt>(n)));
}

// The CRCs stored for an archive of a big zero entry and "after.txt" after it, and what
// libarchive reads from it (it checks the data against those CRCs).
void ExpectBigThenAfter(const SparseSink &sink, const tamsorel::test::RawZip &raw,
                        std::uint64_t bigSize, const std::string &after)
{
    ASSERT_EQ(raw.entries.size(), 2u);
    EXPECT_EQ(raw.entries[0].central.crc, ZeroCrc(bigSize));
    EXPECT_EQ(raw.entries[1].central.crc, Crc(after));
    const auto zip = ReadSinkZip(sink);
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 2u);
    EXPECT_EQ(zip.entries[0].name, "zeros.bin");
    EXPECT_EQ(zip.entries[0].size, bigSize);
    EXPECT_TRUE(zip.entries[0].allZero);
    EXPECT_EQ(zip.entries[1].name, "after.txt");
    EXPECT_EQ(zip.entries[1].data, after);
}

} // namespace

// Deflated, as a run adds a file of zeros, only the sizes need 64 bits; stored, the entry
// after the big one also starts past 4 GiB.
TEST(BoundaryTest, EntriesOf4GiBMinusOneAnd4GiBDeflatedAndStored)
{
    const std::string after = "the small file after the big one";
    for (const Compression compression : {Compression::Auto, Compression::Store}) {
        for (const std::uint64_t size : kSizes) {
            const bool stored = compression == Compression::Store;
            SCOPED_TRACE((stored ? "stored, size " : "deflated, size ") + std::to_string(size));
            SparseSink sink;
            ZeroSource zeros(size);
            ASSERT_TRUE(WriteBigThenText(sink, "zeros.bin", compression, zeros, size, after));
            const auto raw = ReadRawZip(sink);
            ASSERT_TRUE(raw.ok) << raw.error;
            ASSERT_EQ(raw.entries.size(), 2u);
            const RawHeader &first = raw.entries[0].central;
            const RawEntry &second = raw.entries[1];
            // 0xffffffff in a classic field means "look in the zip64 field", for both sizes.
            EXPECT_EQ(first.size32, kOverflow);
            EXPECT_EQ(raw.entries[0].local.size32, kOverflow);
            if (stored) {
                EXPECT_GT(sink.Size(), size);
                EXPECT_LT(sink.KeptBytes(), std::uint64_t {1} << 20) << "the zeros are not kept";
                EXPECT_EQ(first.compressedSize32, kOverflow);
                EXPECT_GT(second.offset, std::uint64_t {kOverflow});
                EXPECT_EQ(second.central.offset32, kOverflow);
                // unzip 6.0 took the offset for a size after an entry of exactly 0xffffffff
                // bytes when the zip64 field held the offset alone.
                ASSERT_EQ(second.central.extra.count(kZip64Id), 1u);
                EXPECT_EQ(second.central.extra.at(kZip64Id).size(), 24u);
                EXPECT_EQ(second.local.name, "after.txt") << "offset resolved through zip64";
                EXPECT_TRUE(raw.zip64End) << "the central directory starts past 4 GiB";
            } else {
                EXPECT_LT(sink.Size(), std::uint64_t {64} << 20) << "zeros deflate well";
                for (const RawHeader *h : {&first, &raw.entries[0].local}) {
                    ASSERT_EQ(h->extra.count(kZip64Id), 1u);
                    EXPECT_EQ(LittleEndian(h->extra.at(kZip64Id), 0, 8), size);
                }
                EXPECT_EQ(second.central.extra.count(kZip64Id), 0u);
                EXPECT_FALSE(raw.zip64End);
            }
            ExpectBigThenAfter(sink, raw, size, after);
        }
    }
}

// 0xffff in the 16-bit count also means "see the zip64 end record", so both counts need it.
TEST(BoundaryTest, Archives65535And65536Entries)
{
    // A few different contents, so that an entry read from the wrong place shows.
    constexpr int kContents = 7;
    for (const int count : {65535, 65536}) {
        SCOPED_TRACE("count " + std::to_string(count));
        SparseSink sink;
        {
            ArchivePipeline pipeline(sink);
            char name[32];
            for (int i = 0; i < count; ++i) {
                std::snprintf(name, sizeof name, "d/n%05d.txt", i);
                tamsorel::EntryInfo info;
                info.name = name;
                StringSource source("content " + std::to_string(i % kContents));
                ASSERT_EQ(pipeline.Add(info, source, 9), ArchivePipeline::AddResult::Added) << i;
            }
            ASSERT_TRUE(pipeline.Finish());
        }

        const auto raw = ReadRawZip(sink);
        ASSERT_TRUE(raw.ok) << raw.error;
        EXPECT_TRUE(raw.zip64End);
        EXPECT_EQ(raw.entryCount, static_cast<std::uint64_t>(count));

        const auto zip = ReadSinkZip(sink);
        ASSERT_TRUE(zip.ok) << zip.error;
        ASSERT_EQ(zip.entries.size(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const auto &entry = zip.entries[static_cast<std::size_t>(i)];
            char name[32];
            std::snprintf(name, sizeof name, "d/n%05d.txt", i);
            ASSERT_EQ(entry.name, name);
            ASSERT_EQ(entry.data, "content " + std::to_string(i % kContents)) << i;
        }
    }
}
