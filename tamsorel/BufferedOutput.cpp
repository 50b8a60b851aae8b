#include "tamsorel/BufferedOutput.h"

#include <cstring>

namespace tamsorel {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

} // namespace

BufferedOutput::BufferedOutput(OutputSink &sink) : sink_(sink)
{
    buffer_.reserve(kBufferSize);
}

bool BufferedOutput::WriteOut(std::uint64_t offset, const unsigned char *data, std::size_t size)
{
    if (!sink_.WriteAt(offset, data, size))
        failed_ = true;
    return !failed_;
}

bool BufferedOutput::Write(const void *data, std::size_t size)
{
    if (failed_)
        return false;
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (buffer_.size() + size > kBufferSize && !Flush())
        return false;
    if (size >= kBufferSize) {
        if (!WriteOut(flushed_, bytes, size))
            return false;
        flushed_ += size;
        sink_.Settled(flushed_);
        return true;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
}

bool BufferedOutput::WriteAt(std::uint64_t offset, const void *data, std::size_t size)
{
    if (failed_)
        return false;
    if (offset + size > Offset()) {
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

bool BufferedOutput::TruncateTo(std::uint64_t offset)
{
    if (failed_)
        return false;
    if (offset >= flushed_) {
        if (offset < Offset())
            buffer_.resize(offset - flushed_);
        return true;
    }
    buffer_.clear();
    if (!sink_.Truncate(offset)) {
        failed_ = true;
        return false;
    }
    flushed_ = offset;
    return true;
}

bool BufferedOutput::Flush()
{
    if (failed_)
        return false;
    if (buffer_.empty())
        return true;
    const bool ok = WriteOut(flushed_, buffer_.data(), buffer_.size());
    flushed_ += buffer_.size();
    buffer_.clear();
    if (ok)
        sink_.Settled(flushed_);
    return ok;
}

bool BufferedOutput::Sync()
{
    if (!Flush())
        return false;
    if (!sink_.Sync()) {
        failed_ = true;
        return false;
    }
    return true;
}

} // namespace tamsorel
