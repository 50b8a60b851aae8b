#pragma once

// What the tests of archives around 4 GiB share: the sizes, the free-space check, sources
// that need no disk, and an archive of one big entry and a short text after it.

#include "tamsorel/FileSink.h"
#include "tamsorel/Pipeline.h"
#include "tests/support/StringSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace tamsorel::test {

constexpr std::uint64_t kFourGiB = std::uint64_t {1} << 32;
constexpr std::uint32_t kOverflow = 0xffffffffu;

inline std::uint64_t FreeBytes(const std::string &dir)
{
    struct statvfs fs
    { };
    if (::statvfs(dir.c_str(), &fs) != 0)
        return 0;
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

using kelvane::test::StringSource;

// Zeros up to a given length, without touching the disk.
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

// Writes an archive into sink: bigName from big (bigSize bytes) with the given compression,
// then "after.txt" holding after, left to the writer's choice.
inline ::testing::AssertionResult WriteBigThenText(tamsorel::OutputSink &sink,
                                                   const std::string &bigName,
                                                   tamsorel::Compression compression,
                                                   tamsorel::ByteSource &big, std::uint64_t bigSize,
                                                   const std::string &after)
{
    using AddResult = tamsorel::ArchivePipeline::AddResult;
    tamsorel::ArchivePipeline pipeline(sink);
    tamsorel::EntryInfo info;
    info.name = bigName;
    info.compression = compression;
    tamsorel::SetEntryTime(info, 1700000000);
    if (pipeline.Add(info, big, bigSize) != AddResult::Added)
        return ::testing::AssertionFailure() << "the big entry failed";
    info.name = "after.txt";
    info.compression = tamsorel::Compression::Auto;
    StringSource text(after);
    if (pipeline.Add(info, text, after.size()) != AddResult::Added || !pipeline.Finish())
        return ::testing::AssertionFailure() << "the archive failed";
    return ::testing::AssertionSuccess();
}

// The same into a new file.
inline ::testing::AssertionResult WriteBigThenText(const std::string &archive,
                                                   const std::string &bigName,
                                                   tamsorel::Compression compression,
                                                   tamsorel::ByteSource &big, std::uint64_t bigSize,
                                                   const std::string &after)
{
    const int fd = ::open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return ::testing::AssertionFailure() << "cannot create " << archive;
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    {
        tamsorel::FileSink sink(fd);
        result = WriteBigThenText(sink, bigName, compression, big, bigSize, after);
    }
    ::close(fd);
    return result;
}

} // namespace tamsorel::test
