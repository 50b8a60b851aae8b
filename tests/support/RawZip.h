#pragma once

// Reads the header fields of a zip archive byte by byte, for the checks that a reader
// library hides: flag bits, version fields, extra fields, the MS-DOS time and the end
// records. Deliberately written from the format description, independent of the writer.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tamsorel::test {

struct RawHeader
{
    std::uint16_t versionMadeBy = 0; // central header only
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize32 = 0;
    std::uint32_t size32 = 0;
    std::uint32_t externalAttributes = 0; // central header only
    std::uint32_t offset32 = 0; // central header only
    std::string name;
    std::map<std::uint16_t, std::string> extra; // by header id
};

struct RawEntry
{
    RawHeader central;
    RawHeader local;
    // Resolved through zip64 where needed.
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t offset = 0;
    std::uint64_t dataOffset = 0; // past the local header
};

struct RawZip
{
    bool ok = false;
    std::string error;
    bool zip64End = false; // a zip64 end record and locator are present
    std::uint64_t entryCount = 0; // from the end record that applies
    std::vector<RawEntry> entries;
};

// Reads the central directory from the end records, then each entry's local header. Holds
// only headers in memory, so it suits archives of any size.
RawZip ReadRawZip(const std::string &path);
// The same over any bytes: readAt fills out with n bytes from offset, false past the end.
using ReadAt = std::function<bool(std::uint64_t offset, std::size_t n, std::string &out)>;
RawZip ReadRawZip(std::uint64_t size, const ReadAt &readAt);

// Little-endian field of an extra field's data.
std::uint64_t LittleEndian(const std::string &data, std::size_t offset, std::size_t width);

} // namespace tamsorel::test
