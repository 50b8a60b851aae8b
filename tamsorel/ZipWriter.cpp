#include "tamsorel/ZipWriter.h"

#include "tamsorel/EntryName.h"

#include <algorithm>

namespace tamsorel {

void SetEntryTime(EntryInfo &info, std::time_t mtime)
{
    info.mtime = mtime;
    struct tm local
    { };
    if (::localtime_r(&mtime, &local))
        zip::PackDosTime(local, info.dosTime, info.dosDate);
}

void SetEntryTime(EntryInfo &info, const struct tm &time)
{
    struct tm normal = time;
    info.mtime = std::mktime(&normal);
    zip::PackDosTime(normal, info.dosTime, info.dosDate);
}

namespace {

// The central directory grows in blocks up to this size.
constexpr std::size_t kDirectoryBlock = std::size_t {1} << 20;

} // namespace

ZipWriter::ZipWriter(OutputSink &sink) : out_(sink) { }

void ZipWriter::KeepCentralHeader(const zip::EntryRecord &e)
{
    header_.clear();
    zip::AppendCentralHeader(e, header_);
    if (directory_.empty() || directory_.back().size() + header_.size() > kDirectoryBlock)
        directory_.emplace_back();
    std::vector<unsigned char> &block = directory_.back();
    // A block grows by doubling up to its size, never beyond.
    if (block.capacity() < block.size() + header_.size())
        block.reserve(std::min(std::max(2 * block.capacity(), block.size() + header_.size()),
                               kDirectoryBlock));
    block.insert(block.end(), header_.begin(), header_.end());
    ++entryCount_;
}

bool ZipWriter::StartEntry(const EntryInfo &info, zip::EntryRecord &e)
{
    if (info.name.empty() || info.name.size() > zip::kMax16)
        return false;
    e = zip::EntryRecord();
    e.name = info.name;
    e.offset = out_.Offset();
    e.flags = NeedsUtf8Flag(info.name) ? zip::kFlagUtf8 : 0;
    e.dosTime = info.dosTime;
    e.dosDate = info.dosDate;
    e.mtime = info.mtime;
    e.mode = info.mode;
    return true;
}

bool ZipWriter::WriteLocalHeader(const zip::EntryRecord &e, bool rewrite)
{
    header_.clear();
    zip::AppendLocalHeader(e, header_);
    if (header_.size() != zip::LocalHeaderSize(e.name))
        return false;
    return rewrite ? out_.WriteAt(e.offset, header_.data(), header_.size())
                   : out_.Write(header_.data(), header_.size());
}

ZipWriter::AddResult ZipWriter::AddPrepared(const EntryInfo &info, const PreparedData &data)
{
    if (out_.Failed())
        return AddResult::WriteFailed;
    zip::EntryRecord e;
    if (!StartEntry(info, e))
        return AddResult::SourceFailed;
    e.method = data.deflated ? zip::kMethodDeflate : zip::kMethodStore;
    e.crc = data.crc;
    e.size = data.originalSize;
    e.compressedSize = data.size;
    if (!WriteLocalHeader(e, false) || !out_.Write(data.data, data.size))
        return AddResult::WriteFailed;
    KeepCentralHeader(e);
    return AddResult::Added;
}

ZipWriter::AddResult ZipWriter::BeginEntry(const EntryInfo &info)
{
    if (out_.Failed())
        return AddResult::WriteFailed;
    if (!StartEntry(info, current_))
        return AddResult::SourceFailed;
    // A placeholder of the same size, rewritten once the sizes and CRC are known.
    if (!WriteLocalHeader(current_, false))
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
    zip::EntryRecord &e = current_;
    e.method = deflated ? zip::kMethodDeflate : zip::kMethodStore;
    e.crc = crc;
    e.size = size;
    e.compressedSize = out_.Offset() - currentDataStart_;
    if (!WriteLocalHeader(e, true))
        return AddResult::WriteFailed;
    KeepCentralHeader(e);
    current_ = zip::EntryRecord();
    return AddResult::Added;
}

ZipWriter::AddResult ZipWriter::AbortEntry()
{
    const std::uint64_t offset = current_.offset;
    current_ = zip::EntryRecord();
    return out_.TruncateTo(offset) ? AddResult::SourceFailed : AddResult::WriteFailed;
}

bool ZipWriter::Finish()
{
    if (out_.Failed())
        return false;
    zip::DirectoryRecord directory;
    directory.offset = out_.Offset();
    directory.entries = entryCount_;
    for (const std::vector<unsigned char> &block : directory_)
        out_.Write(block.data(), block.size());
    directory.size = out_.Offset() - directory.offset;
    header_.clear();
    zip::AppendEndRecords(directory, header_);
    return out_.Write(header_.data(), header_.size()) && out_.Sync();
}

} // namespace tamsorel
