#include "tamsorel/ZipWriter.h"

#include "io/Io.h"
#include "tamsorel/EntryName.h"
#include "tamsorel/WholeDeflate.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>
#include <zlib.h>

namespace tamsorel {

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kTimestampExtraId = 0x5455;
// The "growth hint" padding field of Open Packaging: readers skip it. Every local header
// carries one of the size of a local zip64 field, so that an entry whose sizes turn out to
// need 64 bits (the file grew while it was read, or deflate expanded it) can get one
// without moving its data.
constexpr std::uint16_t kPaddingExtraId = 0xa220;
constexpr std::uint16_t kPaddingSignature = 0xa028;
constexpr std::size_t kLocalZip64Size = 4 + 16; // header, then both sizes

constexpr std::uint64_t kMax32 = 0xffffffffu;
constexpr std::uint64_t kMax16 = 0xffffu;
constexpr std::uint16_t kMadeByUnix = 3 << 8;
constexpr std::uint16_t kVersionStore = 10;
constexpr std::uint16_t kVersionDeflate = 20;
constexpr std::uint16_t kVersionZip64 = 45;
constexpr std::uint16_t kFlagUtf8 = 1 << 11;
constexpr std::uint16_t kMethodStore = 0;
constexpr std::uint16_t kMethodDeflate = 8;

constexpr std::size_t kOutputBufferSize = 1 << 20;
constexpr std::uint64_t kWritebackStep = 8 << 20;
constexpr std::size_t kDeflateOutputSize = 256 << 10;

// Store-or-deflate judgement: up to three samples of this size, at the start, the middle
// and the end; deflate must save at least 3% of them at its fastest level.
constexpr std::size_t kSampleSize = 64 << 10;
constexpr std::size_t kSamplePercentKept = 97;

class Bytes
{
public:
    void U16(std::uint64_t v)
    {
        data.push_back(static_cast<unsigned char>(v));
        data.push_back(static_cast<unsigned char>(v >> 8));
    }
    void U32(std::uint64_t v)
    {
        U16(v & 0xffff);
        U16((v >> 16) & 0xffff);
    }
    void U64(std::uint64_t v)
    {
        U32(v & kMax32);
        U32(v >> 32);
    }
    void Append(const std::string &s) { data.insert(data.end(), s.begin(), s.end()); }

    std::vector<unsigned char> data;
};

std::uint32_t Clamp32(std::uint64_t v)
{
    return static_cast<std::uint32_t>(v < kMax32 ? v : kMax32);
}

std::vector<unsigned char> LocalHeader(const std::string &name, std::uint16_t versionNeeded,
                                       std::uint16_t flags, std::uint16_t method,
                                       std::uint16_t dosTime, std::uint16_t dosDate,
                                       std::uint32_t crc, std::uint64_t compressedSize,
                                       std::uint64_t size, std::uint32_t mtime)
{
    const bool zip64 = compressedSize >= kMax32 || size >= kMax32;
    Bytes h;
    h.U32(kLocalHeaderSignature);
    h.U16(versionNeeded);
    h.U16(flags);
    h.U16(method);
    h.U16(dosTime);
    h.U16(dosDate);
    h.U32(crc);
    h.U32(zip64 ? kMax32 : compressedSize);
    h.U32(zip64 ? kMax32 : size);
    h.U16(name.size());
    h.U16(kLocalZip64Size + 9);
    h.Append(name);
    if (zip64) {
        h.U16(kZip64ExtraId);
        h.U16(16);
        h.U64(size);
        h.U64(compressedSize);
    } else {
        h.U16(kPaddingExtraId);
        h.U16(16);
        h.U16(kPaddingSignature);
        h.U16(0);
        h.U64(0);
        h.U32(0);
    }
    h.U16(kTimestampExtraId);
    h.U16(5);
    h.data.push_back(1); // modification time present
    h.U32(mtime);
    return std::move(h.data);
}

void PackDosTime(const struct tm &t, std::uint16_t &dosTime, std::uint16_t &dosDate)
{
    const int year = t.tm_year + 1900;
    if (year < 1980) { // the MS-DOS form cannot say earlier
        dosDate = (1 << 5) | 1;
        dosTime = 0;
        return;
    }
    if (year > 2107) {
        dosDate = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
        dosTime = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
        return;
    }
    const int sec = t.tm_sec > 59 ? 59 : t.tm_sec;
    dosDate = static_cast<std::uint16_t>(((year - 1980) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
    dosTime = static_cast<std::uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (sec / 2));
}

std::uint32_t UnixTime32(std::int64_t t)
{
    if (t < INT32_MIN)
        t = INT32_MIN;
    if (t > INT32_MAX)
        t = INT32_MAX;
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(t));
}

// Deflates sample into at most 97% of its size: the compressed size, or the sample's own
// size when it does not fit.
std::size_t SampleCost(const unsigned char *sample, std::size_t size)
{
    thread_local std::vector<unsigned char> output(kSampleSize);
    const std::size_t room = size * kSamplePercentKept / 100;
    const std::size_t n
        = DeflateWhole(1, sample, size, output.data(), std::min(room, output.size()));
    return n == 0 ? size : n;
}

} // namespace

bool LooksIncompressible(const unsigned char *data, std::size_t size)
{
    if (size == 0)
        return false;
    std::size_t taken = 0;
    std::size_t cost = 0;
    if (size <= 3 * kSampleSize) {
        for (std::size_t at = 0; at < size; at += kSampleSize) {
            const std::size_t n = std::min(kSampleSize, size - at);
            cost += SampleCost(data + at, n);
            taken += n;
        }
    } else {
        for (const std::size_t at :
             {std::size_t {0}, size / 2 - kSampleSize / 2, size - kSampleSize}) {
            cost += SampleCost(data + at, kSampleSize);
            taken += kSampleSize;
        }
    }
    return cost * 100 > taken * kSamplePercentKept;
}

// --- FileSource

FileSource::~FileSource()
{
    if (fd_ >= 0)
        kelvane::io::Close(fd_);
}

bool FileSource::Open(const char *path)
{
    if (fd_ >= 0) {
        kelvane::io::Close(fd_);
        fd_ = -1;
    }
    // O_NONBLOCK: opening a FIFO without a writer must not hang the run.
    const int fd = kelvane::io::Open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (kelvane::io::Fstat(fd, &status_) != 0 || !S_ISREG(status_.st_mode)) {
        kelvane::io::Close(fd);
        return false;
    }
#ifndef _WIN32
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#endif
    fd_ = fd;
    return true;
}

std::int64_t FileSource::Read(unsigned char *buffer, std::size_t size)
{
    if (fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t n = kelvane::io::Read(fd_, buffer, size);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -1;
    }
}

// --- Entry times

void SetEntryTime(EntryInfo &info, std::time_t mtime)
{
    info.mtime = mtime;
    struct tm local
    { };
    if (::localtime_r(&mtime, &local))
        PackDosTime(local, info.dosTime, info.dosDate);
}

void SetEntryTime(EntryInfo &info, const struct tm &time)
{
    struct tm normal = time;
    info.mtime = std::mktime(&normal);
    PackDosTime(normal, info.dosTime, info.dosDate);
}

// --- OutputFile

OutputFile::OutputFile(int fd) : fd_(fd)
{
    buffer_.reserve(kOutputBufferSize);
}

bool OutputFile::WriteOut(std::uint64_t offset, const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = kelvane::io::PWrite(fd_, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed_ = true;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            failed_ = true;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

void OutputFile::StartWriteback()
{
#ifdef SYNC_FILE_RANGE_WRITE
    if (failed_ || flushed_ < writebackFrom_ + kWritebackStep)
        return;
    // Only a hint: a file that cannot take it (a device) is written all the same.
    ::sync_file_range(fd_, static_cast<off_t>(writebackFrom_),
                      static_cast<off_t>(flushed_ - writebackFrom_), SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = flushed_;
#endif
}

bool OutputFile::Write(const void *data, std::size_t size)
{
    if (failed_)
        return false;
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (buffer_.size() + size > kOutputBufferSize && !Flush())
        return false;
    if (size >= kOutputBufferSize) {
        if (!WriteOut(flushed_, bytes, size))
            return false;
        flushed_ += size;
        StartWriteback();
        return true;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
}

bool OutputFile::WriteAt(std::uint64_t offset, const void *data, std::size_t size)
{
    if (failed_)
        return false;
    if (offset + size > Offset()) { // only rewrites, never extends
        failed_ = true;
        return false;
    }
    if (offset >= flushed_) {
        std::memcpy(buffer_.data() + (offset - flushed_), data, size);
        return true;
    }
    if (offset + size > flushed_ && !Flush())
        return false;
    return WriteOut(offset, static_cast<const unsigned char *>(data), size);
}

bool OutputFile::TruncateTo(std::uint64_t offset)
{
    if (failed_)
        return false;
    if (offset >= flushed_) {
        if (offset < Offset())
            buffer_.resize(offset - flushed_);
        return true;
    }
    buffer_.clear();
    writebackFrom_ = std::min(writebackFrom_, offset);
    if (kelvane::io::Ftruncate(fd_, static_cast<off_t>(offset)) != 0) {
        failed_ = true;
        return false;
    }
    flushed_ = offset;
    return true;
}

bool OutputFile::Flush()
{
    if (failed_)
        return false;
    if (buffer_.empty())
        return true;
    const bool ok = WriteOut(flushed_, buffer_.data(), buffer_.size());
    flushed_ += buffer_.size();
    buffer_.clear();
    StartWriteback();
    return ok;
}

bool OutputFile::Sync()
{
    if (!Flush())
        return false;
    if (kelvane::io::Fsync(fd_) != 0) {
        failed_ = true;
        return false;
    }
    return true;
}

// --- ZipWriter

// One raw deflate stream, reset for every entry so that its memory is allocated once.
class ZipWriter::Deflater
{
public:
    Deflater()
    {
        std::memset(&stream_, 0, sizeof stream_);
        if (deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY)
            != Z_OK)
            throw std::bad_alloc();
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    bool Reset() { return deflateReset(&stream_) == Z_OK; }

    // Compresses size bytes (none with Z_FINISH at the end) and writes what comes out.
    bool Run(const unsigned char *data, std::size_t size, int flush,
             std::vector<unsigned char> &buffer, OutputFile &out)
    {
        stream_.next_in = const_cast<unsigned char *>(data);
        stream_.avail_in = static_cast<uInt>(size);
        for (;;) {
            stream_.next_out = buffer.data();
            stream_.avail_out = static_cast<uInt>(buffer.size());
            const int rc = deflate(&stream_, flush);
            if (rc == Z_STREAM_ERROR)
                return false;
            const std::size_t produced = buffer.size() - stream_.avail_out;
            if (produced > 0 && !out.Write(buffer.data(), produced))
                return false;
            if (flush == Z_FINISH) {
                if (rc == Z_STREAM_END)
                    return true;
            } else if (stream_.avail_out != 0) {
                return true;
            }
        }
    }

private:
    z_stream stream_;
};

ZipWriter::ZipWriter(int fd) : out_(fd) { }

ZipWriter::~ZipWriter() = default;

bool ZipWriter::StartEntry(const EntryInfo &info, Entry &e)
{
    if (info.name.empty() || info.name.size() > kMax16)
        return false;
    e.name = info.name;
    e.offset = out_.Offset();
    e.flags = NeedsUtf8Flag(info.name) ? kFlagUtf8 : 0;
    e.method = kMethodDeflate;
    e.dosTime = info.dosTime;
    e.dosDate = info.dosDate;
    e.mtime = UnixTime32(info.mtime);
    e.mode = info.mode & 07777;
    return true;
}

namespace {

std::uint16_t VersionNeeded(std::uint64_t offset, std::uint64_t size, std::uint64_t compressedSize,
                            std::uint16_t method)
{
    if (size >= kMax32 || compressedSize >= kMax32 || offset >= kMax32)
        return kVersionZip64;
    return method == kMethodStore ? kVersionStore : kVersionDeflate;
}

} // namespace

ZipWriter::AddResult ZipWriter::AddEntry(const EntryInfo &info, ByteSource &source)
{
    if (out_.Failed())
        return AddResult::WriteFailed;
    Entry e;
    if (!StartEntry(info, e))
        return AddResult::SourceFailed;

    // The streaming buffers and zlib's state are made on the first streamed entry only: an
    // archive of prepared entries (most of them, and thousands a run) never needs them.
    if (!deflater_) {
        input_.resize(kReadChunk);
        output_.resize(kDeflateOutputSize);
        deflater_ = std::make_unique<Deflater>();
    }
    const std::vector<unsigned char> placeholder = LocalHeader(
        e.name, kVersionDeflate, e.flags, e.method, e.dosTime, e.dosDate, 0, 0, 0, e.mtime);
    if (!out_.Write(placeholder.data(), placeholder.size()) || !deflater_->Reset())
        return AddResult::WriteFailed;
    const std::uint64_t dataStart = out_.Offset();

    std::uint32_t crc = 0;
    bool store = info.compression == Compression::Store;
    for (;;) {
        const std::int64_t n = source.Read(input_.data(), input_.size());
        if (n < 0) // drop what this entry wrote; the archive stays as it was before it
            return out_.TruncateTo(e.offset) ? AddResult::SourceFailed : AddResult::WriteFailed;
        if (n == 0)
            break;
        const auto count = static_cast<std::size_t>(n);
        // The first chunk decides for the whole entry, as a media file's start tells what
        // the rest is like.
        if (e.size == 0 && info.compression == Compression::Auto)
            store = LooksIncompressible(input_.data(), count);
        crc = Crc32(crc, input_.data(), count);
        e.size += count;
        if (store ? !out_.Write(input_.data(), count)
                  : !deflater_->Run(input_.data(), count, Z_NO_FLUSH, output_, out_))
            return AddResult::WriteFailed;
    }
    if (e.size == 0) // an empty file is stored: no deflate stream at all
        store = true;
    if (!store && !deflater_->Run(nullptr, 0, Z_FINISH, output_, out_))
        return AddResult::WriteFailed;
    e.crc = crc;
    e.compressedSize = out_.Offset() - dataStart;
    if (store)
        e.method = kMethodStore;

    e.versionNeeded = VersionNeeded(e.offset, e.size, e.compressedSize, e.method);
    const std::vector<unsigned char> header
        = LocalHeader(e.name, e.versionNeeded, e.flags, e.method, e.dosTime, e.dosDate, e.crc,
                      e.compressedSize, e.size, e.mtime);
    if (header.size() != placeholder.size()
        || !out_.WriteAt(e.offset, header.data(), header.size()))
        return AddResult::WriteFailed;
    entries_.push_back(std::move(e));
    return AddResult::Added;
}

ZipWriter::AddResult ZipWriter::AddPrepared(const EntryInfo &info, const PreparedData &data)
{
    if (out_.Failed())
        return AddResult::WriteFailed;
    Entry e;
    if (!StartEntry(info, e))
        return AddResult::SourceFailed;
    e.method = data.deflated ? kMethodDeflate : kMethodStore;
    e.crc = data.crc;
    e.size = data.originalSize;
    e.compressedSize = data.size;
    e.versionNeeded = VersionNeeded(e.offset, e.size, e.compressedSize, e.method);
    // The same header layout as a streamed entry's, padding field included, so that every
    // entry looks alike to a reader.
    const std::vector<unsigned char> header
        = LocalHeader(e.name, e.versionNeeded, e.flags, e.method, e.dosTime, e.dosDate, e.crc,
                      e.compressedSize, e.size, e.mtime);
    if (!out_.Write(header.data(), header.size()) || !out_.Write(data.data, data.size))
        return AddResult::WriteFailed;
    entries_.push_back(std::move(e));
    return AddResult::Added;
}

ZipWriter::AddResult ZipWriter::BeginEntry(const EntryInfo &info)
{
    if (out_.Failed())
        return AddResult::WriteFailed;
    current_ = Entry();
    if (!StartEntry(info, current_))
        return AddResult::SourceFailed;
    const std::vector<unsigned char> placeholder
        = LocalHeader(current_.name, kVersionDeflate, current_.flags, current_.method,
                      current_.dosTime, current_.dosDate, 0, 0, 0, current_.mtime);
    if (!out_.Write(placeholder.data(), placeholder.size()))
        return AddResult::WriteFailed;
    currentDataStart_ = out_.Offset();
    return AddResult::Added;
}

bool ZipWriter::AppendData(const unsigned char *data, std::size_t size)
{
    return out_.Write(data, size);
}

ZipWriter::AddResult ZipWriter::EndEntry(bool deflated, std::uint32_t crc, std::uint64_t size)
{
    if (out_.Failed())
        return AddResult::WriteFailed;
    Entry &e = current_;
    e.method = deflated ? kMethodDeflate : kMethodStore;
    e.crc = crc;
    e.size = size;
    e.compressedSize = out_.Offset() - currentDataStart_;
    e.versionNeeded = VersionNeeded(e.offset, e.size, e.compressedSize, e.method);
    const std::vector<unsigned char> header
        = LocalHeader(e.name, e.versionNeeded, e.flags, e.method, e.dosTime, e.dosDate, e.crc,
                      e.compressedSize, e.size, e.mtime);
    if (header.size() != currentDataStart_ - e.offset
        || !out_.WriteAt(e.offset, header.data(), header.size()))
        return AddResult::WriteFailed;
    entries_.push_back(std::move(e));
    current_ = Entry();
    return AddResult::Added;
}

ZipWriter::AddResult ZipWriter::AbortEntry()
{
    const std::uint64_t offset = current_.offset;
    current_ = Entry();
    return out_.TruncateTo(offset) ? AddResult::SourceFailed : AddResult::WriteFailed;
}

void ZipWriter::WriteCentralHeader(const Entry &e)
{
    // A zip64 field, when needed at all, carries both sizes (their classic fields say
    // 0xffffffff), as in the local header: Info-ZIP's unzip 6.0 reads a size from it
    // whenever an earlier entry's size was exactly 0xffffffff, and would take an offset
    // that stood first for that size.
    const bool sizes64 = e.size >= kMax32 || e.compressedSize >= kMax32 || e.offset >= kMax32;
    Bytes zip64;
    if (sizes64) {
        zip64.U64(e.size);
        zip64.U64(e.compressedSize);
    }
    if (e.offset >= kMax32)
        zip64.U64(e.offset);
    const std::size_t extraSize = (zip64.data.empty() ? 0 : 4 + zip64.data.size()) + 9;

    Bytes h;
    h.U32(kCentralHeaderSignature);
    h.U16(kMadeByUnix | (e.versionNeeded == kVersionZip64 ? kVersionZip64 : kVersionDeflate));
    h.U16(e.versionNeeded);
    h.U16(e.flags);
    h.U16(e.method);
    h.U16(e.dosTime);
    h.U16(e.dosDate);
    h.U32(e.crc);
    h.U32(sizes64 ? kMax32 : e.compressedSize);
    h.U32(sizes64 ? kMax32 : e.size);
    h.U16(e.name.size());
    h.U16(extraSize);
    h.U16(0); // comment
    h.U16(0); // disk
    h.U16(0); // internal attributes
    h.U32(static_cast<std::uint64_t>(S_IFREG | e.mode) << 16);
    h.U32(Clamp32(e.offset));
    h.Append(e.name);
    if (!zip64.data.empty()) {
        h.U16(kZip64ExtraId);
        h.U16(zip64.data.size());
        h.data.insert(h.data.end(), zip64.data.begin(), zip64.data.end());
    }
    h.U16(kTimestampExtraId);
    h.U16(5);
    h.data.push_back(1);
    h.U32(e.mtime);
    out_.Write(h.data.data(), h.data.size());
}

bool ZipWriter::Finish()
{
    if (out_.Failed())
        return false;
    const std::uint64_t directoryStart = out_.Offset();
    for (const Entry &e : entries_)
        WriteCentralHeader(e);
    const std::uint64_t directoryEnd = out_.Offset();
    const std::uint64_t directorySize = directoryEnd - directoryStart;
    const std::uint64_t count = entries_.size();

    Bytes end;
    if (count >= kMax16 || directoryStart >= kMax32 || directorySize >= kMax32) {
        end.U32(kZip64EndSignature);
        end.U64(44); // size of the rest of this record
        end.U16(kMadeByUnix | kVersionZip64);
        end.U16(kVersionZip64);
        end.U32(0); // this disk
        end.U32(0); // disk of the directory
        end.U64(count);
        end.U64(count);
        end.U64(directorySize);
        end.U64(directoryStart);
        end.U32(kZip64LocatorSignature);
        end.U32(0);
        end.U64(directoryEnd);
        end.U32(1); // disks in all
    }
    end.U32(kEndSignature);
    end.U16(0);
    end.U16(0);
    end.U16(count < kMax16 ? count : kMax16);
    end.U16(count < kMax16 ? count : kMax16);
    end.U32(Clamp32(directorySize));
    end.U32(Clamp32(directoryStart));
    end.U16(0); // comment
    return out_.Write(end.data.data(), end.data.size()) && out_.Sync();
}

} // namespace tamsorel
