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
        ArchiveRun(window, report);
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
// key's file is a conflict.
TEST_F(FoldingTarget, FirstKeyInOrderTakesTheNameAndTheOtherIsAConflict)
{
    window.settings.keepIndividual = 1;
    const std::string clip = RandomBytes(std::size_t {4} << 20, 18);
    WriteFile(src + "/Clip.avi", clip);
    Source("clip.txt");

    const RunReport report = RunWithConflicts(1);

    EXPECT_EQ(ListDir(out), (Names {"Clip.zip", "conflict.zip"}));
    const auto entries = Entries(out + "/Clip.zip");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, "Clip.avi");
    EXPECT_TRUE(entries[0].second == clip) << "Clip.avi's data differ";
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"clip.txt"}));
    EXPECT_EQ(report.conflicts, Names {NativePath(src + "/clip.txt")});
}

// A zip file whose name is the single archive's in another case is a conflict, not a copy
// that the archive then replaces; other zip files are copied, and the settings file is
// saved and saved again, on a target without links.
TEST_F(FoldingTarget, ZipNamedAsTheSingleArchiveInAnotherCaseIsAConflict)
{
    Sources({"take.ZIP", "b.zip", "a.txt"});

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
