#pragma once

// A byte source over a string for the back end's writers: it serves the string in pieces
// of at most `piece` bytes, then ends, or fails once `failAt` bytes have been served.

#include "tamsorel/ZipWriter.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace kelvane::test {

class StringSource : public tamsorel::ByteSource
{
public:
    explicit StringSource(std::string data, std::size_t failAt = std::string::npos,
                          std::size_t piece = 300000)
        : data_(std::move(data)), failAt_(failAt), piece_(piece)
    { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        if (pos_ >= failAt_)
            return -1;
        const std::size_t end = std::min(data_.size(), failAt_);
        const std::size_t n = std::min({size, piece_, end - pos_});
        std::copy_n(data_.data() + pos_, n, buffer);
        pos_ += n;
        return static_cast<std::int64_t>(n);
    }

private:
    std::string data_;
    std::size_t failAt_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

} // namespace kelvane::test
