#include "resources/Resources.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {

using kelvane::test::ReadFile;
using kelvane::test::TempDir;

std::uint32_t U16(std::string_view d, std::size_t at)
{
    return static_cast<unsigned char>(d[at]) | static_cast<unsigned char>(d[at + 1]) << 8;
}
std::uint32_t U32(std::string_view d, std::size_t at)
{
    return U16(d, at) | U16(d, at + 2) << 16;
}

struct IconImage
{
    int size = 0;
    std::vector<int> colour; // palette index per pixel, top row first
    std::vector<bool> clear; // AND mask
};

// Reads one image of the icon file, checking its structure on the way.
IconImage ReadImage(std::string_view ico, int entry)
{
    IconImage im;
    const std::size_t e = 6 + 16 * static_cast<std::size_t>(entry);
    const int n = static_cast<unsigned char>(ico[e]);
    EXPECT_EQ(static_cast<unsigned char>(ico[e + 1]), n); // square
    EXPECT_EQ(static_cast<unsigned char>(ico[e + 2]), 16); // colours
    EXPECT_EQ(static_cast<unsigned char>(ico[e + 3]), 0);
    EXPECT_EQ(U16(ico, e + 4), 1u); // planes
    EXPECT_EQ(U16(ico, e + 6), 4u); // bits a pixel
    const std::size_t bytes = U32(ico, e + 8);
    const std::size_t offset = U32(ico, e + 12);
    const std::size_t xorStride = (static_cast<std::size_t>(n) * 4 + 31) / 32 * 4;
    const std::size_t andStride = (static_cast<std::size_t>(n) + 31) / 32 * 4;
    const std::size_t n2 = static_cast<std::size_t>(n);
    EXPECT_EQ(bytes, 40 + 16 * 4 + (xorStride + andStride) * n2);
    if (offset > ico.size() || bytes > ico.size() - offset) {
        ADD_FAILURE() << "image " << entry << " lies outside the file";
        return im;
    }
    const std::string_view bmp = ico.substr(offset, bytes);
    EXPECT_EQ(U32(bmp, 0), 40u);
    EXPECT_EQ(U32(bmp, 4), n2);
    EXPECT_EQ(U32(bmp, 8), 2 * n2); // XOR and AND masks stacked
    EXPECT_EQ(U16(bmp, 12), 1u);
    EXPECT_EQ(U16(bmp, 14), 4u);
    EXPECT_EQ(U32(bmp, 16), 0u); // uncompressed
    const std::uint32_t used = U32(bmp, 32);
    EXPECT_TRUE(used == 0 || used == 16);

    im.size = n;
    im.colour.resize(n2 * n2);
    im.clear.resize(n2 * n2);
    const std::size_t xorAt = 40 + 64;
    const std::size_t andAt = xorAt + xorStride * n2;
    for (std::size_t y = 0; y < n2; ++y) {
        const std::size_t row = n2 - 1 - y; // bottom up
        for (std::size_t x = 0; x < n2; ++x) {
            const unsigned char b
                = static_cast<unsigned char>(bmp[xorAt + row * xorStride + x / 2]);
            im.colour[y * n2 + x] = x % 2 ? b & 0xF : b >> 4;
            const unsigned char m
                = static_cast<unsigned char>(bmp[andAt + row * andStride + x / 8]);
            im.clear[y * n2 + x] = (m >> (7 - x % 8)) & 1;
        }
    }
    return im;
}

TEST(Icon, TwoSixteenColourImagesOf32And16)
{
    const std::string_view ico = kelvane::res::IconData();
    ASSERT_GE(ico.size(), 6u + 32u);
    EXPECT_EQ(U16(ico, 0), 0u);
    EXPECT_EQ(U16(ico, 2), 1u); // icon, not cursor
    ASSERT_EQ(U16(ico, 4), 2u);

    std::size_t end = 6 + 32;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        // The images follow the directory back to back, the file holding nothing else.
        EXPECT_EQ(U32(ico, 6 + 16 * static_cast<std::size_t>(i) + 12), end);
        end += U32(ico, 6 + 16 * static_cast<std::size_t>(i) + 8);
        const IconImage im = ReadImage(ico, i);
        EXPECT_EQ(im.size, i == 0 ? 32 : 16);
        if (im.size == 0)
            continue;
        // A picture with a transparent surround: the corner is clear, the centre is not,
        // clear pixels are black in the colour mask (so they leave the background as is),
        // and the opaque ones use several colours.
        std::set<int> colours;
        int opaque = 0;
        for (std::size_t p = 0; p < im.colour.size(); ++p) {
            if (im.clear[p]) {
                EXPECT_EQ(im.colour[p], 0) << p;
            } else {
                ++opaque;
                colours.insert(im.colour[p]);
            }
        }
        EXPECT_TRUE(im.clear[0]);
        const std::size_t centre = static_cast<std::size_t>(im.size / 2 * im.size + im.size / 2);
        EXPECT_FALSE(im.clear[centre]);
        EXPECT_GT(opaque, im.size * im.size / 2);
        EXPECT_LT(opaque, im.size * im.size);
        EXPECT_GE(colours.size(), 5u);
    }
    EXPECT_EQ(end, ico.size());
}

std::string RunGenerator(const char *tool, const std::string &out)
{
    const std::string command = std::string("\"") + tool + "\" \"" + out + "\"";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadFile(out);
}

TEST(Generators, GiveTheSameBytesOnEveryRunAsTheEmbeddedOnes)
{
    TempDir dir;
    const std::string icon1 = RunGenerator(KELVANE_MAKE_ICON, dir / "one.ico");
    const std::string icon2 = RunGenerator(KELVANE_MAKE_ICON, dir / "two.ico");
    ASSERT_FALSE(icon1.empty());
    EXPECT_TRUE(icon1 == icon2);
    EXPECT_TRUE(icon1 == kelvane::res::IconData());

    const std::string clip1 = RunGenerator(KELVANE_MAKE_CLIP, dir / "one.avi");
    const std::string clip2 = RunGenerator(KELVANE_MAKE_CLIP, dir / "two.avi");
    ASSERT_FALSE(clip1.empty());
    EXPECT_TRUE(clip1 == clip2);
    EXPECT_TRUE(clip1 == kelvane::res::ClipData());
}

} // namespace
