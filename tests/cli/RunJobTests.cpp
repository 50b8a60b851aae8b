#include "cli/Batch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "tests/cli/CliTestUtil.h"
#include "tests/support/ZipReaders.h"

namespace kelvane::batch {
namespace {

using namespace kelvane::test;

// A window that asks for a stop when the run reaches a given step, the way Ctrl+C would
// in the middle of a run, but at a known point.
class StopAtStepWindow : public TerminalReport
{
public:
    StopAtStepWindow(JobSettings s, std::ostream &err, int stopAt)
        : TerminalReport(std::move(s), err, ProgressStyle::Summary), stopAt_(stopAt)
    { }
    void StepIt() override
    {
        TerminalReport::StepIt();
        if (GetPos() == stopAt_)
            StopRequested() = true;
    }

private:
    int stopAt_;
};

class RunJobTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MakeDirs(dir / "src");
        WriteFile(dir / "src/a.txt", "alpha text");
        WriteFile(dir / "src/a.doc", "alpha doc");
        WriteFile(dir / "src/b.bin", std::string(100000, 'b'));
        WriteFile(dir / "src/old.zip", "not really a zip, copied as it is");
    }
    std::map<std::string, std::string> Entries(const std::string &zip)
    {
        std::map<std::string, std::string> m;
        const ZipContents c = ReadZip(zip);
        EXPECT_TRUE(c.ok) << zip << ": " << c.error;
        for (const ZipEntry &e : c.entries)
            m[e.name] = e.data;
        return m;
    }

    // Every archive the run wrote goes through the independent readers too.
    void TearDown() override { ExpectFolderReadsAlike(dir / "dst"); }

    TempDir dir;
    std::ostringstream err;
};

TEST_F(RunJobTest, CleanPerNameRunExitsZeroWithEveryFilePlaced)
{
    TerminalReport window(PlainJob(dir, true), err, ProgressStyle::Summary);
    EXPECT_EQ(RunJob(window), kExitClean);
    EXPECT_EQ(err.str(), "kelvane-batch: 4 files\nkelvane-batch: done, 4 of 4 files\n");
    EXPECT_EQ(ListDir(dir / "dst"), (std::vector<std::string> {"a.zip", "b.zip", "old.zip"}));
    EXPECT_EQ(ZipNames(dir / "dst/a.zip"), (std::vector<std::string> {"a.doc", "a.txt"}));
    EXPECT_EQ(Entries(dir / "dst/a.zip")["a.txt"], "alpha text");
    EXPECT_EQ(Entries(dir / "dst/b.zip")["b.bin"], std::string(100000, 'b'));
    EXPECT_EQ(ReadFile(dir / "dst/old.zip"), "not really a zip, copied as it is");
    EXPECT_FALSE(window.Running());
}

TEST_F(RunJobTest, ConflictsAreReportedOnStandardErrorWithStatusOne)
{
    {
        std::ostringstream first;
        TerminalReport window(PlainJob(dir, true), first, ProgressStyle::None);
        ASSERT_EQ(RunJob(window), kExitClean);
    }
    TerminalReport window(PlainJob(dir, true), err, ProgressStyle::Summary);
    EXPECT_EQ(RunJob(window), kExitReported);
    EXPECT_EQ(CountOf(err.str(), "kelvane-batch: File name conflicts!\n"), 1);
    const std::string conflictZip = NativePath(dir / "dst/conflict.zip");
    const std::string expected
        = "kelvane-batch: File name conflicts!\n"
          "Due to file name conflicts with existing target directory files, 4 files were "
          "copied to\n"
        + conflictZip + "\n\nAvoid this by copying to a clean target folder.\n";
    EXPECT_NE(err.str().find(expected), std::string::npos) << err.str();
    // Every file still moved the count on by one.
    EXPECT_NE(err.str().find("kelvane-batch: done, 4 of 4 files\n"), std::string::npos);
    EXPECT_EQ(ZipNames(conflictZip),
              (std::vector<std::string> {"old.zip", "a.doc", "a.txt", "b.bin"}));
}

TEST_F(RunJobTest, FolderThatCannotBeMadeIsReported)
{
    WriteFile(dir / "blocker", "a file where the target folder should be");
    JobSettings s = PlainJob(dir, false);
    s.targetFolder = dir / "blocker/deeper";
    TerminalReport window(s, err, ProgressStyle::None);
    EXPECT_EQ(RunJob(window), kExitReported);
    EXPECT_NE(
        err.str().find("kelvane-batch: Unable to create subfolder\n" + (dir / "blocker") + "\n"),
        std::string::npos)
        << err.str();
}

TEST_F(RunJobTest, StopMidRunFinishesTheFileInHandAndClosesTheArchive)
{
    JobSettings s = PlainJob(dir, false);
    s.fileMask = "*.*";
    // Single archive: a.doc, a.txt, b.bin go in, old.zip is copied; search order is byte
    // order, so the stop asked at the second step lands after a.txt was added.
    StopAtStepWindow window(s, err, 2);
    EXPECT_EQ(RunJob(window), kExitStopped);
    EXPECT_EQ(err.str(), "kelvane-batch: 4 files\nkelvane-batch: stopped, 2 of 4 files\n");
    const std::string archive = dir / "dst/src.zip";
    ASSERT_TRUE(FileExists(archive));
    EXPECT_EQ(ZipNames(archive), (std::vector<std::string> {"a.doc", "a.txt"}));
    EXPECT_EQ(Entries(archive)["a.txt"], "alpha text");
    EXPECT_FALSE(FileExists(dir / "dst/old.zip"));
    EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});
    EXPECT_FALSE(window.Running());
}

TEST_F(RunJobTest, StopBeforeTheRunLeavesAnEmptyCompleteArchive)
{
    TerminalReport window(PlainJob(dir, false), err, ProgressStyle::Summary);
    window.StopRequested() = true;
    EXPECT_EQ(RunJob(window), kExitStopped);
    // libarchive cannot read a zip without entries; Python's reader can.
    const PythonView empty = PythonRead(dir / "dst/src.zip");
    EXPECT_EQ(empty.error, "");
    EXPECT_TRUE(empty.entries.empty());
    EXPECT_EQ(err.str(), "kelvane-batch: 4 files\nkelvane-batch: stopped, 0 of 4 files\n");
    EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});
}

TEST_F(RunJobTest, StopWinsOverAReport)
{
    // A stop asked while a report is shown, as a Ctrl+C during a long run would be.
    class StopOnMessage : public TerminalReport
    {
    public:
        using TerminalReport::TerminalReport;
        void ShowMessage(const std::string &text, const std::string &caption) override
        {
            TerminalReport::ShowMessage(text, caption);
            StopRequested() = true;
        }
    };
    WriteFile(dir / "blocker", "");
    JobSettings s = PlainJob(dir, true);
    s.targetFolder = dir / "blocker";
    StopOnMessage window(s, err, ProgressStyle::None);
    EXPECT_EQ(RunJob(window), kExitStopped);
    EXPECT_NE(err.str().find("kelvane-batch: Unable to create subfolder\n"), std::string::npos);
}

TEST_F(RunJobTest, FilesNotArchivedAreListedInFullWithStatusOne)
{
    // A folder at the single archive's name: none of the ordinary files can be archived.
    MakeDirs(dir / "dst/src.zip");
    for (int i = 0; i < 9; ++i)
        WriteFile(dir / ("src/more" + std::to_string(i) + ".txt"), "more");
    TerminalReport window(PlainJob(dir, false), err, ProgressStyle::Summary);
    EXPECT_EQ(RunJob(window), kExitReported);
    std::string listed;
    for (const std::string &name : ListDir(dir / "src")) {
        if (name != "old.zip")
            listed += NativePath(dir / "src/") + name + "\n";
    }
    EXPECT_EQ(err.str(),
              "kelvane-batch: 13 files\n"
              "kelvane-batch: Some files were not archived\n12 files could not be archived:\n"
                  + listed + "kelvane-batch: done, 13 of 13 files\n");
    EXPECT_EQ(ReadFile(dir / "dst/old.zip"), "not really a zip, copied as it is");
    EXPECT_TRUE(IsDirectory(dir / "dst/src.zip"));
}

TEST_F(RunJobTest, NothingToDoIsCleanAndCreatesNothing)
{
    JobSettings s = PlainJob(dir, false);
    s.fileMask = "*.none";
    TerminalReport window(s, err, ProgressStyle::Summary);
    EXPECT_EQ(RunJob(window), kExitClean);
    EXPECT_FALSE(FileExists(dir / "dst"));
    EXPECT_EQ(err.str(), "kelvane-batch: 0 files\nkelvane-batch: done, 0 of 0 files\n");
}

TEST(BatchMainSettings, NamedSettingsFileThatCannotBeReadIsAUsageError)
{
    TempDir dir;
    std::ostringstream out, err;
    EXPECT_EQ(BatchMain({"--settings", dir / "missing.ini"}, out, err, false, false), kExitUsage);
    EXPECT_EQ(err.str(),
              "kelvane-batch: cannot read settings file '" + (dir / "missing.ini") + "'\n");
    // A folder is not a settings file either.
    err.str("");
    EXPECT_EQ(BatchMain({"--settings", dir.path()}, out, err, false, false), kExitUsage);
    EXPECT_EQ(out.str(), "");
}

TEST(BatchMainSettings, MissingSourceFolderIsReportedWithStatusOneAndCreatesNothing)
{
    // A card not inserted: reported even under --quiet, before anything is made.
    TempDir dir;
    JobSettings s = PlainJob(dir, false);
    s.sourceFolder = dir / "card";
    s.createSubFolder = 1;
    WriteFile(dir / "job.ini", IniText(s));
    std::ostringstream out, err;
    EXPECT_EQ(BatchMain({"-q", "--settings", dir / "job.ini"}, out, err, false, false),
              kExitReported);
    EXPECT_EQ(err.str(), "kelvane-batch: Source folder not found\n" + (dir / "card") + "\n");
    EXPECT_FALSE(FileExists(dir / "dst"));

    // A file of that name is no folder either.
    WriteFile(dir / "card", "x");
    EXPECT_EQ(BatchMain({"-q", "--settings", dir / "job.ini"}, out, err, false, false),
              kExitReported);
    EXPECT_EQ(out.str(), "");
}

TEST(BatchMainSettings, SettingsComeFromTheCurrentDirectoryOrTheNamedFile)
{
    TempDir dir;
    MakeDirs(dir / "src");
    WriteFile(dir / "src/x.txt", "x");
    JobSettings s = PlainJob(dir, true);
    WriteFile(dir / "kelvane.ini", IniText(s));
    s.targetFolder = dir / "other";
    WriteFile(dir / "named.ini", IniText(s));

    ScopedCurrentDir cd(dir.path());
    std::ostringstream out, err;
    EXPECT_EQ(BatchMain({}, out, err, false, false), kExitClean);
    EXPECT_TRUE(FileExists(dir / "dst/x.zip"));
    EXPECT_FALSE(FileExists(dir / "other"));

    EXPECT_EQ(BatchMain({"-q", "--settings", "named.ini"}, out, err, false, false), kExitClean);
    EXPECT_TRUE(FileExists(dir / "other/x.zip"));
    EXPECT_EQ(err.str(), "kelvane-batch: 1 file\nkelvane-batch: done, 1 of 1 file\n");
    EXPECT_EQ(ExpectFolderReadsAlike(dir.path()), 2u);
}

} // namespace
} // namespace kelvane::batch
