// Archives exactly at the limits of the classic zip fields: entries of 4 GiB - 1 bytes (the
// largest size a 32-bit field holds, and also its "see zip64" marker) and 4 GiB, and 65,535
// and 65,536 entries (the same for the 16-bit count). Every archive is read back by 7-Zip,
// Info-ZIP and Python's zipfile. Slow (minutes): registered with the label "long".

#include "LongTestSupport.h"
#include "RawZip.h"
#include "tamsorel/ZipWriter.h"
#include "tamsorel/tamsorel.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

using kelvane::test::ReaderReport;
using kelvane::test::ReadWithAllReaders;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;
using tamsorel::test::FreeBytes;
using tamsorel::test::kFourGiB;
using tamsorel::test::kOverflow;
using tamsorel::test::LittleEndian;
using tamsorel::test::ReadRawZip;
using tamsorel::test::WriteBigThenText;

namespace {

const std::uint64_t kSizes[] = {kFourGiB - 1, kFourGiB};

// Bytes the file takes on disk, as du counts them.
std::uint64_t DiskUse(const std::string &path)
{
    struct stat st
    { };
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_blocks) * 512 : 0;
}

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

class ZeroSource : public tamsorel::ByteSource
{
public:
    explicit ZeroSource(std::uint64_t length) : left_(length) { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, left_));
        std::fill_n(buffer, n, 0);
        left_ -= n;
        return static_cast<std::int64_t>(n);
    }

private:
    std::uint64_t left_;
};

// The readers' one report on an archive of a big zero entry and a small one after it.
void ExpectBigThenSmall(const std::string &archive, const std::string &bigName,
                        std::uint64_t bigSize, const std::string &smallName,
                        const std::string &small)
{
    const std::vector<ReaderReport> reports = ReadWithAllReaders({archive});
    ASSERT_EQ(reports.size(), 1u) << "7zz, unzip and python3 are needed";
    const ReaderReport &report = reports[0];
    for (const std::string &problem : report.problems)
        ADD_FAILURE() << problem;
    ASSERT_EQ(report.entries.size(), 2u);
    EXPECT_EQ(report.entries[0].name, bigName);
    EXPECT_EQ(report.entries[0].size, bigSize);
    EXPECT_EQ(report.entries[0].crc, ZeroCrc(bigSize));
    EXPECT_EQ(report.entries[1].name, smallName);
    EXPECT_EQ(report.entries[1].size, small.size());
    EXPECT_EQ(report.entries[1].crc, Crc(small));
    EXPECT_EQ(report.entries[1].data, small);
}

} // namespace

// Sparse zero files at both sizes through the exported interface, as a run adds them:
// deflated, so that neither the source nor the archive takes real space.
TEST(TamsorelBoundaryTest, SparseFilesOf4GiBMinusOneAnd4GiB)
{
    TempDir dir;
    if (FreeBytes(dir.path()) < kFourGiB / 4)
        GTEST_SKIP() << "less than 1 GiB free";
    const std::string small = "the small file after the big one";
    WriteFile(dir / "small.txt", small);
    for (const std::uint64_t size : kSizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string big = dir / "zeros.bin";
        {
            const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
            ::close(fd);
        }
        EXPECT_LT(DiskUse(big), std::uint64_t {1} << 20) << "the source is sparse";

        const std::string archive = dir / ("zeros" + std::to_string(size) + ".zip");
        ArchiveHandle h = ArchiveOpen(archive.c_str(), 0);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(ArchiveAddFile(h, big.c_str(), nullptr, 0, "zeros.bin"));
        ASSERT_TRUE(ArchiveAddFile(h, (dir / "small.txt").c_str(), nullptr, 0, "small.txt"));
        ASSERT_TRUE(ArchiveClose(&h));
        ::unlink(big.c_str());
        EXPECT_LT(DiskUse(archive), std::uint64_t {64} << 20) << "zeros deflate well";

        // Both sizes need the zip64 field: 0xffffffff in the classic one means "look there".
        const auto raw = ReadRawZip(archive);
        ASSERT_TRUE(raw.ok) << raw.error;
        ASSERT_EQ(raw.entries.size(), 2u);
        const auto &first = raw.entries[0];
        EXPECT_EQ(first.central.size32, kOverflow);
        ASSERT_EQ(first.central.extra.count(0x0001), 1u);
        EXPECT_EQ(LittleEndian(first.central.extra.at(0x0001), 0, 8), size);
        EXPECT_EQ(raw.entries[1].central.extra.count(0x0001), 0u);

        ExpectBigThenSmall(archive, "zeros.bin", size, "small.txt", small);
        ::unlink(archive.c_str());
    }
}

// The same sizes stored, so that the entry after the big one starts past 4 GiB: the
// archive takes real space, one at a time.
TEST(TamsorelBoundaryTest, StoredEntriesOf4GiBMinusOneAnd4GiBThenOneMore)
{
    TempDir dir;
    if (FreeBytes(dir.path()) < 3 * kFourGiB)
        GTEST_SKIP() << "less than 12 GiB free";
    const std::string after = "after the zeros";
    for (const std::uint64_t size : kSizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string archive = dir / "stored.zip";
        ZeroSource zeros(size);
        ASSERT_TRUE(
            WriteBigThenText(archive, "zeros.bin", tamsorel::Compression::Store, zeros, after));

        const auto raw = ReadRawZip(archive);
        ASSERT_TRUE(raw.ok) << raw.error;
        ASSERT_EQ(raw.entries.size(), 2u);
        EXPECT_EQ(raw.entries[0].central.size32, kOverflow);
        EXPECT_EQ(raw.entries[0].central.compressedSize32, kOverflow);
        EXPECT_GT(raw.entries[1].offset, std::uint64_t {kOverflow});
        EXPECT_EQ(raw.entries[1].central.offset32, kOverflow);
        // unzip 6.0 took the offset for a size after an entry of exactly 0xffffffff bytes
        // when the zip64 field held the offset alone.
        ASSERT_EQ(raw.entries[1].central.extra.count(0x0001), 1u);
        EXPECT_EQ(raw.entries[1].central.extra.at(0x0001).size(), 24u);
        EXPECT_EQ(raw.entries[1].local.name, "after.txt") << "offset resolved through zip64";
        EXPECT_TRUE(raw.zip64End) << "the central directory starts past 4 GiB";

        ExpectBigThenSmall(archive, "zeros.bin", size, "after.txt", after);
        ::unlink(archive.c_str());
    }
}

// Small entries, 65,535 and 65,536 of them: 0xffff in the 16-bit count also means "see
// the zip64 end record", so both counts need it.
TEST(TamsorelBoundaryTest, Archives65535And65536Entries)
{
    TempDir dir;
    // A few different contents, so that an entry read from the wrong place shows.
    constexpr int kContents = 7;
    for (int k = 0; k < kContents; ++k)
        WriteFile(dir / ("c" + std::to_string(k)), "content " + std::to_string(k));
    for (const int count : {65535, 65536}) {
        SCOPED_TRACE("count " + std::to_string(count));
        const std::string archive = dir / ("many" + std::to_string(count) + ".zip");
        ArchiveHandle h = ArchiveOpen(archive.c_str(), 0);
        ASSERT_NE(h, nullptr);
        char name[32];
        for (int i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "d/n%05d.txt", i);
            const std::string source = dir / ("c" + std::to_string(i % kContents));
            ASSERT_TRUE(ArchiveAddFile(h, source.c_str(), nullptr, 0, name)) << i;
        }
        ASSERT_TRUE(ArchiveClose(&h));

        const auto raw = ReadRawZip(archive);
        ASSERT_TRUE(raw.ok) << raw.error;
        EXPECT_TRUE(raw.zip64End);
        EXPECT_EQ(raw.entryCount, static_cast<std::uint64_t>(count));

        const std::vector<ReaderReport> reports = ReadWithAllReaders({archive});
        ASSERT_EQ(reports.size(), 1u) << "7zz, unzip and python3 are needed";
        for (const std::string &problem : reports[0].problems)
            ADD_FAILURE() << problem;
        const auto &entries = reports[0].entries;
        ASSERT_EQ(entries.size(), static_cast<std::size_t>(count));
        std::vector<int> sample = {count - 2, count - 1};
        for (int i = 0; i < count; i += 4099)
            sample.push_back(i);
        for (const int i : sample) {
            std::snprintf(name, sizeof name, "d/n%05d.txt", i);
            const auto &entry = entries[static_cast<std::size_t>(i)];
            EXPECT_EQ(entry.name, name);
            EXPECT_EQ(entry.data, "content " + std::to_string(i % kContents)) << i;
        }
        ::unlink(archive.c_str());
    }
}
