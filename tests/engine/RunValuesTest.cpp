#include "engine/RunMessages.h"
#include "engine/RunNames.h"
#include "engine/TargetFolders.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>

namespace kelvane {
namespace {

JobSettings WindowsStyleSettings()
{
    JobSettings s;
    s.sourceFolder = "D:\\Video\\Clips";
    s.targetFolder = "D:\\Backup";
    s.fileMask = "*.avi";
    return s;
}

// The run's paths for a job with a sub folder and no stamp.
RunPaths SubFolderPaths(const std::string &source, const std::string &target)
{
    JobSettings s;
    s.sourceFolder = source;
    s.targetFolder = target;
    s.createSubFolder = 1;
    s.useTimestamps = 0;
    return DeriveRunPaths(s, "_x");
}

TEST(RunPathsTest, SubFolderAndStampFollowTheSwitches)
{
    JobSettings s = WindowsStyleSettings();
    s.createSubFolder = 1;
    s.useTimestamps = 1;
    RunPaths p = DeriveRunPaths(s, "_20040315_093000");
    EXPECT_EQ(p.sourceFolder, test::NativePath("D:/Video/Clips"));
    EXPECT_EQ(p.fileMask, "*.avi");
    EXPECT_EQ(p.sourceName, "Clips");
    EXPECT_EQ(p.outputFolder, test::NativePath("D:/Backup/Clips"));
    EXPECT_EQ(p.singleArchive, test::NativePath("D:/Backup/Clips/Clips_20040315_093000.zip"));
    EXPECT_EQ(p.conflictArchive, test::NativePath("D:/Backup/Clips/conflict_20040315_093000.zip"));

    s.createSubFolder = 0;
    s.useTimestamps = 0;
    p = DeriveRunPaths(s, "_20040315_093000");
    EXPECT_EQ(p.outputFolder, test::NativePath("D:/Backup"));
    EXPECT_EQ(p.singleArchive, test::NativePath("D:/Backup/Clips.zip"));
    EXPECT_EQ(p.conflictArchive, test::NativePath("D:/Backup/conflict.zip"));
}

TEST(RunPathsTest, MixedSeparatorsAndAbsolutePaths)
{
    const RunPaths p = SubFolderPaths("/data\\in/Clips", "/backup/");
    EXPECT_EQ(p.sourceFolder, test::NativePath("/data/in/Clips"));
    EXPECT_EQ(p.outputFolder, test::NativePath("/backup/Clips"));
    EXPECT_EQ(p.singleArchive, test::NativePath("/backup/Clips/Clips.zip"));
}

TEST(RunPathsTest, SourceNameIsTheLastNonEmptyLevel)
{
    // The last of "\\\\nas\\clips\\" is a share's root: it names the share.
    const std::pair<const char *, const char *> names[] = {{"C:\\Video\\Clips", "Clips"},
                                                           {"/video/clips", "clips"},
                                                           {"a/b\\c", "c"},
                                                           {"Clips", "Clips"},
                                                           {"Clips\\", "Clips"},
                                                           {"D:\\Clips\\", "Clips"},
                                                           {"/home/u/Clips//", "Clips"},
                                                           {"/", ""},
                                                           {"\\/\\", ""},
                                                           {"", ""},
                                                           {"\\\\nas\\clips\\", "clips"}};
    for (const auto &[path, name] : names)
        EXPECT_EQ(SourceNameOf(path), name) << path;
#ifdef _WIN32
    // A drive root names its letter: "E:" could be neither a folder nor an archive.
    EXPECT_EQ(SourceNameOf("E:\\"), "E");
    EXPECT_EQ(SourceNameOf("e:"), "e");
    EXPECT_EQ(SourceNameOf("\\\\?\\E:\\"), "E");
#else
    EXPECT_EQ(SourceNameOf("E:\\"), "E:"); // a folder named "E:" in the current one
#endif

    // The sub folder and the single archive take their names from it.
    const RunPaths p = SubFolderPaths("/home/u/Clips/", "/backup");
    EXPECT_EQ(p.outputFolder, test::NativePath("/backup/Clips"));
    EXPECT_EQ(p.singleArchive, test::NativePath("/backup/Clips/Clips.zip"));
}

TEST(FileNameTest, SplitsAtTheLastDot)
{
    auto check = [](const std::string &name, const std::string &base, const std::string &ext) {
        const NameParts parts = SplitFileName(name);
        EXPECT_EQ(parts.baseName, base) << name;
        EXPECT_EQ(parts.extension, ext) << name;
    };
    check("take1.avi", "take1", ".avi");
    check("a.tar.gz", "a.tar", ".gz");
    check("README", "README", "");
    check(".profile", "", ".profile");
    check("trailing.", "trailing", ".");
}

TEST(FileNameTest, LongBaseNamesAreCutWithoutBreakingACharacter)
{
    // Base names keep at most 251 bytes, so that base name and ".zip" fit 255.
    EXPECT_EQ(SplitFileName(std::string(300, 'a') + ".txt").baseName, std::string(251, 'a'));
    EXPECT_EQ(SplitFileName(std::string(251, 'b') + ".txt").baseName, std::string(251, 'b'));
    // "é" (2 bytes) at bytes 251..252 would be split, so it goes.
    const std::string twoByte = std::string(250, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(SplitFileName(twoByte).baseName, std::string(250, 'a'));
    EXPECT_EQ(SplitFileName(std::string(249, 'a') + "\xC3\xA9" + "tail.txt").baseName,
              std::string(249, 'a') + "\xC3\xA9");
    // "€" (3 bytes) at 253..255 goes; at 252..254 it fits and stays.
    EXPECT_EQ(CutAtCharBoundary(std::string(253, 'a') + "\xE2\x82\xAC" + "x", 255),
              std::string(253, 'a'));
    EXPECT_EQ(CutAtCharBoundary(std::string(252, 'a') + "\xE2\x82\xAC" + "x", 255),
              std::string(252, 'a') + "\xE2\x82\xAC");
    // A 4-byte character straddling the cut, after its second or its third byte.
    EXPECT_EQ(CutAtCharBoundary(std::string(253, 'a') + "\xF0\x9F\x98\x80", 255),
              std::string(253, 'a'));
    EXPECT_EQ(CutAtCharBoundary(std::string(252, 'a') + "\xF0\x9F\x98\x80" + "x", 255),
              std::string(252, 'a'));
    // Bytes that are not UTF-8 at all are cut plainly.
    EXPECT_EQ(CutAtCharBoundary(std::string(300, '\x80'), 255).size(), 255u);
    EXPECT_EQ(CutAtCharBoundary("short", 255), "short");
}

TEST(FileNameTest, OnlyExactZipExtensionsAreZipFiles)
{
    EXPECT_TRUE(IsZipExtension(".zip"));
    EXPECT_TRUE(IsZipExtension(".ZIP"));
    EXPECT_FALSE(IsZipExtension(".Zip"));
    EXPECT_FALSE(IsZipExtension(".zIP"));
    EXPECT_FALSE(IsZipExtension("zip"));
    EXPECT_FALSE(IsZipExtension(".zipx"));
    EXPECT_FALSE(IsZipExtension(""));
}

TEST(ArchivePathOrderTest, UnsignedByteOrder)
{
    EXPECT_TRUE(ArchivePathLess("o/B.zip", "o/a.zip")); // upper case first
    EXPECT_FALSE(ArchivePathLess("o/a.zip", "o/B.zip"));
    EXPECT_TRUE(ArchivePathLess("o/z.zip", "o/\xC3\xA9.zip")); // high bytes after ASCII
    EXPECT_TRUE(ArchivePathLess("o/a", "o/a.zip"));
    EXPECT_FALSE(ArchivePathLess("o/a.zip", "o/a.zip"));
}

TEST(ConflictMessageTest, ExactText)
{
    EXPECT_EQ(ConflictMessageText(3, "/t/conflict.zip"),
              "Due to file name conflicts with existing target directory files, 3 files were "
              "copied to\n/t/conflict.zip\n\nAvoid this by copying to a clean target folder.");
}

// Sets the time zone for one test (POSIX form: "XYZ-2" is two hours east of UTC).
class ScopedTimeZone
{
#ifdef _WIN32
    // The C runtime of Windows has no setenv; _putenv_s with "" removes the variable.
    static void setenv(const char *name, const char *value, int)
    {
        _putenv_s(name, value);
    }
    static void unsetenv(const char *name)
    {
        _putenv_s(name, "");
    }
    static void tzset()
    {
        _tzset();
    }
#endif

public:
    explicit ScopedTimeZone(const char *zone)
    {
        if (const char *old = std::getenv("TZ"))
            previous_ = old;
        had_ = std::getenv("TZ") != nullptr;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (had_)
            setenv("TZ", previous_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string previous_;
    bool had_ = false;
};

TEST(RunStampTest, LocalDateAndTimeInFixedForm)
{
    // 15 March 2004, 9:30:00 UTC.
    constexpr std::time_t kMoment = 1079343000;
    {
        ScopedTimeZone utc("UTC0");
        EXPECT_EQ(MakeRunStamp(kMoment), "_20040315_093000");
        EXPECT_EQ(MakeRunStamp(kMoment + 14 * 3600 + 29 * 60 + 59), "_20040315_235959");
    }
    {
        // Local time, not UTC: two hours east the same moment reads 11:30, and a moment
        // late in the evening is already the next day.
        ScopedTimeZone east("XYZ-2");
        EXPECT_EQ(MakeRunStamp(kMoment), "_20040315_113000");
        EXPECT_EQ(MakeRunStamp(kMoment + 14 * 3600 + 29 * 60 + 59), "_20040316_015959");
    }
    EXPECT_TRUE(std::regex_match(MakeRunStamp(), std::regex("_[0-9]{8}_[0-9]{6}")));
}

} // namespace
} // namespace kelvane
