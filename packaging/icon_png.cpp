// Writes one image of a Windows .ico file as a PNG for the desktop's icon theme, scaled up
// by a whole factor pixel by pixel (the icon is drawn for its grid; smoothing would blur
// it). The palette images the program's icon uses (1, 4 or 8 bits a pixel with an AND
// mask) are read; the output has no time stamp, so the same icon gives the same bytes.
//
//     kelvane_icon_png ICO SIZE SCALE PNG

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Fail(const std::string &message)
{
    std::fprintf(stderr, "kelvane_icon_png: %s\n", message.c_str());
    std::exit(1);
}

std::uint32_t Le(const Bytes &b, std::size_t at, int width)
{
    if (at + static_cast<std::size_t>(width) > b.size())
        Fail("the icon file is cut short");
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

void PutBe32(Bytes &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(Bytes &out, const char *type, const Bytes &data)
{
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBe32(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// RGBA rows, top down, of the size x size image of the icon.
Bytes ReadIcon(const Bytes &ico, std::uint32_t size)
{
    if (Le(ico, 0, 2) != 0 || Le(ico, 2, 2) != 1)
        Fail("not an icon file");
    const std::uint32_t count = Le(ico, 4, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
        const std::uint32_t width = ico.at(entry) == 0 ? 256 : ico.at(entry);
        if (width != size)
            continue;
        const std::size_t dib = Le(ico, entry + 12, 4);
        const std::uint32_t bits = Le(ico, dib + 14, 2);
        if (Le(ico, dib + 16, 4) != 0 || (bits != 1 && bits != 4 && bits != 8))
            Fail("only uncompressed palette images are read");
        const std::uint32_t colours = Le(ico, dib + 32, 4) != 0 ? Le(ico, dib + 32, 4) : 1u << bits;
        const std::size_t palette = dib + Le(ico, dib, 4);
        const std::size_t xorBits = palette + 4 * static_cast<std::size_t>(colours);
        const std::size_t xorStride = ((size * bits + 31) / 32) * 4;
        const std::size_t andBits = xorBits + xorStride * size;
        const std::size_t andStride = ((size + 31) / 32) * 4;
        Bytes rgba;
        for (std::uint32_t y = 0; y < size; ++y) {
            const std::size_t row = size - 1 - y; // stored bottom up
            for (std::uint32_t x = 0; x < size; ++x) {
                const std::uint32_t bit = x * bits;
                const std::uint32_t byte = Le(ico, xorBits + row * xorStride + bit / 8, 1);
                const std::uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= colours)
                    Fail("a pixel names a colour outside the palette");
                const std::size_t colour = palette + 4 * static_cast<std::size_t>(index);
                const bool clear
                    = (Le(ico, andBits + row * andStride + x / 8, 1) >> (7 - x % 8)) & 1;
                rgba.push_back(static_cast<std::uint8_t>(Le(ico, colour + 2, 1)));
                rgba.push_back(static_cast<std::uint8_t>(Le(ico, colour + 1, 1)));
                rgba.push_back(static_cast<std::uint8_t>(Le(ico, colour, 1)));
                rgba.push_back(clear ? 0 : 255);
            }
        }
        return rgba;
    }
    Fail("the icon has no " + std::to_string(size) + " pixel image");
}

Bytes Png(const Bytes &rgba, std::uint32_t size, std::uint32_t scale)
{
    const std::uint32_t side = size * scale;
    Bytes raw;
    for (std::uint32_t y = 0; y < side; ++y) {
        raw.push_back(0); // no filter
        for (std::uint32_t x = 0; x < side; ++x) {
            const std::size_t at = 4 * (static_cast<std::size_t>(y / scale) * size + x / scale);
            raw.insert(raw.end(), rgba.begin() + static_cast<std::ptrdiff_t>(at),
                       rgba.begin() + static_cast<std::ptrdiff_t>(at + 4));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9)
        != Z_OK)
        Fail("deflate failed");
    packed.resize(packedSize);

    Bytes header;
    PutBe32(header, side);
    PutBe32(header, side);
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits a channel, RGBA, no interlace
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", {});
    return png;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5)
        Fail("usage: kelvane_icon_png ICO SIZE SCALE PNG");
    std::ifstream in(argv[1], std::ios::binary);
    const Bytes ico((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || ico.empty())
        Fail(std::string("cannot read ") + argv[1]);
    const auto size = static_cast<std::uint32_t>(std::atoi(argv[2]));
    const auto scale = static_cast<std::uint32_t>(std::atoi(argv[3]));
    if (size == 0 || scale == 0 || size > 256 || scale > 64)
        Fail("SIZE and SCALE must be small positive numbers");
    const Bytes png = Png(ReadIcon(ico, size), size, scale);
    std::ofstream out(argv[4], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    if (!out)
        Fail(std::string("cannot write ") + argv[4]);
    return 0;
}
