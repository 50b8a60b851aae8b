// Runs into a target whose names fold letter case, as users' sticks, cards and Windows
// volumes do: on Linux a real exFAT file system through FUSE, which also has neither a
// rename that refuses a taken name nor hard links; on Windows any folder.

#include "tests/support/RunFixture.h"

#include "placement/Placement.h"
#ifndef _WIN32
#include "tests/support/ExfatMount.h"
#endif

namespace kelvane::test {
namespace {

using Names = std::vector<std::string>;

class FoldingTarget : public RunFixture
{
protected:
    FoldingTarget() : RunFixture("Take") { }

    void SetUp() override
    {
        RunFixture::SetUp();
#ifndef _WIN32
        if (!exfat_.Unavailable().empty())
            GTEST_SKIP() << exfat_.Unavailable();
        ASSERT_EQ(exfat_.Error(), "");
        out = exfat_.Path() + "/out";
        window.settings.targetFolder = out;
#endif
    }

    // Runs, and expects the one conflict message for count files in the conflict archive.
    RunReport RunWithConflicts(std::size_t count)
    {
        RunReport report;
        EXPECT_EQ(ArchiveRun(window, report), 0);
        const std::string conflictArchive = NativePath(out + "/conflict.zip");
        EXPECT_EQ(window.Messages(),
                  (std::vector<std::pair<std::string, std::string>> {
                      {kConflictCaption, ConflictMessageText(count, conflictArchive)}}));
        EXPECT_EQ(report.conflictArchive, conflictArchive);
        EXPECT_EQ(report.notArchived, Names {});
        return report;
    }

#ifndef _WIN32
    ExfatMount exfat_;
#endif
};

// Keys that differ only in case: the first in the run's order ("Clip.zip") takes the name
// although its large file closes long after the small "clip.txt" would have, and the other
// key's file is a conflict. Letters beyond ASCII fold as well ("Über" and "über").
TEST_F(FoldingTarget, FirstKeyInOrderTakesTheNameAndTheOtherIsAConflict)
{
    window.settings.keepIndividual = 1;
    const std::string upper = "\xC3\x9C"
                              "ber",
                      lower = "\xC3\xBC"
                              "ber";
    const std::string clip = RandomBytes(std::size_t {4} << 20, 18);
    const std::string uber = RandomBytes(std::size_t {4} << 20, 19);
    WriteFile(src + "/Clip.avi", clip);
    WriteFile(src + "/" + upper + ".avi", uber);
    Source("clip.txt");
    Source(lower + ".txt");

    const RunReport report = RunWithConflicts(2);

    EXPECT_EQ(ListDir(out), (Names {"Clip.zip", "conflict.zip", upper + ".zip"}));
    for (const auto &[name, data] :
         {std::pair(std::string("Clip"), clip), std::pair(upper, uber)}) {
        const PythonView archive = PythonRead(out + "/" + name + ".zip"); // names as bytes
        ASSERT_EQ(archive.error, "");
        ASSERT_EQ(archive.entries.size(), 1u) << name;
        EXPECT_EQ(archive.entries[0].first, name + ".avi");
        EXPECT_TRUE(archive.entries[0].second == data) << name << ".avi's data differ";
    }
    EXPECT_EQ(PythonRead(out + "/conflict.zip").entries, Expected({"clip.txt", lower + ".txt"}));
    EXPECT_EQ(report.conflicts,
              (Names {NativePath(src + "/clip.txt"), NativePath(src + "/" + lower + ".txt")}));
}

// A zip file whose name is the single archive's in another case is a conflict, not a copy
// that the archive then replaces; other zip files are copied, and the settings file is
// saved and saved again, on a target without links.
TEST_F(FoldingTarget, ZipNamedAsTheSingleArchiveInAnotherCaseIsAConflict)
{
    Source("take.ZIP");
    Source("b.zip");
    Source("a.txt");

    const RunReport report = RunWithConflicts(1);

    EXPECT_EQ(ListDir(out), (Names {"Take.zip", "b.zip", "conflict.zip"}));
    EXPECT_EQ(Entries(out + "/Take.zip"), Expected({"a.txt"}));
    EXPECT_EQ(ReadFile(out + "/b.zip"), Content("b.zip"));
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"take.ZIP"}));
    EXPECT_EQ(report.copiesPlaced, Names {NativePath(out + "/b.zip")});
    EXPECT_EQ(report.conflicts, Names {NativePath(src + "/take.ZIP")});

    const std::string settings = NativePath(out + "/kelvane.ini");
    for (const char *text : {"first", "second"}) {
        EXPECT_FALSE(placement::SaveFile(settings, text));
        EXPECT_EQ(ReadFile(settings), text);
    }
}

} // namespace
} // namespace kelvane::test
