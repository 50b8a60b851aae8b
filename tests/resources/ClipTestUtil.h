#pragma once

// Small helpers shared by the clip tests.

#include "resources/tools/Rle8.h"
#include "ui/clip/AviClip.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::test {

inline bool LoadClip(AviClip &clip, const std::vector<std::uint8_t> &data)
{
    return clip.Load(data.data(), data.size());
}

inline bool LoadClip(AviClip &clip, std::string_view data)
{
    return clip.Load(reinterpret_cast<const unsigned char *>(data.data()), data.size());
}

inline std::vector<std::uint8_t> Bytes(std::string_view s)
{
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

inline std::uint32_t Get32(const std::vector<std::uint8_t> &d, std::size_t at)
{
    return static_cast<std::uint32_t>(d[at]) | static_cast<std::uint32_t>(d[at + 1]) << 8
        | static_cast<std::uint32_t>(d[at + 2]) << 16 | static_cast<std::uint32_t>(d[at + 3]) << 24;
}

inline void Set32(std::vector<std::uint8_t> &d, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        d[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Offset of the first occurrence of a four-character tag, or npos.
inline std::size_t FindTag(const std::vector<std::uint8_t> &d, const char *tag,
                           std::size_t from = 0)
{
    for (std::size_t i = from; i + 4 <= d.size(); ++i)
        if (std::memcmp(d.data() + i, tag, 4) == 0)
            return i;
    return std::string::npos;
}

// The frame chunks of a clip as the file holds them, found by walking the movi list
// independently of the reader: the data of every '00dc'/'00db' chunk in order.
inline std::vector<std::vector<std::uint8_t>> FrameChunks(const std::vector<std::uint8_t> &d)
{
    std::vector<std::vector<std::uint8_t>> chunks;
    const std::size_t movi = FindTag(d, "movi");
    if (movi == std::string::npos)
        return chunks;
    const std::size_t end = movi - 4 + 8 + Get32(d, movi - 4);
    for (std::size_t at = movi + 4; at + 8 <= end;) {
        const std::size_t size = Get32(d, at + 4);
        if (std::memcmp(d.data() + at, "00d", 3) == 0)
            chunks.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                d.begin() + static_cast<std::ptrdiff_t>(at + 8 + size));
        at += 8 + size + size % 2;
    }
    return chunks;
}

// A greyscale-ish palette of 256 distinct colours.
inline std::vector<std::uint32_t> TestPalette()
{
    std::vector<std::uint32_t> p;
    for (std::uint32_t i = 0; i < 256; ++i)
        p.push_back(i << 16 | (255 - i) << 8 | (i * 7 & 0xFF));
    return p;
}

// A clip of RLE8 frames made from the given encoded chunks.
inline res::tools::AviContents Rle8Clip(int width, int height,
                                        std::vector<std::vector<std::uint8_t>> frames)
{
    res::tools::AviContents contents;
    contents.width = width;
    contents.height = height;
    contents.microsecondsPerFrame = 100000;
    contents.rate = 10;
    contents.compression = 1;
    contents.palette = TestPalette();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        res::tools::AviChunk chunk;
        chunk.data = std::move(frames[i]);
        chunk.key = i == 0;
        contents.chunks.push_back(std::move(chunk));
    }
    return contents;
}

} // namespace kelvane::test
