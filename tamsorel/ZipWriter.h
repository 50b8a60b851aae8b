#pragma once

// The zip writer proper: writes entries into an open file, one after the other, and
// finishes the archive with its central directory. An entry is either streamed from a
// source in bounded memory or handed over already compressed (see ArchivePipeline). Memory
// use does not depend on the size of the files; it grows only with the number of entries
// (one small record each).

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tamsorel {

// Where an entry's bytes come from.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads up to size bytes: the count read, 0 at the end, -1 on a read error.
    virtual std::int64_t Read(unsigned char *buffer, std::size_t size) = 0;
};

// A regular file on disk, read to its end (not to the size it had when opened).
class FileSource : public ByteSource
{
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    // False when the path cannot be opened or is not a regular file. FIFOs and devices are
    // opened without blocking and refused.
    bool Open(const char *path);
    const struct stat &Status() const { return status_; }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override;

private:
    int fd_ = -1;
    struct stat status_
    { };
};

// How an entry's data is kept.
enum class Compression {
    Auto, // deflated, unless a sample of the data shows deflate would hardly shrink it
    Deflate, // always deflated (an empty entry is stored all the same)
    Store, // always stored
};

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

// True when deflate would save too little on data to be worth its time: judged from a few
// samples of it compressed at a fast level, so that incompressible media are copied at the
// speed of the disk. Thread-safe.
bool LooksIncompressible(const unsigned char *data, std::size_t size);

// An entry whose data is at hand in full, already compressed or to be stored.
struct PreparedData
{
    const unsigned char *data = nullptr; // what goes into the archive, size bytes
    std::size_t size = 0;
    std::uint64_t originalSize = 0;
    std::uint32_t crc = 0; // of the original data
    bool deflated = false; // false: data is the original, stored
};

// Buffered output to a file descriptor with an error latch: once a write, seek or
// truncation fails, every later operation fails too.
class OutputFile
{
public:
    explicit OutputFile(int fd);
    bool Write(const void *data, std::size_t size);
    // Overwrites bytes written earlier.
    bool WriteAt(std::uint64_t offset, const void *data, std::size_t size);
    // Drops everything from offset on.
    bool TruncateTo(std::uint64_t offset);
    bool Flush();
    bool Sync();
    std::uint64_t Offset() const { return flushed_ + buffer_.size(); }
    bool Failed() const { return failed_; }

private:
    bool WriteOut(std::uint64_t offset, const unsigned char *data, std::size_t size);
    // Starts the disk writing the data written so far, so that the final sync does not
    // have to wait for all of it.
    void StartWriteback();

    int fd_;
    std::uint64_t flushed_ = 0; // file offset of buffer_[0]
    std::uint64_t writebackFrom_ = 0; // written out but not yet handed to the disk
    std::vector<unsigned char> buffer_;
    bool failed_ = false;
};

class ZipWriter
{
public:
    enum class AddResult {
        Added,
        SourceFailed, // the entry was dropped; the archive is intact without it
        WriteFailed, // the archive is unusable
    };

    // Writes to fd from its start; the descriptor stays the caller's.
    explicit ZipWriter(int fd);
    ~ZipWriter();
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    // Streams the source to its end (the bytes actually read, whatever size it had).
    AddResult AddEntry(const EntryInfo &info, ByteSource &source);
    // Writes an entry whose data is complete already; it never fails for its source.
    AddResult AddPrepared(const EntryInfo &info, const PreparedData &data);

    // An entry written in pieces: Begin, its data (deflate output or the original bytes)
    // appended in order, then End with what the data is, or Abort to drop it again. No other
    // entry may be added in between.
    AddResult BeginEntry(const EntryInfo &info);
    bool AppendData(const unsigned char *data, std::size_t size);
    AddResult EndEntry(bool deflated, std::uint32_t crc, std::uint64_t size);
    AddResult AbortEntry();
    // Writes the central directory and the end records, then flushes and syncs the file.
    bool Finish();
    bool Failed() const { return out_.Failed(); }
    std::size_t EntryCount() const { return entries_.size(); }

    static constexpr std::size_t kReadChunk = 1 << 20;

private:
    struct Entry
    {
        std::string name;
        std::uint64_t offset = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
        std::uint32_t mtime = 0;
        std::uint32_t mode = 0;
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
        std::uint16_t versionNeeded = 0;
        std::uint16_t dosTime = 0;
        std::uint16_t dosDate = 0;
    };
    class Deflater;

    // Fills the fields common to every entry; false when the name cannot be stored.
    bool StartEntry(const EntryInfo &info, Entry &e);
    void WriteCentralHeader(const Entry &entry);

    OutputFile out_;
    Entry current_; // the entry between BeginEntry and EndEntry
    std::uint64_t currentDataStart_ = 0;
    std::unique_ptr<Deflater> deflater_;
    std::vector<unsigned char> input_;
    std::vector<unsigned char> output_;
    std::vector<Entry> entries_;
};

} // namespace tamsorel
