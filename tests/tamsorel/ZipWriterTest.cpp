// The entry writer on its own, fed from sources that misbehave in ways a real file does
// only by chance: changing size while it is read, failing part-way, a full disk.

#include "tamsorel/ZipWriter.h"
#include "RawZip.h"
#include "io/Io.h"
#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

using kelvane::test::ReadFile;
using kelvane::test::ReadZip;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;
using tamsorel::ByteSource;
using tamsorel::EntryInfo;
using tamsorel::FileSource;
using tamsorel::ZipWriter;
using tamsorel::test::ReadRawZip;

namespace {

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char &c : s)
        c = static_cast<char>(gen());
    return s;
}

EntryInfo Info(const std::string &name)
{
    EntryInfo info;
    info.name = name;
    tamsorel::SetEntryTime(info, 1000000000);
    return info;
}

// Serves a string, then either ends or fails, in pieces of at most `piece` bytes.
class StringSource : public ByteSource
{
public:
    StringSource(std::string data, bool failAtEnd, std::size_t piece = 1 << 20)
        : data_(std::move(data)), failAtEnd_(failAtEnd), piece_(piece)
    { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        if (pos_ == data_.size())
            return failAtEnd_ ? -1 : 0;
        const std::size_t n = std::min({size, piece_, data_.size() - pos_});
        std::copy_n(data_.data() + pos_, n, buffer);
        pos_ += n;
        return static_cast<std::int64_t>(n);
    }

private:
    std::string data_;
    bool failAtEnd_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

// Reads a real file and runs an action on it once the first chunk has been read: the file
// changes under the reader exactly as another program writing to it would make it.
class ChangingFileSource : public ByteSource
{
public:
    ChangingFileSource(FileSource &file, std::function<void()> change)
        : file_(file), change_(std::move(change))
    { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        const std::int64_t n = file_.Read(buffer, size);
        if (change_) {
            change_();
            change_ = nullptr;
        }
        return n;
    }

private:
    FileSource &file_;
    std::function<void()> change_;
};

int CreateOutput(const std::string &path)
{
    return kelvane::io::Open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

} // namespace

TEST(ZipWriterTest, FileChangingWhileReadIsStoredAsTheBytesActuallyRead)
{
    TempDir dir;
    const std::string original = RandomBytes(3 << 20, 1);
    const std::string extra = RandomBytes(1 << 20, 2);
    WriteFile(dir / "shrinks", original);
    WriteFile(dir / "grows", original);

    const int fd = CreateOutput(dir / "out.zip");
    ASSERT_GE(fd, 0);
    {
        ZipWriter writer(fd);
        FileSource shrinking;
        ASSERT_TRUE(shrinking.Open((dir / "shrinks").c_str()));
        ASSERT_EQ(shrinking.Status().st_size, 3 << 20);
        ChangingFileSource shrink(
            shrinking, [&] { ASSERT_EQ(::truncate((dir / "shrinks").c_str(), (3 << 20) / 2), 0); });
        EXPECT_EQ(writer.AddEntry(Info("shrinks"), shrink), ZipWriter::AddResult::Added);

        FileSource growing;
        ASSERT_TRUE(growing.Open((dir / "grows").c_str()));
        ChangingFileSource grow(growing, [&] {
            const int g = kelvane::io::Open((dir / "grows").c_str(), O_WRONLY | O_APPEND);
            ASSERT_GE(g, 0);
            ASSERT_EQ(kelvane::io::Write(g, extra.data(), extra.size()),
                      static_cast<ssize_t>(extra.size()));
            kelvane::io::Close(g);
        });
        EXPECT_EQ(writer.AddEntry(Info("grows"), grow), ZipWriter::AddResult::Added);
        EXPECT_TRUE(writer.Finish());
    }
    kelvane::io::Close(fd);

    const auto zip = ReadZip(dir / "out.zip");
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 2u);
    EXPECT_EQ(zip.entries[0].data, original.substr(0, (3 << 20) / 2));
    EXPECT_EQ(zip.entries[1].data, original + extra);
    const auto raw = ReadRawZip(dir / "out.zip");
    ASSERT_TRUE(raw.ok) << raw.error;
    EXPECT_EQ(raw.entries[0].central.size32, (3u << 20) / 2);
    EXPECT_EQ(raw.entries[0].local.size32, (3u << 20) / 2);
    EXPECT_EQ(raw.entries[1].central.size32, (4u << 20));
    EXPECT_EQ(raw.entries[1].local.crc, raw.entries[1].central.crc);
}

TEST(ZipWriterTest, SourceFailingPartWayDropsOnlyThatEntry)
{
    TempDir dir;
    const std::string before = RandomBytes(200000, 3);
    const std::string after = "after the failure";
    const int fd = CreateOutput(dir / "out.zip");
    ASSERT_GE(fd, 0);
    {
        ZipWriter writer(fd);
        StringSource first(before, false);
        StringSource failing(RandomBytes(5 << 20, 4), true); // fails after 5 MiB of data
        StringSource last(after, false, 3); // dribbles in tiny pieces
        EXPECT_EQ(writer.AddEntry(Info("first"), first), ZipWriter::AddResult::Added);
        EXPECT_EQ(writer.AddEntry(Info("failing"), failing), ZipWriter::AddResult::SourceFailed);
        EXPECT_FALSE(writer.Failed());
        EXPECT_EQ(writer.AddEntry(Info("last"), last), ZipWriter::AddResult::Added);
        EXPECT_EQ(writer.EntryCount(), 2u);
        EXPECT_TRUE(writer.Finish());
    }
    kelvane::io::Close(fd);

    const auto zip = ReadZip(dir / "out.zip");
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 2u);
    EXPECT_EQ(zip.entries[0].name, "first");
    EXPECT_EQ(zip.entries[0].data, before);
    EXPECT_EQ(zip.entries[1].name, "last");
    EXPECT_EQ(zip.entries[1].data, after);
    // Nothing of the failed entry is left between the two: the archive is no bigger than
    // its two entries need.
    EXPECT_LT(ReadFile(dir / "out.zip").size(), before.size() + 1000);
    int status = 0;
    tamsorel::test::RunCommand("unzip -tqq " + tamsorel::test::ShellQuote(dir / "out.zip"),
                               &status);
    EXPECT_EQ(status, 0);
}

#ifndef _WIN32 // no /dev/full
TEST(ZipWriterTest, WriteErrorFailsTheEntryAndEverythingAfter)
{
    const int fd = kelvane::io::Open("/dev/full", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        GTEST_SKIP() << "no /dev/full";
    {
        ZipWriter writer(fd);
        StringSource big(RandomBytes(3 << 20, 5), false);
        EXPECT_EQ(writer.AddEntry(Info("big"), big), ZipWriter::AddResult::WriteFailed);
        EXPECT_TRUE(writer.Failed());
        StringSource small("x", false);
        EXPECT_EQ(writer.AddEntry(Info("small"), small), ZipWriter::AddResult::WriteFailed);
        EXPECT_FALSE(writer.Finish());
    }
    {
        // A small entry fits in the buffer; the full disk shows when the archive is finished.
        ZipWriter writer(fd);
        StringSource small("x", false);
        EXPECT_EQ(writer.AddEntry(Info("small"), small), ZipWriter::AddResult::Added);
        EXPECT_FALSE(writer.Finish());
    }
    kelvane::io::Close(fd);
}
#endif

TEST(ZipWriterTest, EmptyEntryIsStoredWithoutDeflateStream)
{
    TempDir dir;
    const int fd = CreateOutput(dir / "out.zip");
    ASSERT_GE(fd, 0);
    {
        ZipWriter writer(fd);
        StringSource empty("", false);
        StringSource text("text", false);
        EXPECT_EQ(writer.AddEntry(Info("empty"), empty), ZipWriter::AddResult::Added);
        // Four bytes would be stored if left to the sample; deflate is asked for here.
        EntryInfo deflated = Info("text");
        deflated.compression = tamsorel::Compression::Deflate;
        EXPECT_EQ(writer.AddEntry(deflated, text), ZipWriter::AddResult::Added);
        EXPECT_TRUE(writer.Finish());
    }
    kelvane::io::Close(fd);
    const auto raw = ReadRawZip(dir / "out.zip");
    ASSERT_TRUE(raw.ok) << raw.error;
    ASSERT_EQ(raw.entries.size(), 2u);
    EXPECT_EQ(raw.entries[0].central.method, 0);
    EXPECT_EQ(raw.entries[0].local.method, 0);
    EXPECT_EQ(raw.entries[0].central.compressedSize32, 0u);
    EXPECT_EQ(raw.entries[1].central.method, 8);
    // The second entry starts right after the first one's header: no stray bytes.
    std::size_t extraSize = 0;
    for (const auto &field : raw.entries[0].local.extra)
        extraSize += 4 + field.second.size();
    EXPECT_EQ(raw.entries[1].offset, 30 + std::string("empty").size() + extraSize);
    const auto zip = ReadZip(dir / "out.zip");
    ASSERT_TRUE(zip.ok) << zip.error;
    EXPECT_EQ(zip.entries[1].data, "text");
}
