#include "resources/tools/Rle8.h"

#include <algorithm>
#include <stdexcept>

namespace kelvane::res::tools {

namespace {

void Put16(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutTag(std::vector<std::uint8_t> &out, const std::string &tag)
{
    if (tag.size() != 4)
        throw std::invalid_argument("a chunk tag has four characters: " + tag);
    out.insert(out.end(), tag.begin(), tag.end());
}

void Patch32(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

// Opens a chunk or list; returns the position of its size field for CloseChunk.
std::size_t OpenChunk(std::vector<std::uint8_t> &out, const std::string &tag)
{
    PutTag(out, tag);
    const std::size_t sizeAt = out.size();
    Put32(out, 0);
    return sizeAt;
}

void CloseChunk(std::vector<std::uint8_t> &out, std::size_t sizeAt)
{
    const std::size_t size = out.size() - sizeAt - 4;
    Patch32(out, sizeAt, static_cast<std::uint32_t>(size));
    if (size % 2 != 0)
        out.push_back(0);
}

void EncodeRow(std::vector<std::uint8_t> &out, const std::uint8_t *p, int width)
{
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && run < 255 && p[x + run] == p[x])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(p[x]);
            x += run;
            continue;
        }
        // A stretch without a pair in it; it ends where a run of two or more begins.
        int end = x;
        while (end < width && end - x < 255) {
            if (end + 1 < width && p[end + 1] == p[end])
                break;
            ++end;
        }
        const int n = end - x;
        if (n >= 3) {
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(n));
            out.insert(out.end(), p + x, p + end);
            if (n % 2 != 0)
                out.push_back(0);
        } else {
            for (int i = x; i < end; ++i) {
                out.push_back(1);
                out.push_back(p[i]);
            }
        }
        x = end;
    }
}

} // namespace

std::vector<std::uint8_t> EncodeRle8(const std::uint8_t *pixels, int width, int height)
{
    std::vector<std::uint8_t> out;
    for (int row = height - 1; row >= 0; --row) {
        EncodeRow(out, pixels + static_cast<std::size_t>(row) * static_cast<std::size_t>(width),
                  width);
        out.push_back(0);
        out.push_back(row > 0 ? 0 : 1);
    }
    if (height <= 0) {
        out.push_back(0);
        out.push_back(1);
    }
    return out;
}

std::vector<std::uint8_t> EncodeRle8Delta(const std::uint8_t *previous, const std::uint8_t *current,
                                          int width, int height)
{
    // Unchanged gaps shorter than this are cheaper to paint again than to skip.
    constexpr int kMinSkip = 6;
    std::vector<std::uint8_t> out;
    int skippedRows = 0; // unchanged rows between the position and the next changed row
    for (int row = height - 1; row >= 0; --row) {
        const std::size_t at = static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
        const std::uint8_t *was = previous + at;
        const std::uint8_t *now = current + at;
        int first = 0;
        while (first < width && was[first] == now[first])
            ++first;
        if (first == width) {
            ++skippedRows;
            continue;
        }
        while (skippedRows > 0) {
            if (skippedRows == 1) {
                out.insert(out.end(), {0, 0});
                skippedRows = 0;
            } else {
                const int dy = skippedRows < 255 ? skippedRows : 255;
                out.insert(out.end(), {0, 2, 0, static_cast<std::uint8_t>(dy)});
                skippedRows -= dy;
            }
        }
        int x = 0;
        int begin = first;
        while (begin < width) {
            // A span of changes, taking in unchanged gaps too short to skip.
            int end = begin + 1;
            int lastChange = begin;
            while (end < width && end - lastChange <= kMinSkip) {
                if (was[end] != now[end])
                    lastChange = end;
                ++end;
            }
            end = lastChange + 1;
            while (begin - x > 0) {
                const int dx = begin - x < 255 ? begin - x : 255;
                out.insert(out.end(), {0, 2, static_cast<std::uint8_t>(dx), 0});
                x += dx;
            }
            EncodeRow(out, now + begin, end - begin);
            x = end;
            begin = end;
            while (begin < width && was[begin] == now[begin])
                ++begin;
        }
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});
    return out;
}

std::vector<std::uint8_t> EncodeDib8(const std::uint8_t *pixels, int width, int height)
{
    const std::size_t stride = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    std::vector<std::uint8_t> out;
    out.reserve(stride * static_cast<std::size_t>(height));
    for (int row = height - 1; row >= 0; --row) {
        const std::uint8_t *p
            = pixels + static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
        out.insert(out.end(), p, p + width);
        out.resize(out.size() + stride - static_cast<std::size_t>(width), 0);
    }
    return out;
}

std::vector<std::uint8_t> WriteAvi(const AviContents &contents)
{
    std::uint32_t biggest = 0;
    std::uint32_t videoFrames = 0;
    for (const AviChunk &c : contents.chunks) {
        biggest = std::max(biggest, static_cast<std::uint32_t>(c.data.size()));
        if (c.id.size() == 4 && c.id.compare(0, 2, "00") == 0)
            ++videoFrames;
    }
    const std::uint32_t perSecond = contents.scale ? contents.rate / contents.scale : 0;
    const std::uint32_t colors = contents.colorsUsed ? contents.colorsUsed : 256;

    std::vector<std::uint8_t> out;
    const std::size_t riff = OpenChunk(out, "RIFF");
    PutTag(out, "AVI ");

    const std::size_t hdrl = OpenChunk(out, "LIST");
    PutTag(out, "hdrl");
    const std::size_t avih = OpenChunk(out, "avih");
    Put32(out, contents.microsecondsPerFrame);
    Put32(out, biggest * perSecond); // dwMaxBytesPerSec
    Put32(out, 0); // dwPaddingGranularity
    Put32(out, contents.withIndex ? 0x10u : 0u); // dwFlags: AVIF_HASINDEX
    Put32(out, videoFrames); // dwTotalFrames
    Put32(out, 0); // dwInitialFrames
    Put32(out, 1); // dwStreams
    Put32(out, biggest); // dwSuggestedBufferSize
    Put32(out, static_cast<std::uint32_t>(contents.width));
    Put32(out, static_cast<std::uint32_t>(contents.height));
    for (int i = 0; i < 4; ++i)
        Put32(out, 0); // dwReserved
    CloseChunk(out, avih);

    const std::size_t strl = OpenChunk(out, "LIST");
    PutTag(out, "strl");
    const std::size_t strh = OpenChunk(out, "strh");
    PutTag(out, "vids");
    Put32(out, 0); // fccHandler: the format is in strf
    Put32(out, 0); // dwFlags
    Put16(out, 0); // wPriority
    Put16(out, 0); // wLanguage
    Put32(out, 0); // dwInitialFrames
    Put32(out, contents.scale);
    Put32(out, contents.rate);
    Put32(out, 0); // dwStart
    Put32(out, videoFrames); // dwLength
    Put32(out, biggest); // dwSuggestedBufferSize
    Put32(out, 0xFFFFFFFFu); // dwQuality: default
    Put32(out, 0); // dwSampleSize: frames vary in size
    Put16(out, 0); // rcFrame
    Put16(out, 0);
    Put16(out, static_cast<std::uint32_t>(contents.width));
    Put16(out, static_cast<std::uint32_t>(contents.height));
    CloseChunk(out, strh);

    const std::size_t strf = OpenChunk(out, "strf");
    Put32(out, 40); // biSize
    Put32(out, static_cast<std::uint32_t>(contents.width));
    Put32(out, static_cast<std::uint32_t>(contents.height));
    Put16(out, 1); // biPlanes
    Put16(out, 8); // biBitCount
    Put32(out, contents.compression);
    // biSizeImage. For RLE8 the size of the largest frame: a player that decodes every frame
    // with this header (Windows' animation control) reads no more than that, and reads all
    // of any frame; 0 there leaves it with nothing to decode.
    const std::uint32_t stride = (static_cast<std::uint32_t>(contents.width) + 3) / 4 * 4;
    Put32(out,
          contents.compression == 0 ? stride * static_cast<std::uint32_t>(contents.height)
                                    : biggest);
    Put32(out, 0); // biXPelsPerMeter
    Put32(out, 0); // biYPelsPerMeter
    Put32(out, contents.colorsUsed);
    Put32(out, 0); // biClrImportant
    for (std::uint32_t i = 0; i < colors; ++i) {
        const std::uint32_t rgb = i < contents.palette.size() ? contents.palette[i] : 0;
        out.push_back(static_cast<std::uint8_t>(rgb & 0xFF));
        out.push_back(static_cast<std::uint8_t>((rgb >> 8) & 0xFF));
        out.push_back(static_cast<std::uint8_t>((rgb >> 16) & 0xFF));
        out.push_back(0);
    }
    CloseChunk(out, strf);
    CloseChunk(out, strl);
    CloseChunk(out, hdrl);

    // What follows the hdrl list, to size the JUNK chunk before it is written.
    std::size_t tail = 12; // LIST size 'movi'
    for (const AviChunk &c : contents.chunks)
        tail += 8 + (c.data.size() + 1) / 2 * 2;
    if (contents.withIndex)
        tail += 8 + 16 * contents.chunks.size();
    const std::size_t natural = out.size() + tail;
    if (contents.padToSize >= natural + 8 && (contents.padToSize - natural) % 2 == 0) {
        const std::size_t junk = OpenChunk(out, "JUNK");
        out.resize(out.size() + (contents.padToSize - natural - 8), 0);
        CloseChunk(out, junk);
    }

    const std::size_t movi = OpenChunk(out, "LIST");
    const std::size_t moviTag = out.size();
    PutTag(out, "movi");
    std::vector<std::uint32_t> offsets;
    for (const AviChunk &c : contents.chunks) {
        offsets.push_back(static_cast<std::uint32_t>(out.size() - moviTag));
        const std::size_t at = OpenChunk(out, c.id);
        out.insert(out.end(), c.data.begin(), c.data.end());
        CloseChunk(out, at);
    }
    CloseChunk(out, movi);

    if (contents.withIndex) {
        const std::size_t idx1 = OpenChunk(out, "idx1");
        for (std::size_t i = 0; i < contents.chunks.size(); ++i) {
            PutTag(out, contents.chunks[i].id);
            Put32(out, contents.chunks[i].key ? 0x10u : 0u);
            Put32(out, offsets[i]);
            Put32(out, static_cast<std::uint32_t>(contents.chunks[i].data.size()));
        }
        CloseChunk(out, idx1);
    }
    CloseChunk(out, riff);
    return out;
}

} // namespace kelvane::res::tools
