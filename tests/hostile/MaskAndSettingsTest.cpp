// A mask far beyond any typed one, and settings files no editor writes: huge, with NUL
// bytes, a byte-order mark, an end-of-text byte, and line ends at the 512-byte marks where
// a reader with a fixed buffer would split them.

#include "tests/hostile/HostileRun.h"

#include "settings/SettingsFile.h"

namespace kelvane::test {
namespace {

class HugeMaskTest : public HostileRun
{ };

TEST_F(HugeMaskTest, TenThousandStarsTakeEveryFile)
{
    window.settings.fileMask = std::string(10000, '*');
    for (const std::string &name :
         {std::string("a.txt"), std::string("b"), std::string(".hidden"), std::string(255, 'l')})
        Source(name);
    FakeWindow &w = Run();
    EXPECT_TRUE(w.Messages().empty());
    ExpectReadersAgree(out + "/src.zip",
                       Expected({".hidden", "a.txt", "b", std::string(255, 'l')}));
}

TEST_F(HugeMaskTest, StarsAroundAnExtensionStillSelect)
{
    for (const char *name : {"a.txt", "b.doc", "ctxt", "d.txt.bak", "e.TXT"})
        Source(name);
    FakeWindow w;
    const std::string stars(5000, '*');
    EXPECT_EQ(CountMatchingFiles(w, src, stars + ".txt" + stars), 2); // a.txt, d.txt.bak
    EXPECT_EQ(CountMatchingFiles(w, src, stars + ".txt"), 1);
    // A final ".*" takes names without a dot too, however many stars come before it.
    EXPECT_EQ(CountMatchingFiles(w, src, stars + "t.*"), 2); // ctxt, d.txt.bak
    // Two characters before some dot, or a dotless name of two characters or more.
    EXPECT_EQ(CountMatchingFiles(w, src, stars + "?" + stars + "?" + stars + ".*"), 2);
}

// Reads a settings file as the program does, from a real file.
JobSettings LoadText(const TempDir &tmp, const std::string &text)
{
    const std::string path = tmp / "kelvane.ini";
    WriteFile(path, text);
    JobSettings s;
    EXPECT_TRUE(LoadSettingsFile(path, s));
    return s;
}

TEST(HostileSettingsFile, ByteOrderMarkHidesTheFirstKeyOnly)
{
    // The mark is not white space, so it becomes part of the first line's key, which a
    // save always writes as CREATE_SUB_FOLDER: that key is unknown and its switch reads as
    // missing, which is on. Every later line is read as usual.
    TempDir tmp;
    JobSettings saved; // every field unlike its default
    saved.fileMask = "*.avi";
    saved.sourceFolder = "/clips";
    saved.targetFolder = "/backup";
    saved.createSubFolder = saved.keepIndividual = saved.storePathInZip = 0;
    saved.useTimestamps = saved.skipConflicts = 1;
    JobSettings expected = saved;
    expected.createSubFolder = 1;
    EXPECT_EQ(FormatSettings(LoadText(tmp, "\xEF\xBB\xBF" + FormatSettings(saved))),
              FormatSettings(expected));
    // With a blank first line the mark stands alone and hides nothing.
    EXPECT_EQ(LoadText(tmp, "\xEF\xBB\xBF\r\n" + FormatSettings(saved)).createSubFolder, 0);
}

TEST(HostileSettingsFile, TenMegabytesOnOneLineWithNulAndEndOfText)
{
    // One line of 10 MB: a NUL at 5 MB ends the value, the 0x1A behind it (still on the
    // same line) ends the whole text, so the FILE_MASK line after it is never read.
    TempDir tmp;
    std::string line = "SOURCE_FOLDER " + std::string(10u << 20, 'x');
    line[5u << 20] = '\0';
    line[8u << 20] = '\x1a';
    const JobSettings s = LoadText(tmp, "TARGET_FOLDER /t\r\n" + line + "\r\nFILE_MASK *.avi\r\n");
    EXPECT_EQ(s.sourceFolder, std::string((5u << 20) - 14, 'x'));
    EXPECT_EQ(s.targetFolder, "/t");
    EXPECT_EQ(s.fileMask, "");
    EXPECT_EQ(s.createSubFolder, 1);
}

TEST(HostileSettingsFile, LineEndsAroundThe512ByteMark)
{
    // Lines of 510 to 513 bytes before their CR LF: the CR and the LF fall on both sides
    // of byte 512 in turn. Every line is read whole and its CR LF is not part of it.
    TempDir tmp;
    for (std::size_t length = 510; length <= 513; ++length) {
        SCOPED_TRACE(length);
        std::string mask = "FILE_MASK " + std::string(length - 10, 'm');
        // Text a reader that split the line at 511 or 512 bytes would take as a key.
        mask.replace(length - 14, 4, "*.mp");
        const std::string text
            = mask + "\r\nSOURCE_FOLDER /s\r\n" + std::string(length, ' ') + "\r\nTARGET_FOLDER /t";
        const JobSettings s = LoadText(tmp, text);
        EXPECT_EQ(s.fileMask, mask.substr(10));
        EXPECT_EQ(s.sourceFolder, "/s");
        EXPECT_EQ(s.targetFolder, "/t");
    }
}

} // namespace
} // namespace kelvane::test
