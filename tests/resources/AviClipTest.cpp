#include "resources/Resources.h"
#include "tests/resources/ClipTestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace {

using kelvane::AviClip;
using namespace kelvane::res::tools;
using namespace kelvane::test;

using Image = std::vector<std::uint8_t>;

AviClip ShippedClip()
{
    AviClip clip;
    EXPECT_TRUE(LoadClip(clip, kelvane::res::ClipData()));
    return clip;
}

TEST(ShippedClip, TwentyFramesOf64x42AtEightASecond)
{
    const AviClip clip = ShippedClip();
    EXPECT_EQ(kelvane::res::ClipData().size(), 13254u);
    EXPECT_EQ(clip.FrameCount(), 20);
    EXPECT_EQ(clip.Width(), 64);
    EXPECT_EQ(clip.Height(), 42);
    EXPECT_EQ(clip.MicrosecondsPerFrame(), 125000);
    EXPECT_EQ(clip.Palette().size(), 256u);
    EXPECT_EQ(clip.KeyFrames(), (std::vector<int> {0, 10}));

    // Its own headers say the same: RLE8, stream rate 8 over scale 1, length 20.
    const std::vector<std::uint8_t> data = Bytes(kelvane::res::ClipData());
    const std::size_t strh = FindTag(data, "strh");
    ASSERT_NE(strh, std::string::npos);
    EXPECT_EQ(Get32(data, strh + 8 + 20), 1u); // scale
    EXPECT_EQ(Get32(data, strh + 8 + 24), 8u); // rate
    EXPECT_EQ(Get32(data, strh + 8 + 32), 20u); // length
    const std::size_t strf = FindTag(data, "strf");
    ASSERT_NE(strf, std::string::npos);
    EXPECT_EQ(Get32(data, strf + 8 + 16), 1u); // BI_RLE8
    EXPECT_EQ(FindTag(data, "auds"), std::string::npos);
}

TEST(ShippedClip, EveryFrameIsAPictureAndTheFramesMove)
{
    const AviClip clip = ShippedClip();
    ASSERT_EQ(clip.FrameCount(), 20);
    const std::size_t pixels = 64 * 42;
    for (int i = 0; i < clip.FrameCount(); ++i) {
        SCOPED_TRACE(i);
        const Image &f = clip.Frame(i);
        ASSERT_EQ(f.size(), pixels);
        const std::set<std::uint8_t> used(f.begin(), f.end());
        EXPECT_GE(used.size(), 8u);
        const auto background = std::count(f.begin(), f.end(), f[0]);
        EXPECT_GT(background, static_cast<long>(pixels / 4));
        EXPECT_LT(background, static_cast<long>(pixels * 3 / 4));
        if (i > 0) {
            EXPECT_NE(f, clip.Frame(i - 1));
        }
    }
    EXPECT_NE(clip.Frame(0), clip.Frame(10));
    EXPECT_NE(clip.Frame(19), clip.Frame(0));
}

TEST(ShippedClip, OnlyTheBackgroundHasTheTransparentColour)
{
    const AviClip clip = ShippedClip();
    ASSERT_FALSE(clip.IsEmpty());
    const std::uint8_t background = clip.Frame(0)[0];
    EXPECT_EQ(clip.TransparentColor(), clip.Palette()[background]);
    // Any other pixel of that colour would be punched out of the picture too.
    for (int i = 0; i < clip.FrameCount(); ++i)
        for (std::uint8_t index : clip.Frame(i))
            if (index != background) {
                ASSERT_NE(clip.Palette()[index], clip.TransparentColor()) << "frame " << i;
            }
    // The corners are background, so the picture stands free on the dialog.
    const Image &f = clip.Frame(0);
    EXPECT_EQ(f[63], background);
    EXPECT_EQ(f[41 * 64], background);
    EXPECT_EQ(f[41 * 64 + 63], background);
}

TEST(ShippedClip, KeyFramesDecodeOnTheirOwn)
{
    const AviClip clip = ShippedClip();
    const auto chunks = FrameChunks(Bytes(kelvane::res::ClipData()));
    ASSERT_EQ(chunks.size(), 20u);
    for (int key : clip.KeyFrames()) {
        SCOPED_TRACE(key);
        AviClip alone;
        ASSERT_TRUE(LoadClip(alone, WriteAvi(Rle8Clip(64, 42, {chunks[key]}))));
        EXPECT_EQ(alone.Frame(0), clip.Frame(key));
    }
}

// Encodes the images as a clip (RLE8 whole frames, or deltas after the first) and reads it.
AviClip RoundTrip(const std::vector<Image> &images, int width, int height, bool deltas)
{
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t i = 0; i < images.size(); ++i)
        frames.push_back(
            deltas && i > 0 ? EncodeRle8Delta(images[i - 1].data(), images[i].data(), width, height)
                            : EncodeRle8(images[i].data(), width, height));
    AviClip clip;
    EXPECT_TRUE(LoadClip(clip, WriteAvi(Rle8Clip(width, height, frames))));
    return clip;
}

void ExpectFrames(const AviClip &clip, const std::vector<Image> &images)
{
    ASSERT_EQ(clip.FrameCount(), static_cast<int>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i)
        EXPECT_TRUE(clip.Frame(static_cast<int>(i)) == images[i]) << "frame " << i;
}

// Rows made of runs whose lengths are drawn from a list that hits the encoder's limits.
Image RunImage(std::mt19937 &rng, int width, int height, const std::vector<int> &lengths,
               bool noisy)
{
    Image im;
    std::uniform_int_distribution<int> pick(0, static_cast<int>(lengths.size()) - 1);
    std::uniform_int_distribution<int> colour(0, 255);
    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> row;
        std::uint8_t last = 0;
        while (static_cast<int>(row.size()) < width) {
            const int n = lengths[static_cast<std::size_t>(pick(rng))];
            const bool stretch = noisy && rng() % 2;
            for (int i = 0; i < n && static_cast<int>(row.size()) < width; ++i) {
                // A noisy stretch has no two equal neighbours: it must go out absolute.
                std::uint8_t c;
                do
                    c = static_cast<std::uint8_t>(colour(rng));
                while (c == last && (stretch || i == 0));
                if (!stretch && i > 0)
                    c = last;
                row.push_back(c);
                last = c;
            }
        }
        im.insert(im.end(), row.begin(), row.end());
    }
    return im;
}

TEST(Rle8RoundTrip, RunsAndLiteralStretchesAtTheLimits)
{
    std::mt19937 rng(20261209);
    const std::vector<int> lengths = {1, 2, 3, 4, 5, 254, 255, 256, 257, 510, 511};
    for (int width : {1, 2, 3, 4, 5, 63, 255, 256, 257, 600}) {
        SCOPED_TRACE(width);
        std::vector<Image> images;
        for (bool noisy : {false, true})
            images.push_back(RunImage(rng, width, 7, lengths, noisy));
        ExpectFrames(RoundTrip(images, width, 7, false), images);
    }
}

TEST(Rle8RoundTrip, HandPickedRows)
{
    // One row each: lone pixels, pairs, a run of 255, one of 256, and literal stretches of
    // odd and even length (3, 5, 254, 255) which need the padding byte or not.
    auto literal = [](int n, int seed) {
        Image r;
        for (int i = 0; i < n; ++i)
            r.push_back(static_cast<std::uint8_t>((seed + i * 37) % 251));
        return r;
    };
    const int width = 300;
    std::vector<Image> rows;
    Image r;
    for (int i = 0; i < width; ++i)
        r.push_back(static_cast<std::uint8_t>(i % 2));
    rows.push_back(r);
    r.clear();
    for (int i = 0; i < width; ++i)
        r.push_back(static_cast<std::uint8_t>(i / 2 % 2 + 5));
    rows.push_back(r);
    r.assign(255, 9);
    r.resize(width, 10);
    rows.push_back(r);
    r.assign(256, 11);
    r.resize(width, 12);
    rows.push_back(r);
    for (int n : {3, 5, 254, 255}) {
        r = literal(n, n);
        r.resize(width, 200);
        rows.push_back(r);
        r.assign(static_cast<std::size_t>(width - n), 201);
        const Image tail = literal(n, n + 1);
        r.insert(r.end(), tail.begin(), tail.end());
        rows.push_back(r);
    }
    rows.push_back(literal(width, 3));
    Image image;
    for (const Image &row : rows)
        image.insert(image.end(), row.begin(), row.end());
    const int height = static_cast<int>(rows.size());
    ExpectFrames(RoundTrip({image}, width, height, false), {image});
}

TEST(Rle8RoundTrip, DeltaFramesPaintOnlyTheChanges)
{
    std::mt19937 rng(42);
    for (int width : {1, 7, 64, 600}) {
        const int height = 300; // taller than one vertical skip of 255 rows
        SCOPED_TRACE(width);
        std::vector<Image> images;
        images.push_back(RunImage(rng, width, height, {1, 2, 3, 40}, true));
        for (int f = 1; f < 8; ++f) {
            Image next = images.back();
            // A few rectangles change; frame 4 is the same as the one before it.
            for (int k = 0; f != 4 && k < 3; ++k) {
                const int x0 = static_cast<int>(rng() % static_cast<unsigned>(width));
                const int y0 = static_cast<int>(rng() % static_cast<unsigned>(height));
                const int x1 = std::min(width, x0 + 1 + static_cast<int>(rng() % 20));
                const int y1 = std::min(height, y0 + 1 + static_cast<int>(rng() % 5));
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x)
                        next[static_cast<std::size_t>(y * width + x)]
                            = static_cast<std::uint8_t>(rng());
            }
            if (f == 6) { // the corners only: the longest skips across and up
                next[0] ^= 1;
                next[next.size() - 1] ^= 1;
            }
            images.push_back(next);
        }
        ExpectFrames(RoundTrip(images, width, height, true), images);
    }
}

TEST(AviClip, UncompressedFramesWithRowPadding)
{
    for (int width : {1, 2, 3, 4, 5, 6, 7}) {
        SCOPED_TRACE(width);
        const int height = 3;
        AviContents contents = Rle8Clip(width, height, {});
        contents.compression = 0;
        std::vector<Image> images;
        for (int f = 0; f < 3; ++f) {
            Image im;
            for (int p = 0; p < width * height; ++p)
                im.push_back(static_cast<std::uint8_t>(p * 13 + f * 101));
            AviChunk chunk;
            chunk.id = "00db";
            chunk.data = EncodeDib8(im.data(), width, height);
            chunk.key = true;
            contents.chunks.push_back(chunk);
            images.push_back(im);
        }
        AviClip clip;
        ASSERT_TRUE(LoadClip(clip, WriteAvi(contents)));
        ExpectFrames(clip, images);
        EXPECT_EQ(clip.KeyFrames(), (std::vector<int> {0, 1, 2}));
    }
}

// A 4 x 3 clip whose first frame is all colour 5 and whose second frame is the given RLE8
// stream; returns the second frame top row first, or empty when the clip is refused.
Image SecondFrame(std::vector<std::uint8_t> stream)
{
    const Image first(12, 5);
    AviClip clip;
    if (!LoadClip(clip, WriteAvi(Rle8Clip(4, 3, {EncodeRle8(first.data(), 4, 3), stream}))))
        return {};
    return clip.Frame(1);
}

TEST(AviClip, Rle8SkipsKeepThePreviousFramesPixels)
{
    // Delta to x 1 of the middle row, two pixels of 9, end of bitmap.
    EXPECT_EQ(SecondFrame({0, 2, 1, 1, 2, 9, 0, 1}), (Image {5, 5, 5, 5, 5, 9, 9, 5, 5, 5, 5, 5}));
    // One pixel on the bottom row, end of line, then three literal pixels (with padding).
    EXPECT_EQ(SecondFrame({1, 7, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1}),
              (Image {5, 5, 5, 5, 1, 2, 3, 5, 7, 5, 5, 5}));
    // Nothing but end of bitmap: the frame repeats.
    EXPECT_EQ(SecondFrame({0, 1}), Image(12, 5));
    // Filling the top row exactly, then end of line past it and end of bitmap, is fine.
    EXPECT_EQ(SecondFrame({0, 2, 0, 2, 4, 8, 0, 0, 0, 1}),
              (Image {8, 8, 8, 8, 5, 5, 5, 5, 5, 5, 5, 5}));

    // In the first frame, what the stream skips is colour 0.
    AviClip clip;
    ASSERT_TRUE(LoadClip(clip, WriteAvi(Rle8Clip(4, 3, {{0, 2, 3, 2, 1, 6, 0, 1}}))));
    EXPECT_EQ(clip.Frame(0), (Image {0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(AviClip, Rle8StreamsThatLeaveTheBitmapAreRefused)
{
    EXPECT_TRUE(SecondFrame({5, 1, 0, 1}).empty()); // a run past the end of the row
    EXPECT_TRUE(SecondFrame({0, 5, 1, 2, 3, 4, 5, 0, 0, 1}).empty()); // literal past the row
    EXPECT_TRUE(SecondFrame({0, 2, 0, 3, 1, 1, 0, 1}).empty()); // a pixel above the top
    EXPECT_TRUE(SecondFrame({0, 2, 5, 0, 0, 1}).empty()); // a skip past the right edge
    EXPECT_TRUE(SecondFrame({0, 2, 0, 4, 0, 1}).empty()); // a skip past the top
    EXPECT_TRUE(SecondFrame({0, 0, 0, 0, 0, 0, 0, 0, 0, 1}).empty()); // four ends of line
    EXPECT_TRUE(SecondFrame({2, 1}).empty()); // no end of bitmap
    EXPECT_TRUE(SecondFrame({0, 3, 1, 2}).empty()); // a literal cut short
    EXPECT_TRUE(SecondFrame({0, 2, 1}).empty()); // a skip cut short
    EXPECT_TRUE(SecondFrame({0}).empty());
}

TEST(AviClip, IndexAndHeaderVariants)
{
    const Image pixels(6, 3);
    const auto frame = EncodeRle8(pixels.data(), 3, 2);

    // Without an index the first frame is the only key frame.
    AviContents contents = Rle8Clip(3, 2, {frame, frame, frame});
    contents.withIndex = false;
    AviClip clip;
    ASSERT_TRUE(LoadClip(clip, WriteAvi(contents)));
    EXPECT_EQ(clip.KeyFrames(), std::vector<int> {0});

    // The index's flags decide, and chunks of other kinds between the frames are skipped.
    contents = Rle8Clip(3, 2, {frame, frame, frame});
    contents.chunks[2].key = true;
    AviChunk junk;
    junk.id = "JUNK";
    junk.data.assign(7, 0xEE);
    junk.key = true;
    contents.chunks.insert(contents.chunks.begin() + 1, junk);
    AviChunk sound;
    sound.id = "01wb";
    sound.data.assign(10, 0x80);
    contents.chunks.insert(contents.chunks.begin() + 2, sound);
    ASSERT_TRUE(LoadClip(clip, WriteAvi(contents)));
    EXPECT_EQ(clip.FrameCount(), 3);
    EXPECT_EQ(clip.KeyFrames(), (std::vector<int> {0, 2}));

    // Frame time from the stream's rate when the main header gives none.
    contents = Rle8Clip(3, 2, {frame});
    contents.microsecondsPerFrame = 0;
    contents.rate = 30000;
    contents.scale = 1001;
    ASSERT_TRUE(LoadClip(clip, WriteAvi(contents)));
    EXPECT_EQ(clip.MicrosecondsPerFrame(), 33366);
    contents.rate = 0;
    EXPECT_FALSE(LoadClip(clip, WriteAvi(contents)));

    // A short colour table: the rest of the palette is black.
    contents = Rle8Clip(3, 2, {frame});
    contents.colorsUsed = 16;
    ASSERT_TRUE(LoadClip(clip, WriteAvi(contents)));
    ASSERT_EQ(clip.Palette().size(), 256u);
    EXPECT_EQ(clip.Palette()[15], TestPalette()[15]);
    EXPECT_EQ(clip.Palette()[16], 0u);
    EXPECT_EQ(clip.Palette()[255], 0u);
}

TEST(AviClip, EmptyChunkRepeatsAndOddChunksArePadded)
{
    const Image a = {1, 2, 3, 4, 5, 6};
    const Image b = {6, 5, 4, 3, 2, 1};
    std::vector<std::uint8_t> odd = EncodeRle8(b.data(), 3, 2);
    odd.push_back(0xAB); // a stray byte after end of bitmap makes the chunk odd-sized
    const auto contents = Rle8Clip(3, 2, {EncodeRle8(a.data(), 3, 2), {}, odd, {}});
    const std::vector<std::uint8_t> data = WriteAvi(contents);
    AviClip clip;
    ASSERT_TRUE(LoadClip(clip, data));
    ExpectFrames(clip, {a, a, b, b});

    // A palette change inside the movie is not something the control plays.
    auto withPaletteChange = contents;
    withPaletteChange.chunks[1].id = "00pc";
    withPaletteChange.chunks[1].data.assign(8, 0);
    EXPECT_FALSE(LoadClip(clip, WriteAvi(withPaletteChange)));
}

TEST(AviClip, TransparentColourIsFrameZerosTopLeftPixel)
{
    Image im(6, 7);
    im[0] = 200; // top left
    im[3] = 9; // bottom left, the first pixel in the stream
    AviClip clip;
    ASSERT_TRUE(LoadClip(clip, WriteAvi(Rle8Clip(3, 2, {EncodeRle8(im.data(), 3, 2)}))));
    EXPECT_EQ(clip.TransparentColor(), TestPalette()[200]);
    EXPECT_EQ(AviClip().TransparentColor(), 0u);
}

} // namespace
