// Archives past the 4 GiB limits of the classic zip fields. Slow (minutes): registered
// with the label "long".

#include "LongTestSupport.h"
#include "tamsorel/tamsorel.h"
#include "tests/support/RawZip.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kelvane::test;
using namespace tamsorel::test;

namespace {

void CheckWithOtherReaders(const std::string &archive, const std::string &expectedSizes)
{
    int status = -1;
    const std::string unzip = RunCommand("unzip -tqq " + ShellQuote(archive) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << unzip;
    const std::string py = RunCommand("python3 -c "
                                          + ShellQuote("import sys, zipfile\n"
                                                       "z = zipfile.ZipFile(sys.argv[1])\n"
                                                       "assert z.testzip() is None\n"
                                                       "print([i.file_size for i in z.infolist()])")
                                          + " " + ShellQuote(archive) + " 2>&1",
                                      &status);
    EXPECT_EQ(status, 0) << py;
    EXPECT_EQ(py, expectedSizes + "\n");
    if (std::system("command -v 7zz >/dev/null 2>&1") == 0) {
        const std::string sz = RunCommand("7zz t " + ShellQuote(archive) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << sz;
        EXPECT_NE(sz.find("Everything is Ok"), std::string::npos) << sz;
    }
}

// Endless-looking noise from a fixed seed, up to a given length, without touching the disk.
class NoiseSource : public tamsorel::ByteSource
{
public:
    explicit NoiseSource(std::uint64_t length) : left_(length) { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, left_));
        for (std::size_t i = 0; i < n; ++i) {
            if (i % 8 == 0) {
                state_ ^= state_ << 13;
                state_ ^= state_ >> 7;
                state_ ^= state_ << 17;
            }
            buffer[i] = static_cast<unsigned char>(state_ >> (8 * (i % 8)));
        }
        left_ -= n;
        return static_cast<std::int64_t>(n);
    }

private:
    std::uint64_t left_;
    std::uint64_t state_ = 0x9e3779b97f4a7c15u;
};

} // namespace

// A file just over 4 GiB (sparse: mostly zeros, a few bytes at its end) and a small file
// after it, through the exported interface.
TEST(TamsorelLongTest, FileOver4GiBThenSmallFile)
{
    TempDir dir;
    if (FreeBytes(dir.path()) < 10 * kFourGiB / 4)
        GTEST_SKIP() << "less than 10 GiB free";
    const std::string big = dir / "big.bin";
    const std::uint64_t zeros = kFourGiB + 1000;
    const std::string tail = "tail!";
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(zeros)), 0);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(zeros)),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }
    const std::uint64_t bigSize = zeros + tail.size();
    const std::string small = "the small file after the big one";
    WriteFile(dir / "small.txt", small);

    const std::string archive = dir / "big.zip";
    ArchiveHandle h = ArchiveOpen(archive.c_str(), 0);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(ArchiveAddFile(h, big.c_str(), nullptr, 0, "big.bin"));
    ASSERT_TRUE(ArchiveAddFile(h, (dir / "small.txt").c_str(), nullptr, 0, "small.txt"));
    ASSERT_TRUE(ArchiveClose(&h));
    ::unlink(big.c_str());

    const auto zip = ReadZip(archive, false);
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 2u);
    EXPECT_EQ(zip.entries[0].name, "big.bin");
    EXPECT_EQ(static_cast<std::uint64_t>(zip.entries[0].size), bigSize);
    EXPECT_EQ(zip.entries[1].name, "small.txt");
    EXPECT_EQ(static_cast<std::uint64_t>(zip.entries[1].size), small.size());

    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    const auto &first = raw.entries[0];
    EXPECT_EQ(first.local.versionNeeded, 45);
    EXPECT_EQ(first.central.versionNeeded, 45);
    EXPECT_EQ(first.local.size32, kOverflow);
    EXPECT_EQ(first.local.compressedSize32, kOverflow);
    ASSERT_EQ(first.local.extra.count(0x0001), 1u);
    EXPECT_EQ(LittleEndian(first.local.extra.at(0x0001), 0, 8), bigSize);
    EXPECT_EQ(first.central.size32, kOverflow);
    EXPECT_EQ(first.central.compressedSize32, kOverflow);
    ASSERT_EQ(first.central.extra.at(0x0001).size(), 16u) << "both sizes, no offset";
    EXPECT_EQ(LittleEndian(first.central.extra.at(0x0001), 0, 8), bigSize);
    EXPECT_EQ(raw.entries[1].central.extra.count(0x0001), 0u);
    EXPECT_EQ(raw.entries[1].local.extra.count(0x0001), 0u);

    CheckWithOtherReaders(
        archive, "[" + std::to_string(bigSize) + ", " + std::to_string(small.size()) + "]");
}

// Incompressible data just under 4 GiB: deflate makes it a little larger, so only the
// compressed size needs 64 bits, and the entry after it starts beyond 4 GiB.
TEST(TamsorelLongTest, CompressedSizeAndOffsetPast4GiB)
{
    TempDir dir;
    if (FreeBytes(dir.path()) < 3 * kFourGiB)
        GTEST_SKIP() << "less than 12 GiB free";
    const std::uint64_t size = kOverflow - (256 << 10);
    const std::string after = "after the noise";
    const std::string archive = dir / "noise.zip";
    // Left to itself the writer would store noise; deflated, it grows past 4 GiB.
    NoiseSource noiseData(size);
    ASSERT_TRUE(WriteBigThenText(archive, "noise.bin", tamsorel::Compression::Deflate, noiseData,
                                 size, after));

    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    EXPECT_TRUE(raw.zip64End) << "the central directory starts past 4 GiB";
    const auto &noise = raw.entries.at(0);
    // The zip64 field holds both sizes, though only the compressed one overflowed.
    EXPECT_EQ(noise.central.size32, kOverflow);
    EXPECT_EQ(noise.central.compressedSize32, kOverflow);
    ASSERT_EQ(noise.central.extra.at(0x0001).size(), 16u);
    EXPECT_EQ(LittleEndian(noise.central.extra.at(0x0001), 0, 8), size);
    const std::uint64_t compressed = LittleEndian(noise.central.extra.at(0x0001), 8, 8);
    EXPECT_GT(compressed, std::uint64_t {kOverflow});
    EXPECT_EQ(noise.local.size32, kOverflow) << "a local zip64 field holds both sizes";
    EXPECT_EQ(LittleEndian(noise.local.extra.at(0x0001), 0, 8), size);
    EXPECT_EQ(LittleEndian(noise.local.extra.at(0x0001), 8, 8), compressed);
    const auto &second = raw.entries.at(1);
    EXPECT_EQ(second.central.offset32, kOverflow);
    EXPECT_EQ(second.central.size32, kOverflow) << "sizes go with the offset";
    ASSERT_EQ(second.central.extra.at(0x0001).size(), 24u);
    EXPECT_EQ(LittleEndian(second.central.extra.at(0x0001), 0, 8), after.size());
    EXPECT_GT(second.offset, std::uint64_t {kOverflow});
    EXPECT_EQ(second.local.name, "after.txt") << "offset resolved through zip64";

    const auto zip = ReadZip(archive, false);
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 2u);
    EXPECT_EQ(static_cast<std::uint64_t>(zip.entries[0].size), size);
    EXPECT_EQ(static_cast<std::uint64_t>(zip.entries[1].size), after.size());

    CheckWithOtherReaders(archive,
                          "[" + std::to_string(size) + ", " + std::to_string(after.size()) + "]");
}
