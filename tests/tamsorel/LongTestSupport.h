#pragma once

// What the tests of archives around 4 GiB share: the sizes, the free-space check, and an
// archive of one big entry and a short text after it, written by the zip writer.

#include "tamsorel/ZipWriter.h"

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

class StringSource : public tamsorel::ByteSource
{
public:
    explicit StringSource(std::string s) : s_(std::move(s)) { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        const std::size_t n = std::min(size, s_.size() - pos_);
        std::copy_n(s_.data() + pos_, n, buffer);
        pos_ += n;
        return static_cast<std::int64_t>(n);
    }

private:
    std::string s_;
    std::size_t pos_ = 0;
};

// Writes archive anew: bigName from big with the given compression, then "after.txt"
// holding after, left to the writer's choice.
inline ::testing::AssertionResult WriteBigThenText(const std::string &archive,
                                                   const std::string &bigName,
                                                   tamsorel::Compression compression,
                                                   tamsorel::ByteSource &big,
                                                   const std::string &after)
{
    const int fd = ::open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return ::testing::AssertionFailure() << "cannot create " << archive;
    bool ok = false;
    {
        tamsorel::ZipWriter writer(fd);
        tamsorel::EntryInfo info;
        info.name = bigName;
        info.compression = compression;
        tamsorel::SetEntryTime(info, 1700000000);
        if (writer.AddEntry(info, big) == tamsorel::ZipWriter::AddResult::Added) {
            info.name = "after.txt";
            info.compression = tamsorel::Compression::Auto;
            StringSource text(after);
            ok = writer.AddEntry(info, text) == tamsorel::ZipWriter::AddResult::Added
                && writer.Finish();
        }
    }
    ::close(fd);
    if (!ok)
        return ::testing::AssertionFailure() << "the writer failed on " << archive;
    return ::testing::AssertionSuccess();
}

} // namespace tamsorel::test
