// The shared test helpers on Windows: UTF-8 paths through std::filesystem's wide ones, and
// a zip reader of its own over zlib (libarchive has no Windows build here). The archives
// are also read by the Linux readers after the run (tests/support/ZipReaders.h).

#include "tests/support/TestSupport.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kelvane::test {

namespace {

fs::path Path(const std::string &utf8)
{
    return fs::u8path(utf8);
}

std::string Utf8(const fs::path &path)
{
    return path.u8string();
}

std::uint64_t Little(const unsigned char *p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

struct CentralEntry
{
    std::string name;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    std::int64_t mtime = 0;
};

// The central directory, or an error.
std::string ReadDirectory(const std::string &archive, std::vector<CentralEntry> &entries)
{
    const std::size_t tail = std::min<std::size_t>(archive.size(), 65557);
    std::size_t end = std::string::npos;
    for (std::size_t at = archive.size() - std::min<std::size_t>(archive.size(), 22) + 1;
         at-- > archive.size() - tail;)
        if (archive.compare(at, 4, "PK\x05\x06") == 0) {
            end = at;
            break;
        }
    if (end == std::string::npos)
        return "no end of central directory";
    const auto *e = reinterpret_cast<const unsigned char *>(archive.data() + end);
    std::uint64_t count = Little(e + 10, 2);
    std::uint64_t offset = Little(e + 16, 4);
    if ((count == 0xFFFF || offset == 0xFFFFFFFF) && end >= 20
        && archive.compare(end - 20, 4, "PK\x06\x07") == 0) {
        const std::uint64_t record
            = Little(reinterpret_cast<const unsigned char *>(archive.data() + end - 12), 8);
        if (record + 56 > archive.size() || archive.compare(record, 4, "PK\x06\x06") != 0)
            return "bad zip64 end record";
        const auto *z = reinterpret_cast<const unsigned char *>(archive.data() + record);
        count = Little(z + 32, 8);
        offset = Little(z + 48, 8);
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        if (offset + 46 > archive.size() || archive.compare(offset, 4, "PK\x01\x02") != 0)
            return "bad central header";
        const auto *c = reinterpret_cast<const unsigned char *>(archive.data() + offset);
        CentralEntry entry;
        entry.method = static_cast<std::uint16_t>(Little(c + 10, 2));
        const unsigned dosTime = static_cast<unsigned>(Little(c + 12, 2));
        const unsigned dosDate = static_cast<unsigned>(Little(c + 14, 2));
        entry.crc = static_cast<std::uint32_t>(Little(c + 16, 4));
        entry.compressedSize = Little(c + 20, 4);
        entry.size = Little(c + 24, 4);
        const std::size_t nameLength = Little(c + 28, 2);
        const std::size_t extraLength = Little(c + 30, 2);
        const std::size_t commentLength = Little(c + 32, 2);
        entry.offset = Little(c + 42, 4);
        if (offset + 46 + nameLength + extraLength > archive.size())
            return "central header past the end";
        entry.name = archive.substr(offset + 46, nameLength);
        std::tm local {};
        local.tm_year = static_cast<int>((dosDate >> 9) + 80);
        local.tm_mon = static_cast<int>(((dosDate >> 5) & 15) - 1);
        local.tm_mday = static_cast<int>(dosDate & 31);
        local.tm_hour = static_cast<int>(dosTime >> 11);
        local.tm_min = static_cast<int>((dosTime >> 5) & 63);
        local.tm_sec = static_cast<int>((dosTime & 31) * 2);
        local.tm_isdst = -1;
        entry.mtime = std::mktime(&local);
        // Extra fields: zip64 sizes and offset, and the Unix time stamp.
        const auto *x = c + 46 + nameLength;
        for (std::size_t at = 0; at + 4 <= extraLength;) {
            const unsigned id = static_cast<unsigned>(Little(x + at, 2));
            const std::size_t size = Little(x + at + 2, 2);
            const unsigned char *data = x + at + 4;
            if (id == 0x0001) {
                std::size_t used = 0;
                if (entry.size == 0xFFFFFFFF && used + 8 <= size)
                    entry.size = Little(data + used, 8), used += 8;
                if (entry.compressedSize == 0xFFFFFFFF && used + 8 <= size)
                    entry.compressedSize = Little(data + used, 8), used += 8;
                if (entry.offset == 0xFFFFFFFF && used + 8 <= size)
                    entry.offset = Little(data + used, 8);
            } else if (id == 0x5455 && size >= 5 && (data[0] & 1)) {
                entry.mtime = static_cast<std::int32_t>(Little(data + 1, 4));
            }
            at += 4 + size;
        }
        entries.push_back(std::move(entry));
        offset += 46 + nameLength + extraLength + commentLength;
    }
    return {};
}

// The entry's data, checked against its size and CRC; an error when it does not check.
std::string ReadEntry(const std::string &archive, const CentralEntry &entry, std::string &data)
{
    if (entry.offset + 30 > archive.size() || archive.compare(entry.offset, 4, "PK\x03\x04") != 0)
        return "bad local header";
    const auto *l = reinterpret_cast<const unsigned char *>(archive.data() + entry.offset);
    const std::uint64_t start = entry.offset + 30 + Little(l + 26, 2) + Little(l + 28, 2);
    if (start + entry.compressedSize > archive.size())
        return "data past the end";
    const char *in = archive.data() + start;
    if (entry.method == 0) {
        data.assign(in, entry.compressedSize);
    } else if (entry.method == 8) {
        data.assign(entry.size, '\0');
        z_stream z {};
        if (inflateInit2(&z, -15) != Z_OK)
            return "inflateInit";
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in));
        z.avail_in = static_cast<uInt>(entry.compressedSize);
        z.next_out = reinterpret_cast<Bytef *>(data.data());
        z.avail_out = static_cast<uInt>(data.size());
        const int rc = inflate(&z, Z_FINISH);
        const bool whole = rc == Z_STREAM_END && z.total_out == entry.size;
        inflateEnd(&z);
        if (!whole)
            return "inflate failed";
    } else {
        return "unknown method";
    }
    if (data.size() != entry.size)
        return "wrong size";
    const uLong crc
        = crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size()));
    if (crc != entry.crc)
        return "CRC mismatch";
    return {};
}

} // namespace

TempDir::TempDir()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate
            = fs::temp_directory_path() / ("kelvane-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = Utf8(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir()
{
    // Read-only files (a test's) would stay behind.
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(Path(path_), error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
    fs::remove_all(Path(path_), error);
}

std::string TempDir::operator/(const std::string &relative) const
{
    return path_ + "\\" + relative;
}

ScopedCurrentDir::ScopedCurrentDir(const std::string &dir)
{
    previous_ = Utf8(fs::current_path());
    std::error_code error;
    fs::current_path(Path(dir), error);
    if (error)
        throw std::runtime_error("chdir failed: " + dir);
}

ScopedCurrentDir::~ScopedCurrentDir()
{
    std::error_code error;
    fs::current_path(Path(previous_), error);
}

bool FileExists(const std::string &path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(Path(path), error));
}

bool IsDirectory(const std::string &path)
{
    std::error_code error;
    return fs::is_directory(Path(path), error);
}

std::vector<std::string> ListDir(const std::string &path)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(Path(path), error))
        names.push_back(Utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

void MakeDirs(const std::string &path)
{
    std::error_code error;
    fs::create_directories(Path(path), error);
}

ZipContents ReadZip(const std::string &path, bool withData)
{
    ZipContents result;
    std::string archive;
    try {
        archive = ReadFile(path);
    } catch (const std::exception &e) {
        result.error = e.what();
        return result;
    }
    std::vector<CentralEntry> entries;
    result.error = ReadDirectory(archive, entries);
    if (!result.error.empty())
        return result;
    for (const CentralEntry &central : entries) {
        ZipEntry entry;
        entry.name = central.name;
        entry.mtime = central.mtime;
        std::string data;
        result.error = ReadEntry(archive, central, data);
        entry.size = static_cast<std::int64_t>(data.size());
        if (withData)
            entry.data = std::move(data);
        result.entries.push_back(std::move(entry));
        if (!result.error.empty())
            return result;
    }
    result.ok = true;
    return result;
}

} // namespace kelvane::test
