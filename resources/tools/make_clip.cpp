// Draws the animation clip and writes it as an RLE8 AVI: a page lifts out of an open folder,
// tumbles across and drops into a cardboard box whose zipper closes as the clip runs. Twenty
// frames at 8 a second; the first ten carry a text page, the last ten a picture page.
// Integer arithmetic only, so the bytes are the same on every machine.

#include "resources/tools/Canvas.h"
#include "resources/tools/Rle8.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using kelvane::res::tools::AviChunk;
using kelvane::res::tools::AviContents;
using kelvane::res::tools::Canvas;

constexpr int kWidth = 64;
constexpr int kHeight = 42;
constexpr int kFrames = 20;
constexpr int kFlight = 10; // frames a page takes from the folder to the box

// The clip's size as it has always been shipped; a JUNK chunk makes up the difference.
constexpr std::size_t kShippedSize = 13254;

enum Colour : std::uint8_t {
    Background, // the top-left pixel: the control leaves this colour out
    Shadow,
    Outline,
    Folder,
    FolderLight,
    FolderDark,
    FolderBack,
    Paper,
    PaperShade,
    Ink,
    Box,
    BoxLight,
    BoxDark,
    BoxInside,
    MetalLight,
    Metal,
    MetalDark,
    PullRed,
    Sky,
    Grass,
    Sun,
    kNamedColours
};

std::vector<std::uint32_t> MakePalette()
{
    std::vector<std::uint32_t> p = {
        0xD4D0C8, 0xB4B0A8, 0x3C2A10, 0xFFD24A, 0xFFEA94, 0xD8A828, 0xC08A1C,
        0xFFFFFF, 0xDCDCE6, 0x2850B0, 0xC8915A, 0xE2B27A, 0x9A6636, 0x5A3818,
        0xECECF4, 0xA0A0A8, 0x5C5C64, 0xD03020, 0x78B4F0, 0x3CA03C, 0xFFE040,
    };
    // The unused rest: a colour cube and a grey ramp, none equal to the background.
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p.push_back(static_cast<std::uint32_t>((r * 51) << 16 | (g * 51) << 8 | b * 51));
    for (int i = 0; p.size() < 256; ++i) {
        const std::uint32_t v = static_cast<std::uint32_t>(8 + i * 13);
        p.push_back(v << 16 | v << 8 | v);
    }
    return p;
}

// sin(k * 18 degrees) * 1024 for k = 0..10, so a flight is half a turn in ten steps.
constexpr int kSin[] = {0, 316, 602, 828, 974, 1024, 974, 828, 602, 316, 0};
int Sin18(int k)
{
    return k <= 10 ? kSin[k] : -kSin[k - 10];
}
int Cos18(int k)
{
    return Sin18((k + 5) % 20);
}

void DrawShadows(Canvas &c)
{
    c.Fill(4, 37, 23, 38, Shadow);
    c.Fill(41, 38, 62, 39, Shadow);
}

void DrawFolderBack(Canvas &c)
{
    c.Panel(3, 13, 11, 18, FolderBack); // the tab
    c.Panel(3, 16, 22, 36, FolderBack);
    c.Fill(4, 16, 10, 17, FolderBack);
    // The pages still waiting in the folder.
    c.Panel(6, 15, 19, 24, Paper);
    c.Panel(8, 17, 21, 25, Paper);
    for (int y = 19; y <= 23; y += 2)
        c.Fill(10, y, 18, y, Ink);
}

void DrawFolderFront(Canvas &c)
{
    // An open front flap, leaning forward: each row a little further left than the one above.
    for (int y = 22; y <= 36; ++y) {
        const int x0 = 6 - (y - 22) / 5;
        const int x1 = 25 - (y - 22) / 5;
        c.Fill(x0, y, x1, y, Outline);
        const std::uint8_t fill = y == 23 ? FolderLight : (y >= 34 ? FolderDark : Folder);
        if (y > 22 && y < 36)
            c.Fill(x0 + 1, y, x1 - 1, y, fill);
    }
}

void DrawBoxBack(Canvas &c)
{
    // The open top of the box and its back rim.
    c.Fill(42, 17, 62, 17, Outline);
    c.Fill(42, 18, 62, 18, BoxLight);
    c.Fill(41, 19, 61, 21, BoxInside);
    c.Set(62, 19, Outline);
    c.Set(62, 20, Outline);
    c.Set(62, 21, Outline);
    // The flaps, folded out to the sides.
    for (int i = 0; i < 4; ++i) {
        c.Fill(37 + i, 18 + i, 40, 18 + i, BoxDark);
        c.Set(36 + i, 18 + i, Outline);
    }
    c.Fill(36, 17, 41, 17, Outline);
}

void DrawBoxFront(Canvas &c, int frame)
{
    c.Panel(40, 21, 61, 37, Box);
    c.Fill(41, 22, 60, 22, BoxLight);
    c.Fill(41, 36, 60, 36, BoxDark);
    c.Fill(60, 23, 60, 35, BoxDark);
    // The zipper: closed left of the slider, open to its right. The slider travels the
    // width of the box over the whole clip.
    const int slider = 43 + 15 * frame / (kFrames - 1);
    for (int x = 41; x <= 59; ++x) {
        if (x < slider) {
            c.Set(x, 27, x % 2 ? Metal : MetalLight);
            c.Set(x, 28, x % 2 ? MetalLight : Metal);
        } else {
            c.Set(x, 26, x % 2 ? Metal : MetalDark);
            c.Set(x, 27, BoxInside);
            c.Set(x, 28, BoxInside);
            c.Set(x, 29, x % 2 ? MetalDark : Metal);
        }
    }
    c.Panel(slider - 1, 25, slider + 2, 30, MetalLight);
    c.Fill(slider + 1, 26, slider + 1, 29, Metal);
    c.Panel(slider - 1, 30, slider + 2, 35, PullRed);
    c.Fill(slider, 32, slider + 1, 32, Outline); // the hole in the pull
}

// A page of 9 x 11 pixels turned by step * 18 degrees about its centre (cx, cy).
void DrawPage(Canvas &c, int cx, int cy, int step, bool picture)
{
    constexpr int kW = 9;
    constexpr int kH = 11;
    const int s = Sin18(step);
    const int k = Cos18(step);
    for (int y = cy - 8; y <= cy + 8; ++y) {
        for (int x = cx - 8; x <= cx + 8; ++x) {
            // Page coordinates of the pixel's centre, times 2048.
            const int dx = 2 * (x - cx) + 1;
            const int dy = 2 * (y - cy) + 1;
            const int u = k * dx + s * dy;
            const int v = -s * dx + k * dy;
            if (std::abs(u) > kW * 1024 || std::abs(v) > kH * 1024)
                continue;
            // Distance inside the edges, in pixels.
            const int edgeU = (kW * 1024 - std::abs(u)) / 2048;
            const int edgeV = (kH * 1024 - std::abs(v)) / 2048;
            std::uint8_t colour = Paper;
            if (edgeU == 0 || edgeV == 0) {
                colour = Outline;
            } else if (picture) {
                const int row = (v + kH * 1024) / 2048; // 0 at the top edge
                colour = row <= 5 ? Sky : Grass;
                if (row >= 2 && row <= 3 && u > 0 && u < 5 * 1024)
                    colour = Sun;
                if (edgeU == 1 || edgeV == 1)
                    colour = Paper;
            } else {
                const int row = (v + kH * 1024) / 2048;
                colour = (row == 3 || row == 5 || row == 7) && edgeU >= 2 ? Ink : Paper;
                if (edgeU == 1 && u > 0)
                    colour = PaperShade;
            }
            c.Set(x, y, colour);
        }
    }
}

std::vector<std::uint8_t> DrawFrame(int frame)
{
    Canvas c(kWidth, kHeight, Background, Outline);
    const int step = frame % kFlight;
    const bool picture = frame >= kFlight;
    // The flight: from above the folder to inside the box, along an arc.
    const int cx = 14 + 4 * step;
    const int cy = 18 + 6 * step / (kFlight - 1) - 14 * Sin18(step) / 1024;

    DrawShadows(c);
    DrawBoxBack(c);
    DrawFolderBack(c);
    if (step == 0)
        DrawPage(c, cx, cy, step, picture);
    DrawFolderFront(c);
    if (step != 0)
        DrawPage(c, cx, cy, step, picture);
    DrawBoxFront(c, frame);
    return c.Pixels();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.avi\n", argv[0]);
        return 2;
    }
    AviContents contents;
    contents.width = kWidth;
    contents.height = kHeight;
    contents.microsecondsPerFrame = 125000;
    contents.rate = 8;
    contents.scale = 1;
    contents.compression = 1; // BI_RLE8
    contents.palette = MakePalette();
    contents.padToSize = kShippedSize;
    // Key frames are whole pictures; the others paint only what changed since the frame
    // before.
    std::vector<std::uint8_t> previous;
    for (int f = 0; f < kFrames; ++f) {
        const std::vector<std::uint8_t> pixels = DrawFrame(f);
        AviChunk chunk;
        chunk.id = "00dc";
        chunk.key = f % kFlight == 0;
        chunk.data = chunk.key
            ? kelvane::res::tools::EncodeRle8(pixels.data(), kWidth, kHeight)
            : kelvane::res::tools::EncodeRle8Delta(previous.data(), pixels.data(), kWidth, kHeight);
        contents.chunks.push_back(std::move(chunk));
        previous = pixels;
    }
    const std::vector<std::uint8_t> avi = kelvane::res::tools::WriteAvi(contents);
    std::FILE *out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(avi.data(), 1, avi.size(), out) != avi.size()
        || std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
