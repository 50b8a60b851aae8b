// Draws the program icon, a yellow folder closed by a zipper, and writes it as a Windows
// .ico file with a 32x32 and a 16x16 image in 16 colours (4 bits a pixel, XOR and AND
// masks). Each size is drawn for its own grid, so the small one stays crisp.

#include "resources/tools/Canvas.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using kelvane::res::tools::Canvas;

// The classic 16-colour palette, 0x00RRGGBB.
constexpr std::uint32_t kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};
enum : std::uint8_t {
    Black = 0,
    Maroon = 1,
    Olive = 3,
    Silver = 7,
    Grey = 8,
    Red = 9,
    Yellow = 11,
    White = 15,
    Clear = 0xFF // not a colour: transparent in the AND mask
};

struct Geometry
{
    int size;
    int tabX1, tabY0; // the tab runs from the back's left edge to tabX1
    int backY0; // top of the folder's back
    int frontY0; // top of the front
    int bottom; // last row of the folder
    int left, right; // first and last column of the folder
    int zipX0, zipX1; // the zipper's columns
    int sliderY0, sliderY1, pullY1;
};

Canvas Draw(const Geometry &g)
{
    Canvas im(g.size, g.size, Clear, Black);
    const bool small = g.size < 32;
    // Back of the folder with its tab.
    im.Panel(g.left, g.tabY0, g.tabX1, g.backY0 + 1, Olive);
    im.Panel(g.left, g.backY0, g.right - 1, g.bottom - 1, Olive);
    im.Fill(g.left + 1, g.backY0, g.tabX1 - 1, g.backY0, Olive);
    im.Set(g.left, g.tabY0, Clear); // rounded corners of the tab
    im.Set(g.tabX1, g.tabY0, Clear);
    // A sheet peeking out between back and front.
    if (!small) {
        im.Panel(g.left + 3, g.backY0 + 2, g.right - 5, g.frontY0 + 1, White);
        for (int y = g.backY0 + 4; y < g.frontY0; y += 2)
            im.Fill(g.left + 5, y, g.zipX0 - 2, y, Silver);
    }
    // The front.
    im.Panel(g.left, g.frontY0, g.right, g.bottom, Yellow);
    im.Fill(g.left + 1, g.frontY0 + 1, g.right - 1, g.frontY0 + 1, White);
    im.Fill(g.left + 1, g.bottom - 1, g.right - 1, g.bottom - 1, Olive);
    im.Fill(g.right - 1, g.frontY0 + 2, g.right - 1, g.bottom - 1, Olive);
    im.Set(g.left, g.bottom, Clear);
    im.Set(g.right, g.bottom, Clear);
    // The zipper down the middle of the front: interlocking teeth, left and right by turns.
    const int mid = (g.zipX0 + g.zipX1 + 1) / 2;
    for (int y = g.frontY0 + 1; y < g.bottom; ++y) {
        const bool even = (y - g.frontY0) % 2 == 0;
        for (int x = g.zipX0; x <= g.zipX1; ++x)
            im.Set(x, y, (x < mid) == even ? Silver : Grey);
        im.Set(g.zipX0 - 1, y, Olive);
        im.Set(g.zipX1 + 1, y, Olive);
    }
    // The slider and its red pull.
    if (small) {
        im.Fill(g.zipX0 - 1, g.sliderY0, g.zipX1 + 1, g.sliderY1, Silver);
        im.Fill(g.zipX0, g.sliderY1 + 1, g.zipX1, g.pullY1, Red);
        im.Fill(g.zipX0, g.pullY1, g.zipX1, g.pullY1, Maroon);
    } else {
        im.Panel(g.zipX0 - 1, g.sliderY0, g.zipX1 + 1, g.sliderY1, Silver);
        im.Fill(g.zipX0, g.sliderY1 - 1, g.zipX1, g.sliderY1 - 1, Grey);
        im.Panel(g.zipX0, g.sliderY1, g.zipX1, g.pullY1, Red);
        im.Fill(g.zipX0 + 1, g.pullY1 - 2, g.zipX1 - 1, g.pullY1 - 2, Maroon);
    }
    return im;
}

void Put16(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8 & 0xFF));
}
void Put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One icon image: BITMAPINFOHEADER (height doubled for the two masks), palette, XOR bits
// and AND bits, rows bottom up and padded to 4 bytes.
std::vector<std::uint8_t> IconImage(const Canvas &im)
{
    const int n = im.Width();
    const int xorStride = (n * 4 + 31) / 32 * 4;
    const int andStride = (n + 31) / 32 * 4;
    std::vector<std::uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(n));
    Put32(out, static_cast<std::uint32_t>(2 * n));
    Put16(out, 1); // planes
    Put16(out, 4); // bits a pixel
    Put32(out, 0); // BI_RGB
    Put32(out, static_cast<std::uint32_t>((xorStride + andStride) * n));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0); // colours used: all 16
    Put32(out, 0);
    for (std::uint32_t rgb : kPalette) {
        out.push_back(static_cast<std::uint8_t>(rgb & 0xFF));
        out.push_back(static_cast<std::uint8_t>(rgb >> 8 & 0xFF));
        out.push_back(static_cast<std::uint8_t>(rgb >> 16 & 0xFF));
        out.push_back(0);
    }
    for (int y = n - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(xorStride), 0);
        for (int x = 0; x < n; ++x) {
            const std::uint8_t c = im.Get(x, y) == Clear ? std::uint8_t {Black} : im.Get(x, y);
            row[static_cast<std::size_t>(x / 2)] |= x % 2 ? c : static_cast<std::uint8_t>(c << 4);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = n - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(andStride), 0);
        for (int x = 0; x < n; ++x)
            if (im.Get(x, y) == Clear)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
        return 2;
    }
    const Geometry big {32, 12, 4, 7, 11, 28, 1, 30, 14, 17, 11, 14, 20};
    const Geometry small {16, 6, 2, 3, 5, 14, 0, 15, 7, 8, 5, 5, 8};
    const std::vector<std::uint8_t> images[] = {IconImage(Draw(big)), IconImage(Draw(small))};
    const int sizes[] = {32, 16};

    std::vector<std::uint8_t> out;
    Put16(out, 0); // reserved
    Put16(out, 1); // an icon
    Put16(out, 2); // images
    std::uint32_t offset = 6 + 16 * 2;
    for (int i = 0; i < 2; ++i) {
        out.push_back(static_cast<std::uint8_t>(sizes[i]));
        out.push_back(static_cast<std::uint8_t>(sizes[i]));
        out.push_back(16); // colours
        out.push_back(0);
        Put16(out, 1); // planes
        Put16(out, 4); // bits a pixel
        Put32(out, static_cast<std::uint32_t>(images[i].size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto &image : images)
        out.insert(out.end(), image.begin(), image.end());

    std::FILE *f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
