#include "ui/clip/AviClip.h"

#include <cstring>
#include <utility>

namespace kelvane {

namespace {

// Limits that bound what a damaged or hostile clip can make us allocate.
constexpr std::int64_t kMaxFramePixels = 16 * 1024 * 1024;
constexpr std::int64_t kMaxTotalPixels = 256 * 1024 * 1024;
constexpr std::size_t kMaxFrames = 100000;

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kKeyFrameFlag = 0x10; // AVIIF_KEYFRAME

std::uint32_t Le16(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

std::uint32_t Le32(const unsigned char *p)
{
    return Le16(p) | Le16(p + 2) << 16;
}

std::int32_t LeSigned32(const unsigned char *p)
{
    const std::uint32_t u = Le32(p);
    return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

bool TagIs(const unsigned char *p, const char *tag)
{
    return std::memcmp(p, tag, 4) == 0;
}

struct Chunk
{
    const unsigned char *tag; // four bytes
    const unsigned char *data;
    std::size_t size;
    std::size_t offset; // of the chunk's header from the start of the file
};

// Walks the chunks of one region. Every chunk, with its pad byte when its size is odd, must
// lie inside the region; Next() reports damage through ok().
class ChunkWalker
{
public:
    ChunkWalker(const unsigned char *file, std::size_t begin, std::size_t end)
        : file_(file), pos_(begin), end_(end)
    { }

    // False at the end of the region or on damage.
    bool Next(Chunk &chunk)
    {
        if (!ok_ || pos_ == end_)
            return false;
        if (end_ - pos_ < 8)
            return Fail();
        const std::size_t size = Le32(file_ + pos_ + 4);
        const std::size_t room = end_ - pos_ - 8;
        if (size > room || (size % 2 != 0 && size == room))
            return Fail();
        chunk.tag = file_ + pos_;
        chunk.data = file_ + pos_ + 8;
        chunk.size = size;
        chunk.offset = pos_;
        pos_ += 8 + size + size % 2;
        return true;
    }
    bool ok() const { return ok_; }

private:
    bool Fail()
    {
        ok_ = false;
        return false;
    }

    const unsigned char *file_;
    std::size_t pos_;
    std::size_t end_;
    bool ok_ = true;
};

bool IsList(const Chunk &c, const char *type)
{
    return TagIs(c.tag, "LIST") && c.size >= 4 && TagIs(c.data, type);
}

// Where a list's children start and end, as file offsets.
std::size_t ListBegin(const Chunk &c)
{
    return c.offset + 12;
}
std::size_t ListEnd(const Chunk &c)
{
    return c.offset + 8 + c.size;
}

struct Format
{
    int width = 0;
    int height = 0;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> palette;
};

// strf of a video stream: BITMAPINFOHEADER followed by its colour table.
bool ParseFormat(const Chunk &strf, Format &f)
{
    if (strf.size < 40)
        return false;
    const unsigned char *h = strf.data;
    const std::uint32_t headerSize = Le32(h);
    const std::int32_t width = LeSigned32(h + 4);
    const std::int32_t height = LeSigned32(h + 8);
    const std::uint32_t planes = Le16(h + 12);
    const std::uint32_t bits = Le16(h + 14);
    const std::uint32_t compression = Le32(h + 16);
    std::uint32_t colours = Le32(h + 32);
    if (headerSize < 40 || headerSize > strf.size)
        return false;
    // Bottom-up bitmaps only: a negative height would mean top-down, which RLE8 forbids.
    if (width <= 0 || height <= 0 || planes != 1 || bits != 8)
        return false;
    if (compression != kBiRgb && compression != kBiRle8)
        return false;
    if (static_cast<std::int64_t>(width) * height > kMaxFramePixels)
        return false;
    if (colours == 0)
        colours = 256;
    if (colours > 256 || (strf.size - headerSize) / 4 < colours)
        return false;
    f.width = width;
    f.height = height;
    f.compression = compression;
    f.palette.assign(256, 0);
    const unsigned char *quad = h + headerSize;
    for (std::uint32_t i = 0; i < colours; ++i, quad += 4)
        f.palette[i] = static_cast<std::uint32_t>(quad[2]) << 16
            | static_cast<std::uint32_t>(quad[1]) << 8 | quad[0];
    return true;
}

// Decodes BI_RLE8 data onto an image that holds the previous frame (pixels that the data
// skips keep their value). The image is top row first; the data runs bottom row first.
bool DecodeRle8(const unsigned char *d, std::size_t n, int width, int height,
                std::vector<std::uint8_t> &image)
{
    std::size_t i = 0;
    int x = 0;
    int y = 0; // rows from the bottom
    auto row = [&](int fromBottom) {
        return image.data()
            + static_cast<std::size_t>(height - 1 - fromBottom) * static_cast<std::size_t>(width);
    };
    for (;;) {
        if (i > n || n - i < 2)
            return false; // the data ended without end-of-bitmap
        const int count = d[i];
        const int code = d[i + 1];
        i += 2;
        if (count > 0) {
            if (y >= height || count > width - x)
                return false;
            std::memset(row(y) + x, code, static_cast<std::size_t>(count));
            x += count;
            continue;
        }
        switch (code) {
        case 0: // end of line
            x = 0;
            if (++y > height)
                return false;
            break;
        case 1: // end of bitmap
            return true;
        case 2: // delta: move right and up without painting
            if (n - i < 2)
                return false;
            x += d[i];
            y += d[i + 1];
            i += 2;
            if (x > width || y > height)
                return false;
            break;
        default: { // absolute run of `code` literal pixels, padded to an even length
            const std::size_t literal = static_cast<std::size_t>(code);
            if (n - i < literal || y >= height || code > width - x)
                return false;
            std::memcpy(row(y) + x, d + i, literal);
            x += code;
            i += literal + literal % 2;
            break;
        }
        }
    }
}

// An uncompressed 8-bit frame: rows bottom up, each padded to 4 bytes.
bool DecodeRaw(const unsigned char *d, std::size_t n, int width, int height,
               std::vector<std::uint8_t> &image)
{
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t stride = (w + 3) / 4 * 4;
    if (n / stride < static_cast<std::size_t>(height))
        return false;
    for (int y = 0; y < height; ++y)
        std::memcpy(image.data() + static_cast<std::size_t>(height - 1 - y) * w,
                    d + static_cast<std::size_t>(y) * stride, w);
    return true;
}

bool IsFrameChunk(const unsigned char *tag)
{
    return TagIs(tag, "00dc") || TagIs(tag, "00db");
}

struct Parsed
{
    Format format;
    std::int64_t usPerFrame = 0;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::size_t> frameOffsets; // header offsets, to check the index against
    std::vector<std::size_t> frameSizes;
    std::vector<int> keyFrames;
};

bool ParseHeaders(const unsigned char *file, const Chunk &hdrl, Parsed &out)
{
    bool haveMain = false;
    bool haveStream = false;
    std::uint32_t avihUs = 0;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    ChunkWalker walk(file, ListBegin(hdrl), ListEnd(hdrl));
    Chunk c;
    while (walk.Next(c)) {
        if (TagIs(c.tag, "avih")) {
            if (haveMain || c.size < 56)
                return false;
            avihUs = Le32(c.data);
            haveMain = true;
        } else if (IsList(c, "strl") && !haveStream) {
            // The first stream must be the video; any further stream is left alone.
            bool haveHeader = false;
            bool haveFormat = false;
            ChunkWalker inner(file, ListBegin(c), ListEnd(c));
            Chunk s;
            while (inner.Next(s)) {
                if (TagIs(s.tag, "strh")) {
                    if (haveHeader || s.size < 48 || !TagIs(s.data, "vids"))
                        return false;
                    scale = Le32(s.data + 20);
                    rate = Le32(s.data + 24);
                    haveHeader = true;
                } else if (TagIs(s.tag, "strf")) {
                    if (haveFormat || !ParseFormat(s, out.format))
                        return false;
                    haveFormat = true;
                }
            }
            if (!inner.ok() || !haveHeader || !haveFormat)
                return false;
            haveStream = true;
        }
    }
    if (!walk.ok() || !haveMain || !haveStream)
        return false;
    if (avihUs != 0)
        out.usPerFrame = avihUs;
    else if (rate != 0 && scale != 0)
        out.usPerFrame = static_cast<std::int64_t>(scale) * 1000000 / rate;
    return out.usPerFrame > 0;
}

bool AddFrame(const Chunk &c, Parsed &out)
{
    const Format &f = out.format;
    const std::int64_t pixels = static_cast<std::int64_t>(f.width) * f.height;
    if (out.frames.size() >= kMaxFrames
        || static_cast<std::int64_t>(out.frames.size() + 1) * pixels > kMaxTotalPixels)
        return false;
    // A frame starts as the one before it: RLE8 may skip pixels, and an empty chunk repeats
    // the previous frame.
    std::vector<std::uint8_t> image = out.frames.empty()
        ? std::vector<std::uint8_t>(static_cast<std::size_t>(pixels), 0)
        : out.frames.back();
    if (c.size != 0) {
        const bool ok = f.compression == kBiRle8
            ? DecodeRle8(c.data, c.size, f.width, f.height, image)
            : DecodeRaw(c.data, c.size, f.width, f.height, image);
        if (!ok)
            return false;
    }
    out.frames.push_back(std::move(image));
    out.frameOffsets.push_back(c.offset);
    out.frameSizes.push_back(c.size);
    return true;
}

bool ParseMovie(const unsigned char *file, std::size_t begin, std::size_t end, int depth,
                Parsed &out)
{
    ChunkWalker walk(file, begin, end);
    Chunk c;
    while (walk.Next(c)) {
        if (IsFrameChunk(c.tag)) {
            if (!AddFrame(c, out))
                return false;
        } else if (TagIs(c.tag, "00pc")) {
            return false; // palette changes are not something the control plays
        } else if (IsList(c, "rec ") && depth == 0) {
            if (!ParseMovie(file, ListBegin(c), ListEnd(c), depth + 1, out))
                return false;
        }
        // JUNK and the chunks of other streams are skipped.
    }
    return walk.ok();
}

// idx1: 16-byte entries (id, flags, offset, size). Offsets count from the 'movi' tag, or
// from the start of the file in some writers; each video entry must point at its frame.
bool ParseIndex(const Chunk &idx1, std::size_t moviTag, Parsed &out)
{
    if (idx1.size % 16 != 0)
        return false;
    std::size_t frame = 0;
    for (std::size_t at = 0; at < idx1.size; at += 16) {
        const unsigned char *e = idx1.data + at;
        if (!IsFrameChunk(e))
            continue;
        if (frame >= out.frames.size())
            return false;
        const std::size_t offset = Le32(e + 8);
        const std::size_t size = Le32(e + 12);
        const std::size_t actual = out.frameOffsets[frame];
        if ((moviTag + offset != actual && offset != actual) || size != out.frameSizes[frame])
            return false;
        if (Le32(e + 4) & kKeyFrameFlag)
            out.keyFrames.push_back(static_cast<int>(frame));
        ++frame;
    }
    return frame == out.frames.size();
}

bool Parse(const unsigned char *file, std::size_t size, Parsed &out)
{
    if (!file || size < 12 || !TagIs(file, "RIFF") || !TagIs(file + 8, "AVI "))
        return false;
    const std::size_t riffSize = Le32(file + 4);
    if (riffSize < 4 || riffSize > size - 8)
        return false;

    bool haveHeaders = false;
    bool haveMovie = false;
    bool haveIndex = false;
    ChunkWalker walk(file, 12, 8 + riffSize);
    Chunk c;
    while (walk.Next(c)) {
        if (IsList(c, "hdrl")) {
            if (haveHeaders || !ParseHeaders(file, c, out))
                return false;
            haveHeaders = true;
        } else if (IsList(c, "movi")) {
            if (!haveHeaders || haveMovie)
                return false;
            if (!ParseMovie(file, ListBegin(c), ListEnd(c), 0, out))
                return false;
            haveMovie = true;
            // The index comes after the movie; remember where its offsets count from.
            const std::size_t moviTag = c.offset + 8;
            Chunk next;
            ChunkWalker rest(file, ListEnd(c) + (c.size % 2), 8 + riffSize);
            while (rest.Next(next)) {
                if (TagIs(next.tag, "idx1")) {
                    if (haveIndex || !ParseIndex(next, moviTag, out))
                        return false;
                    haveIndex = true;
                }
            }
            if (!rest.ok())
                return false;
            break;
        }
    }
    if (!walk.ok() || !haveHeaders || !haveMovie || out.frames.empty())
        return false;
    if (!haveIndex)
        out.keyFrames = {0};
    return true;
}

} // namespace

bool AviClip::Load(const unsigned char *data, std::size_t size)
{
    *this = AviClip();
    Parsed parsed;
    if (!Parse(data, size, parsed))
        return false;
    width_ = parsed.format.width;
    height_ = parsed.format.height;
    usPerFrame_ = parsed.usPerFrame;
    palette_ = std::move(parsed.format.palette);
    keyFrames_ = std::move(parsed.keyFrames);
    frames_ = std::move(parsed.frames);
    return true;
}

std::uint32_t AviClip::TransparentColor() const
{
    if (frames_.empty() || frames_[0].empty())
        return 0;
    return palette_[frames_[0][0]];
}

} // namespace kelvane
