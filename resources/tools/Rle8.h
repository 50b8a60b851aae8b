#pragma once

// Encoder for 8-bit run-length compressed bitmaps (BI_RLE8), the frame format of the
// animation clip, and a small RIFF AVI writer. The build's clip generator uses them, and
// the tests use them to make clips of every shape the reader has to cope with.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane::res::tools {

// Encodes an image given as palette indices, top row first, as a BI_RLE8 bitmap (bottom row
// first, as bitmaps store it). Runs of two or more equal pixels become encoded runs (at most
// 255 each); other stretches become absolute runs when they are at least 3 long (padded to
// an even byte count), else encoded runs of 1. Every row but the last ends with
// end-of-line (0, 0); the last ends with end-of-bitmap (0, 1).
std::vector<std::uint8_t> EncodeRle8(const std::uint8_t *pixels, int width, int height);

// Encodes only what changed from `previous` to `current` (same size, top row first):
// unchanged stretches are skipped with delta escapes (0, 2, dx, dy) and end-of-line, so a
// decoder that paints onto the previous frame gets `current`. Ends with end-of-bitmap.
std::vector<std::uint8_t> EncodeRle8Delta(const std::uint8_t *previous, const std::uint8_t *current,
                                          int width, int height);

// An uncompressed 8-bit bitmap: bottom row first, rows padded to a multiple of 4 bytes.
std::vector<std::uint8_t> EncodeDib8(const std::uint8_t *pixels, int width, int height);

struct AviChunk
{
    std::string id = "00dc"; // four characters
    std::vector<std::uint8_t> data;
    bool key = false; // AVIIF_KEYFRAME in the index
};

struct AviContents
{
    int width = 0;
    int height = 0;
    std::uint32_t microsecondsPerFrame = 0;
    std::uint32_t rate = 0; // frames per second is rate / scale
    std::uint32_t scale = 1;
    std::uint32_t compression = 0; // 0 uncompressed, 1 BI_RLE8
    std::uint32_t colorsUsed = 0; // biClrUsed; 0 stands for 256
    std::vector<std::uint32_t> palette; // 0x00RRGGBB
    std::vector<AviChunk> chunks; // the movi list in order
    bool withIndex = true;
    // When nonzero, a JUNK chunk ahead of the movi list brings the file to exactly this
    // size (if the contents leave room for one).
    std::size_t padToSize = 0;
};

// Writes a RIFF AVI with one video stream: hdrl (avih, strl with strh 'vids' and strf
// BITMAPINFOHEADER plus palette), optional JUNK, movi, optional idx1 (offsets relative to
// the 'movi' tag).
std::vector<std::uint8_t> WriteAvi(const AviContents &contents);

} // namespace kelvane::res::tools
