// The test helpers of their own on Windows: the temporary folder, and a zip reader over zlib
// and the back end's tests' header reader (no libarchive for Windows here). The archives are
// also read by the Linux readers after the run (tests/support/ZipReaders.h).

#include "tests/support/RawZip.h"
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

// The modification time: the Unix time stamp where there is one, else the MS-DOS fields
// as local time.
std::int64_t ModificationTime(const tamsorel::test::RawHeader &central)
{
    const auto stamp = central.extra.find(0x5455);
    if (stamp != central.extra.end() && stamp->second.size() >= 5 && (stamp->second[0] & 1))
        return static_cast<std::int32_t>(tamsorel::test::LittleEndian(stamp->second, 1, 4));
    std::tm local {};
    local.tm_year = (central.dosDate >> 9) + 80;
    local.tm_mon = ((central.dosDate >> 5) & 15) - 1;
    local.tm_mday = central.dosDate & 31;
    local.tm_hour = central.dosTime >> 11;
    local.tm_min = (central.dosTime >> 5) & 63;
    local.tm_sec = (central.dosTime & 31) * 2;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// The entry's data, checked against its size and CRC; an error when it does not check.
std::string ReadEntry(const std::string &archive, const tamsorel::test::RawEntry &entry,
                      std::string &data)
{
    if (entry.dataOffset + entry.compressedSize > archive.size())
        return "data past the end";
    const char *in = archive.data() + entry.dataOffset;
    if (entry.central.method == 0) {
        data.assign(in, entry.compressedSize);
    } else if (entry.central.method == 8) {
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
    if (crc != entry.central.crc)
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
            path_ = candidate.u8string();
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir()
{
    // Read-only files (a test's) would stay behind.
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(fs::u8path(path_), error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
    fs::remove_all(fs::u8path(path_), error);
}

std::string TempDir::operator/(const std::string &relative) const
{
    return path_ + "\\" + relative;
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
    const tamsorel::test::RawZip raw = tamsorel::test::ReadRawZip(
        archive.size(), [&](std::uint64_t offset, std::size_t n, std::string &out) {
            if (offset > archive.size() || n > archive.size() - offset)
                return false;
            out = archive.substr(offset, n);
            return true;
        });
    if (!raw.ok) {
        result.error = raw.error;
        return result;
    }
    for (const tamsorel::test::RawEntry &rawEntry : raw.entries) {
        ZipEntry entry;
        entry.name = rawEntry.central.name;
        entry.mtime = ModificationTime(rawEntry.central);
        std::string data;
        result.error = ReadEntry(archive, rawEntry, data);
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
