#include "SparseSink.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstring>

namespace tamsorel::test {

namespace {

bool AllZero(const unsigned char *data, std::size_t size)
{
    static const unsigned char zeros[4096] = {};
    for (std::size_t at = 0; at < size; at += sizeof zeros)
        if (std::memcmp(data + at, zeros, std::min(sizeof zeros, size - at)) != 0)
            return false;
    return true;
}

// libarchive's view of the sink: a seekable file.
struct SinkFile
{
    const SparseSink &sink;
    std::uint64_t pos = 0;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(1 << 20);

    static la_ssize_t Read(archive *, void *self, const void **block)
    {
        auto &f = *static_cast<SinkFile *>(self);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(f.buffer.size(), f.sink.Size() - f.pos));
        if (!f.sink.ReadAt(f.pos, f.buffer.data(), n))
            return -1;
        f.pos += n;
        *block = f.buffer.data();
        return static_cast<la_ssize_t>(n);
    }
    static la_int64_t Seek(archive *, void *self, la_int64_t offset, int whence)
    {
        auto &f = *static_cast<SinkFile *>(self);
        const auto base = static_cast<la_int64_t>(whence == SEEK_SET       ? 0
                                                      : whence == SEEK_CUR ? f.pos
                                                                           : f.sink.Size());
        if (base + offset < 0 || static_cast<std::uint64_t>(base + offset) > f.sink.Size())
            return ARCHIVE_FATAL;
        f.pos = static_cast<std::uint64_t>(base + offset);
        return static_cast<la_int64_t>(f.pos);
    }
    static la_int64_t Skip(archive *a, void *self, la_int64_t request)
    {
        const auto before = static_cast<la_int64_t>(static_cast<SinkFile *>(self)->pos);
        const la_int64_t after = Seek(a, self, request, SEEK_CUR);
        return after < 0 ? 0 : after - before;
    }
};

} // namespace

bool SparseSink::WriteAt(std::uint64_t offset, const unsigned char *data, std::size_t size)
{
    if (offset > size_)
        return false;
    while (size > 0) {
        const std::uint64_t block = offset / kBlockSize;
        const std::size_t at = static_cast<std::size_t>(offset % kBlockSize);
        const std::size_t n = std::min(size, kBlockSize - at);
        auto kept = blocks_.find(block);
        if (kept == blocks_.end() && !AllZero(data, n))
            kept = blocks_.emplace(block, std::vector<unsigned char>(kBlockSize, 0)).first;
        if (kept != blocks_.end())
            std::memcpy(kept->second.data() + at, data, n);
        data += n;
        size -= n;
        offset += n;
    }
    size_ = std::max(size_, offset);
    return true;
}

bool SparseSink::Truncate(std::uint64_t size)
{
    blocks_.erase(blocks_.lower_bound((size + kBlockSize - 1) / kBlockSize), blocks_.end());
    const auto last = blocks_.find(size / kBlockSize);
    if (last != blocks_.end())
        std::fill(last->second.begin() + static_cast<std::ptrdiff_t>(size % kBlockSize),
                  last->second.end(), 0);
    size_ = size;
    return true;
}

bool SparseSink::ReadAt(std::uint64_t offset, unsigned char *out, std::size_t size) const
{
    if (offset > size_ || size > size_ - offset)
        return false;
    while (size > 0) {
        const std::uint64_t block = offset / kBlockSize;
        const std::size_t at = static_cast<std::size_t>(offset % kBlockSize);
        const std::size_t n = std::min(size, kBlockSize - at);
        const auto kept = blocks_.find(block);
        if (kept == blocks_.end())
            std::memset(out, 0, n);
        else
            std::memcpy(out, kept->second.data() + at, n);
        out += n;
        size -= n;
        offset += n;
    }
    return true;
}

RawZip ReadRawZip(const SparseSink &sink)
{
    return ReadRawZip(sink.Size(), [&](std::uint64_t offset, std::size_t n, std::string &out) {
        out.assign(n, '\0');
        return sink.ReadAt(offset, reinterpret_cast<unsigned char *>(out.data()), n);
    });
}

SinkZip ReadSinkZip(const SparseSink &sink, std::uint64_t dataLimit)
{
    SinkZip result;
    SinkFile file {sink};
    archive *a = archive_read_new();
    archive_read_support_format_zip_seekable(a);
    archive_read_set_callback_data(a, &file);
    archive_read_set_read_callback(a, &SinkFile::Read);
    archive_read_set_seek_callback(a, &SinkFile::Seek);
    archive_read_set_skip_callback(a, &SinkFile::Skip);
    if (archive_read_open1(a) != ARCHIVE_OK) {
        result.error = archive_error_string(a) ? archive_error_string(a) : "open failed";
        archive_read_free(a);
        return result;
    }
    archive_entry *header = nullptr;
    int rc;
    std::vector<unsigned char> buffer(1 << 20);
    while ((rc = archive_read_next_header(a, &header)) == ARCHIVE_OK) {
        SinkEntry e;
        e.name = archive_entry_pathname(header) ? archive_entry_pathname(header) : "";
        la_ssize_t n;
        while ((n = archive_read_data(a, buffer.data(), buffer.size())) > 0) {
            const auto count = static_cast<std::size_t>(n);
            e.allZero = e.allZero && AllZero(buffer.data(), count);
            e.size += count;
            if (e.size <= dataLimit)
                e.data.append(reinterpret_cast<const char *>(buffer.data()), count);
        }
        if (e.size > dataLimit)
            e.data.clear();
        result.entries.push_back(std::move(e));
        if (n < 0) {
            rc = ARCHIVE_FATAL;
            break;
        }
    }
    if (rc != ARCHIVE_EOF)
        result.error = archive_error_string(a) ? archive_error_string(a) : "read failed";
    result.ok = rc == ARCHIVE_EOF;
    archive_read_free(a);
    return result;
}

} // namespace tamsorel::test
