// Archives exactly at the limits of the classic zip fields: entries of 4 GiB - 1 bytes (the
// largest size a 32-bit field holds, and also its "see zip64" marker) and 4 GiB, and 65,535
// and 65,536 entries (the same for the 16-bit count). They are written to memory, where
// blocks of zeros take no room, and read back by libarchive and byte by byte.

#include "LongTestSupport.h"
#include "RawZip.h"
#include "SparseSink.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

using tamsorel::ArchivePipeline;
using tamsorel::Compression;
using tamsorel::test::kFourGiB;
using tamsorel::test::kOverflow;
using tamsorel::test::LittleEndian;
using tamsorel::test::ReadRawZip;
using tamsorel::test::ReadSinkZip;
using tamsorel::test::SparseSink;
using tamsorel::test::StringSource;
using tamsorel::test::WriteBigThenText;
using tamsorel::test::ZeroSource;

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

// Deflated, as a run adds a file of zeros: only the sizes need 64 bits.
TEST(BoundaryTest, DeflatedEntriesOf4GiBMinusOneAnd4GiB)
{
    const std::string after = "the small file after the big one";
    for (const std::uint64_t size : kSizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        SparseSink sink;
        ZeroSource zeros(size);
        ASSERT_TRUE(WriteBigThenText(sink, "zeros.bin", Compression::Auto, zeros, size, after));
        EXPECT_LT(sink.Size(), std::uint64_t {64} << 20) << "zeros deflate well";

        // Both sizes need the zip64 field: 0xffffffff in the classic one means "look there".
        const auto raw = ReadRawZip(sink);
        ASSERT_TRUE(raw.ok) << raw.error;
        ASSERT_EQ(raw.entries.size(), 2u);
        const auto &first = raw.entries[0];
        EXPECT_EQ(first.central.size32, kOverflow);
        ASSERT_EQ(first.central.extra.count(kZip64Id), 1u);
        EXPECT_EQ(LittleEndian(first.central.extra.at(kZip64Id), 0, 8), size);
        EXPECT_EQ(first.local.size32, kOverflow);
        ASSERT_EQ(first.local.extra.count(kZip64Id), 1u);
        EXPECT_EQ(LittleEndian(first.local.extra.at(kZip64Id), 0, 8), size);
        EXPECT_EQ(raw.entries[1].central.extra.count(kZip64Id), 0u);
        EXPECT_FALSE(raw.zip64End);

        ExpectBigThenAfter(sink, raw, size, after);
    }
}

// Stored, so that the entry after the big one starts past 4 GiB.
TEST(BoundaryTest, StoredEntriesOf4GiBMinusOneAnd4GiBThenOneMore)
{
    const std::string after = "after the zeros";
    for (const std::uint64_t size : kSizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        SparseSink sink;
        ZeroSource zeros(size);
        ASSERT_TRUE(WriteBigThenText(sink, "zeros.bin", Compression::Store, zeros, size, after));
        EXPECT_GT(sink.Size(), size);
        EXPECT_LT(sink.KeptBytes(), std::uint64_t {1} << 20) << "the zeros are not kept";

        const auto raw = ReadRawZip(sink);
        ASSERT_TRUE(raw.ok) << raw.error;
        ASSERT_EQ(raw.entries.size(), 2u);
        EXPECT_EQ(raw.entries[0].central.size32, kOverflow);
        EXPECT_EQ(raw.entries[0].central.compressedSize32, kOverflow);
        EXPECT_GT(raw.entries[1].offset, std::uint64_t {kOverflow});
        EXPECT_EQ(raw.entries[1].central.offset32, kOverflow);
        // unzip 6.0 took the offset for a size after an entry of exactly 0xffffffff bytes
        // when the zip64 field held the offset alone.
        ASSERT_EQ(raw.entries[1].central.extra.count(kZip64Id), 1u);
        EXPECT_EQ(raw.entries[1].central.extra.at(kZip64Id).size(), 24u);
        EXPECT_EQ(raw.entries[1].local.name, "after.txt") << "offset resolved through zip64";
        EXPECT_TRUE(raw.zip64End) << "the central directory starts past 4 GiB";

        ExpectBigThenAfter(sink, raw, size, after);
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
