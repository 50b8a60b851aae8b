#pragma once

// The zip writer proper: writes entries into a sink, one after the other, and finishes the
// archive with its central directory. An entry's data is handed over either in full or in
// pieces (see ArchivePipeline), already compressed or to be stored. Memory use does not
// depend on the size of the files; it grows only with the number of entries: each one's
// central header, kept as the bytes that will be written.

#include "tamsorel/BufferedOutput.h"
#include "tamsorel/Compression.h"
#include "tamsorel/EntrySource.h"
#include "tamsorel/OutputSink.h"
#include "tamsorel/ZipFormat.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tamsorel {

// What an entry's headers say besides its data.
struct EntryInfo
{
    Compression compression = Compression::Auto;
    std::string name; // stored name, already cleaned
    std::int64_t mtime = 0; // seconds since the epoch, for the extended timestamp
    std::uint16_t dosTime = 0; // local time in MS-DOS form, for readers without the above
    std::uint16_t dosDate = 0;
    std::uint32_t mode = 0644; // Unix permission bits
};

// Fills the time fields from a modification time (local time for the MS-DOS form).
void SetEntryTime(EntryInfo &info, std::time_t mtime);
// Fills the time fields from a broken-down local time, normalised as mktime does.
void SetEntryTime(EntryInfo &info, const struct tm &time);

// An entry whose data is at hand in full, already compressed or to be stored.
struct PreparedData
{
    const unsigned char *data = nullptr; // what goes into the archive, size bytes
    std::size_t size = 0;
    std::uint64_t originalSize = 0;
    std::uint32_t crc = 0; // of the original data
    bool deflated = false; // false: data is the original, stored
};

class ZipWriter
{
public:
    enum class AddResult {
        Added,
        SourceFailed, // the entry was dropped; the archive is intact without it
        WriteFailed, // the archive is unusable
    };

    // Writes to the sink from its start; the sink stays the caller's.
    explicit ZipWriter(OutputSink &sink);

    // Writes an entry whose data is complete already; it never fails for its source.
    AddResult AddPrepared(const EntryInfo &info, const PreparedData &data);

    // An entry written in pieces: Begin, its data (deflate output or the original bytes)
    // appended in order, then End with what the data is, or Abort to drop it again. No other
    // entry may be added in between.
    AddResult BeginEntry(const EntryInfo &info);
    bool AppendData(const unsigned char *data, std::size_t size);
    AddResult EndEntry(bool deflated, std::uint32_t crc, std::uint64_t size);
    AddResult AbortEntry();

    // Writes the central directory and the end records, then flushes and syncs the sink.
    bool Finish();
    bool Failed() const { return out_.Failed(); }
    std::size_t EntryCount() const { return entryCount_; }

private:
    // The record of a new entry at the current offset; false when the name cannot be stored.
    bool StartEntry(const EntryInfo &info, zip::EntryRecord &entry);
    // Writes the entry's local header, or rewrites it at its offset.
    bool WriteLocalHeader(const zip::EntryRecord &entry, bool rewrite);
    // Keeps the central header of an entry that is complete.
    void KeepCentralHeader(const zip::EntryRecord &entry);

    BufferedOutput out_;
    zip::EntryRecord current_; // the entry between BeginEntry and EndEntry
    std::uint64_t currentDataStart_ = 0;
    // The central directory so far, in blocks of bounded size: a million entries neither
    // copy it all over again as it grows nor need one block of that size.
    std::vector<std::vector<unsigned char>> directory_;
    std::size_t entryCount_ = 0;
    std::vector<unsigned char> header_; // reused for every header
};

} // namespace tamsorel
