#pragma once

// The zip records this writer produces, as named fields: the local header before each
// entry's data, the central header of each entry, and the end records. Encoding only; the
// order of writing is the writer's business.

#include "tamsorel/ZipLayout.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tamsorel::zip {

// Everything the headers of one entry say.
struct EntryRecord
{
    std::string name; // stored bytes, at most kMax16 of them
    std::uint64_t offset = 0; // of the local header in the archive
    std::uint64_t compressedSize = 0; // of the data as stored
    std::uint64_t size = 0; // of the original data
    std::uint32_t crc = 0; // of the original data
    std::int64_t mtime = 0; // seconds since the epoch
    std::uint32_t mode = 0; // Unix permission bits
    std::uint16_t method = kMethodDeflate;
    std::uint16_t flags = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
};

// Where the central directory is and what it holds.
struct DirectoryRecord
{
    std::uint64_t entries = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Every local header has this size for a given name, whatever the entry's sizes turn out to
// be, so that a header written before the data can be rewritten in place after it.
std::size_t LocalHeaderSize(const std::string &name);

void AppendLocalHeader(const EntryRecord &entry, std::vector<unsigned char> &out);
void AppendCentralHeader(const EntryRecord &entry, std::vector<unsigned char> &out);
// The end of the central directory, with the zip64 end record and locator before it when a
// count, size or offset needs them.
void AppendEndRecords(const DirectoryRecord &directory, std::vector<unsigned char> &out);

// The MS-DOS form of a broken-down local time, clamped to the years it can say.
void PackDosTime(const struct tm &time, std::uint16_t &dosTime, std::uint16_t &dosDate);

} // namespace tamsorel::zip
