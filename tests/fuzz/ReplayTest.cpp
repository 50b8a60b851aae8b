// Every file of a seed corpus goes through the check its fuzzer runs.

#include "fuzz/FuzzChecks.h"
#ifdef KELVANE_FUZZ_HAVE_RESOURCES
#include "resources/Resources.h"
#include "ui/clip/AviClip.h"
#endif

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kelvane::fuzz {
namespace {

using Check = std::string (*)(const std::uint8_t *, std::size_t);

std::vector<std::string> FilesIn(const std::string &folder)
{
    std::vector<std::string> files;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                files.push_back(folder + "/" + name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string CheckBytes(Check check, const std::string &bytes)
{
    return check(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

// Replays one folder; returns how many files it held.
std::size_t Replay(const std::string &folder, Check check)
{
    const std::vector<std::string> files = FilesIn(folder);
    for (const std::string &file : files)
        EXPECT_EQ(CheckBytes(check, Slurp(file)), "") << file;
    return files.size();
}

const std::string kCorpus = std::string(KELVANE_FUZZ_DIR) + "/corpus/";
const std::string kFindings = std::string(KELVANE_FUZZ_DIR) + "/findings/";

TEST(FuzzReplay, SettingsCorpus)
{
    EXPECT_GE(Replay(kCorpus + "settings", CheckSettingsText), 10u);
}

TEST(FuzzReplay, MaskCorpus)
{
    EXPECT_GE(Replay(kCorpus + "mask", CheckMaskMatch), 10u);
}

TEST(FuzzReplay, EntryNameCorpus)
{
    EXPECT_GE(Replay(kCorpus + "entry_name", CheckEntryName), 10u);
}

// Reproducers of findings not fixed yet live in findings/<check>/; each test here is
// enabled once its finding is fixed, and from then on guards the fix.
TEST(FuzzFindings, EntryNamesNeverStartWithADrive)
{
    EXPECT_GE(Replay(kFindings + "entry_name", CheckEntryName), 4u);
}

// A star that resumes after a literal byte matched inside a character must still reach an
// earlier star's alternatives. Only masks that are not UTF-8 show it.
TEST(FuzzFindings, MasksWithBrokenCharactersMatchLikeTheReference)
{
    EXPECT_GE(Replay(kFindings + "mask", CheckMaskMatch), 1u);
}

// Every mask of up to four characters (stars, "?", ".", "a", a two-byte character)
// against every name of up to four bytes from a set that makes whole, broken and
// surrogate sequences: the coverage-guided fuzzer rarely builds such pairs.
TEST(FuzzReference, MaskMatcherAgreesOnEverySmallCase)
{
    const std::vector<std::string> maskPieces = {"*", "?", ".", "a", "\xC3\xA9"};
    const std::string nameBytes = ".a\xC3\xA9\xED\xA0";
    std::vector<std::string> masks = {""}, names = {""};
    for (std::size_t from = 0, length = 1; length <= 4; ++length) {
        const std::size_t to = masks.size();
        for (std::size_t i = from; i < to; ++i) {
            for (const std::string &piece : maskPieces)
                masks.push_back(masks[i] + piece);
        }
        from = to;
    }
    for (std::size_t from = 0, length = 1; length <= 4; ++length) {
        const std::size_t to = names.size();
        for (std::size_t i = from; i < to; ++i) {
            for (char byte : nameBytes)
                names.push_back(names[i] + byte);
        }
        from = to;
    }
    int failures = 0;
    for (const std::string &mask : masks) {
        for (const std::string &name : names) {
            const std::string input = mask + std::string(1, '\0') + name;
            const std::string failure = CheckBytes(CheckMaskMatch, input);
            if (!failure.empty() && ++failures <= 5)
                ADD_FAILURE() << failure;
        }
    }
    EXPECT_EQ(failures, 0);
}

#ifdef KELVANE_FUZZ_HAVE_CLIP
TEST(FuzzReplay, ClipCorpus)
{
    EXPECT_GE(Replay(kCorpus + "clip", CheckClip), 5u);
}
#endif

#ifdef KELVANE_FUZZ_HAVE_RESOURCES
// The clip seed is a copy of the clip the build draws; both must load, and the check
// must hold for the one the program ships.
TEST(FuzzReplay, ShippedClipIsAValidSeed)
{
    const std::string shipped(res::ClipData());
    EXPECT_EQ(CheckBytes(CheckClip, shipped), "");
    AviClip clip;
    EXPECT_TRUE(clip.Load(reinterpret_cast<const unsigned char *>(shipped.data()), shipped.size()));
    const std::string seed = Slurp(kCorpus + "clip/shipped.avi");
    AviClip seedClip;
    EXPECT_TRUE(seedClip.Load(reinterpret_cast<const unsigned char *>(seed.data()), seed.size()));
}

// The hand-made seeds must load, or the fuzzer starts without a way into the decoders.
TEST(FuzzReplay, HandMadeClipSeedsLoad)
{
    for (const char *name : {"tiny_raw.avi", "tiny_rle.avi", "tiny_rle_no_index.avi"}) {
        const std::string seed = Slurp(kCorpus + "clip/" + name);
        AviClip clip;
        EXPECT_TRUE(clip.Load(reinterpret_cast<const unsigned char *>(seed.data()), seed.size()))
            << name;
    }
}
#endif

// The reference the mask fuzzer trusts, on cases whose answer is known by hand.
TEST(FuzzReference, MaskReferenceOnKnownCases)
{
    const struct
    {
        std::string mask, name;
        bool matches;
    } cases[] = {
        {"*.*", "README", true},
        {"*.*", "a.b", true},
        {"take1.*", "take1", true},
        {"take1.*", "take10", false},
        {"?", "\xC3\xA9", true}, // one two-byte character
        {"??", "\xC3\xA9", false},
        {"?", "\xC3", true}, // a broken sequence: one byte
        {"??", "\xC3\x28", true},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbY", false},
        {"", "", false},
        {"*", "", true},
        {std::string(200, '*') + "x", std::string(300, 'a'), false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReferenceMatchMask(c.mask, c.name), c.matches) << c.mask << " / " << c.name;
}

} // namespace
} // namespace kelvane::fuzz
