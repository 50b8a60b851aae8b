// A damaged clip must be refused as a whole, never read outside its data, and never make
// the reader allocate without bound.

#include "resources/Resources.h"
#include "tests/resources/ClipTestUtil.h"

#include <gtest/gtest.h>

namespace {

using kelvane::AviClip;
using namespace kelvane::res::tools;
using namespace kelvane::test;

std::vector<std::uint8_t> Shipped()
{
    return Bytes(kelvane::res::ClipData());
}

void ExpectEmpty(const AviClip &clip)
{
    EXPECT_TRUE(clip.IsEmpty());
    EXPECT_EQ(clip.FrameCount(), 0);
    EXPECT_EQ(clip.Width(), 0);
    EXPECT_EQ(clip.Height(), 0);
    EXPECT_EQ(clip.MicrosecondsPerFrame(), 0);
    EXPECT_TRUE(clip.Palette().empty());
    EXPECT_TRUE(clip.KeyFrames().empty());
    EXPECT_EQ(clip.TransparentColor(), 0u);
}

TEST(DamagedClip, EveryTruncationIsRefused)
{
    const std::vector<std::uint8_t> data = Shipped();
    AviClip clip;
    for (std::size_t n = 0; n < data.size(); ++n) {
        // A fresh copy of exactly n bytes, so that reading past it is caught by the sanitizer.
        const std::vector<std::uint8_t> cut(data.begin(),
                                            data.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_FALSE(clip.Load(cut.data(), cut.size())) << n;
    }
    ExpectEmpty(clip);
    EXPECT_FALSE(clip.Load(nullptr, 0));
    EXPECT_FALSE(clip.Load(nullptr, 100));
}

TEST(DamagedClip, EveryTruncationWithAMatchingRiffSizeIsRefused)
{
    // The outer size agrees with the cut, so only the inner checks can notice it. The one
    // cut that leaves a whole clip is the one that drops exactly the index.
    const std::vector<std::uint8_t> data = Shipped();
    const std::size_t index = FindTag(data, "idx1");
    AviClip clip;
    for (std::size_t n = 12; n < data.size(); ++n) {
        std::vector<std::uint8_t> cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        Set32(cut, 4, static_cast<std::uint32_t>(n - 8));
        if (n == index) {
            ASSERT_TRUE(LoadClip(clip, cut));
            EXPECT_EQ(clip.FrameCount(), 20);
            EXPECT_EQ(clip.KeyFrames(), std::vector<int> {0});
        } else {
            ASSERT_FALSE(LoadClip(clip, cut)) << n;
            ExpectEmpty(clip);
        }
    }
}

TEST(DamagedClip, AFailedLoadEmptiesAClipThatHeldOne)
{
    const std::vector<std::uint8_t> data = Shipped();
    AviClip clip;
    ASSERT_TRUE(LoadClip(clip, data));
    EXPECT_FALSE(clip.Load(data.data(), data.size() - 1));
    ExpectEmpty(clip);
    EXPECT_TRUE(LoadClip(clip, data));
    EXPECT_EQ(clip.FrameCount(), 20);
}

TEST(DamagedClip, FlippedStructureIsRefused)
{
    const std::vector<std::uint8_t> data = Shipped();
    const std::size_t strf = FindTag(data, "strf") + 8;
    const std::size_t movi = FindTag(data, "movi");
    const std::size_t firstFrame = movi + 4;
    const std::size_t idx1 = FindTag(data, "idx1") + 8;
    const std::size_t positions[] = {
        0, // RIFF
        8, // AVI
        12, // LIST of hdrl
        16, // hdrl
        FindTag(data, "avih"),
        FindTag(data, "avih") + 4, // its size
        FindTag(data, "strl"),
        FindTag(data, "vids"),
        strf + 12, // planes
        strf + 14, // bits a pixel
        strf + 16, // compression
        strf + 4 + 3, // width's top byte: negative
        strf + 33, // colours used: above 256
        movi,
        firstFrame, // the first frame's tag: the index no longer matches
        firstFrame + 4 + 1, // the first frame's size
        idx1 + 8, // the first index entry's offset
        idx1 + 12, // and its size
    };
    for (std::size_t at : positions) {
        ASSERT_LT(at, data.size());
        std::vector<std::uint8_t> bad = data;
        bad[at] ^= 0x80;
        AviClip clip;
        EXPECT_FALSE(LoadClip(clip, bad)) << "byte " << at;
        ExpectEmpty(clip);
    }
}

TEST(DamagedClip, AnyFlippedByteIsRefusedOrGivesAWholeClip)
{
    const std::vector<std::uint8_t> data = Shipped();
    int refused = 0;
    for (std::size_t at = 0; at < data.size(); ++at) {
        std::vector<std::uint8_t> bad = data;
        bad[at] ^= 0xFF;
        AviClip clip;
        if (!LoadClip(clip, bad)) {
            ++refused;
            ASSERT_TRUE(clip.IsEmpty()) << at;
            continue;
        }
        // Damage in pixel values or padding may go unnoticed; the clip is still whole.
        ASSERT_GE(clip.FrameCount(), 1) << at;
        ASSERT_EQ(clip.Palette().size(), 256u);
        for (int i = 0; i < clip.FrameCount(); ++i)
            ASSERT_EQ(clip.Frame(i).size(),
                      static_cast<std::size_t>(clip.Width())
                          * static_cast<std::size_t>(clip.Height()));
    }
    EXPECT_GT(refused, 100);
}

TEST(DamagedClip, SizesPointingPastTheEnd)
{
    const std::vector<std::uint8_t> data = Shipped();
    AviClip clip;
    for (const char *tag : {"RIFF", "LIST", "avih", "strf", "movi", "00dc", "idx1"}) {
        std::vector<std::uint8_t> bad = data;
        std::size_t at = FindTag(bad, tag);
        ASSERT_NE(at, std::string::npos);
        if (std::string(tag) == "movi")
            at -= 8; // the list's own header
        for (std::uint32_t size :
             {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, static_cast<std::uint32_t>(data.size())}) {
            Set32(bad, at + 4, size);
            EXPECT_FALSE(LoadClip(clip, bad)) << tag << " " << size;
        }
    }
    // A RIFF size too small to hold the headers.
    std::vector<std::uint8_t> bad = data;
    Set32(bad, 4, 4);
    EXPECT_FALSE(LoadClip(clip, bad));
    // A last chunk of odd size without its pad byte.
    bad = data;
    bad.push_back(0);
    const std::size_t idx1 = FindTag(bad, "idx1");
    Set32(bad, idx1 + 4, Get32(bad, idx1 + 4) + 1);
    Set32(bad, 4, Get32(bad, 4) + 1);
    EXPECT_FALSE(LoadClip(clip, bad));
}

TEST(DamagedClip, AbsurdFormatsAreRefusedBeforeAllocating)
{
    const std::vector<std::uint8_t> frame = {0, 1};
    auto withSize = [&](int width, int height) {
        AviContents contents = Rle8Clip(width, height, {frame});
        return WriteAvi(contents);
    };
    AviClip clip;
    EXPECT_FALSE(LoadClip(clip, withSize(1000000, 42)));
    EXPECT_FALSE(LoadClip(clip, withSize(4097, 4096))); // just over 16 M pixels
    EXPECT_FALSE(LoadClip(clip, withSize(0x7FFFFFFF, 0x7FFFFFFF)));
    EXPECT_FALSE(LoadClip(clip, withSize(0, 42)));
    EXPECT_FALSE(LoadClip(clip, withSize(64, 0)));
    EXPECT_FALSE(LoadClip(clip, withSize(64, -42))); // top-down
    EXPECT_FALSE(LoadClip(clip, withSize(-64, 42)));
    // The limit itself is allowed.
    ASSERT_TRUE(LoadClip(clip, withSize(4096, 4096)));
    EXPECT_EQ(clip.Frame(0).size(), 4096u * 4096u);

    AviContents contents = Rle8Clip(2, 2, {frame});
    contents.colorsUsed = 257;
    EXPECT_FALSE(LoadClip(clip, WriteAvi(contents)));
    contents.colorsUsed = 0;
    contents.compression = 2; // BI_RLE4
    EXPECT_FALSE(LoadClip(clip, WriteAvi(contents)));
    std::vector<std::uint8_t> bad = WriteAvi(Rle8Clip(2, 2, {frame}));
    const std::size_t strf = FindTag(bad, "strf") + 8;
    bad[strf + 14] = 4; // 4 bits a pixel
    EXPECT_FALSE(LoadClip(clip, bad));
    bad[strf + 14] = 8;
    Set32(bad, strf, 2000); // header larger than its chunk
    EXPECT_FALSE(LoadClip(clip, bad));
}

TEST(DamagedClip, FrameCountIsBounded)
{
    // Empty chunks repeat the previous frame, so they are the cheapest frames to ask for.
    AviContents contents = Rle8Clip(1, 1, {{0, 1}});
    contents.withIndex = false;
    contents.chunks.resize(100000);
    AviClip clip;
    ASSERT_TRUE(LoadClip(clip, WriteAvi(contents)));
    EXPECT_EQ(clip.FrameCount(), 100000);
    contents.chunks.resize(100001);
    EXPECT_FALSE(LoadClip(clip, WriteAvi(contents)));
}

TEST(DamagedClip, IndexThatDisagreesWithTheMovie)
{
    const std::vector<std::uint8_t> pixels(4, 1);
    const auto f = EncodeRle8(pixels.data(), 2, 2);
    const std::vector<std::uint8_t> good = WriteAvi(Rle8Clip(2, 2, {f, f}));
    AviClip clip;
    ASSERT_TRUE(LoadClip(clip, good));
    const std::size_t idx1 = FindTag(good, "idx1");

    std::vector<std::uint8_t> bad = good;
    Set32(bad, idx1 + 8 + 16 + 8, Get32(bad, idx1 + 8 + 8)); // entry 2 points at frame 1
    EXPECT_FALSE(LoadClip(clip, bad));

    bad = good; // one entry too few
    Set32(bad, idx1 + 4, 16);
    bad.resize(bad.size() - 16);
    Set32(bad, 4, Get32(bad, 4) - 16);
    EXPECT_FALSE(LoadClip(clip, bad));

    bad = good; // a size that is no multiple of an entry
    Set32(bad, idx1 + 4, 30);
    EXPECT_FALSE(LoadClip(clip, bad));

    // Offsets counted from the start of the file are accepted as well.
    bad = good;
    const std::size_t movi = FindTag(good, "movi");
    for (int e = 0; e < 2; ++e) {
        const std::size_t at = idx1 + 8 + 16 * static_cast<std::size_t>(e) + 8;
        Set32(bad, at, Get32(bad, at) + static_cast<std::uint32_t>(movi));
    }
    EXPECT_TRUE(LoadClip(clip, bad));
}

} // namespace
