// Files that could not be archived are reported, never passed over in silence.

#include "tests/support/RunFixture.h"

#include <cstdio>

namespace kelvane::test {
namespace {

class RunFailuresTest : public RunFixture
{
protected:
    std::string NotArchivedText(const std::vector<std::string> &names, std::size_t total = 0)
    {
        std::string text
            = std::to_string(total ? total : names.size()) + " files could not be archived:\n";
        for (const std::string &name : names)
            text += NativePath(src + "/") + name + "\n";
        if (total > names.size())
            text += "...\n";
        return text;
    }

    // The run's one message is the report of these files.
    void ExpectOnlyNotArchived(const std::vector<std::string> &names, std::size_t total = 0)
    {
        EXPECT_EQ(window.MessageCaptions(),
                  std::vector<std::string> {"Some files were not archived"});
        EXPECT_EQ(window.Messages().at(0).second, NotArchivedText(names, total));
    }
};

TEST_F(RunFailuresTest, FileVanishedBeforeItsAdd)
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        Source(name);
    // The bar steps just before each add: take b.txt away at that moment.
    AtStep(2, [&] { std::remove((src + "/b.txt").c_str()); });
    Run();
    EXPECT_EQ(window.ProgressOperations(), Progress(Steps(3, {"SetRange 0 3", "SetStep 1"})));
    ExpectOnlyNotArchived({"b.txt"});
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"a.txt", "c.txt"}));
    // The report comes before the reset.
    EXPECT_EQ(window.Operations()[window.Operations().size() - 6],
              "Message Some files were not archived|" + NotArchivedText({"b.txt"}));
}

TEST_F(RunFailuresTest, SingleArchiveThatCannotBeCompletedListsTenAndMore)
{
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        names.push_back("f" + std::to_string(10 + i) + ".txt");
        Source(names.back());
    }
    Source("keep.zip");
    // A folder at the archive's name: the finished archive cannot be put there.
    MakeDirs(out + "/Clips.zip");
    Run();
    ExpectOnlyNotArchived(std::vector<std::string>(names.begin(), names.begin() + 10), 12);
    EXPECT_TRUE(IsDirectory(out + "/Clips.zip"));
    EXPECT_EQ(ReadFile(out + "/keep.zip"), Content("keep.zip")); // copies are not affected
}

TEST_F(RunFailuresTest, ConflictArchiveThatCannotBeCompletedIsNotClaimed)
{
    MakeDirs(out + "/conflict.zip");
    WriteFile(out + "/x.zip", "earlier");
    Sources({"a.txt", "x.zip"});
    Run();
    // No "were copied to" for files that are not there: only the report of the loss.
    ExpectOnlyNotArchived({"x.zip"});
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"a.txt"}));
}

TEST_F(RunFailuresTest, ConflictMessageCountsOnlyWhatGotIn)
{
    InTarget("x.zip", "earlier");
    InTarget("y.zip", "earlier");
    Sources({"x.zip", "y.zip"});
    // Steps 1 and 2 are the copies; step 3 comes before x.zip's add to the conflict archive.
    AtStep(3, [&] { std::remove((src + "/x.zip").c_str()); });
    Run();
    EXPECT_EQ(window.MessageCaptions(),
              (std::vector<std::string> {"File name conflicts!", "Some files were not archived"}));
    EXPECT_EQ(window.Messages()[0].second,
              ConflictMessageText(1, NativePath(out + "/conflict.zip")));
    EXPECT_EQ(window.Messages()[1].second, NotArchivedText({"x.zip"}));
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"y.zip"}));
}

TEST_F(RunFailuresTest, TargetThatCannotBeMadeReportsEveryFile)
{
    // A file where the target folder should be: every open, add and copy fails.
    WriteFile(out, "a file");
    Sources({"a.txt", "b.zip", "c.txt"});
    Run();
    EXPECT_EQ(window.ProgressOperations(),
              Progress({"SetRange 0 3", "SetStep 1", "StepIt", "StepIt", "GetPos -> 2", "SetPos 1",
                        "StepIt", "StepIt"}));
    ASSERT_EQ(window.Messages().size(), 2u);
    EXPECT_EQ(window.Messages()[0],
              std::make_pair(std::string("Unable to create subfolder"), NativePath(out + "/*.*")));
    // The zip file failed its copy and then its place in the conflict archive.
    EXPECT_EQ(window.Messages()[1],
              std::make_pair(std::string("Some files were not archived"),
                             NotArchivedText({"a.txt", "c.txt", "b.zip"})));
    EXPECT_EQ(ReadFile(out), "a file");
}

TEST_F(RunFailuresTest, PerNameArchiveNeverReplacesAFileThatAppeared)
{
    window.settings.keepIndividual = 1;
    Sources({"a.txt", "b.txt"});
    // While a.zip is being written, somebody else puts a file at its name.
    AtStep(1, [&] { WriteFile(out + "/a.zip", "appeared"); });
    Run();
    EXPECT_EQ(ReadFile(out + "/a.zip"), "appeared");
    EXPECT_EQ(Entries(out + "/b.zip"), Expected({"b.txt"}));
    // The name was taken: a.txt is a conflict, as if the file had been there before.
    EXPECT_EQ(window.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});
    EXPECT_EQ(window.Messages()[0].second,
              ConflictMessageText(1, NativePath(out + "/conflict.zip")));
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"a.txt"}));
}

TEST_F(RunFailuresTest, ReportedAlsoWhenStopped)
{
    MakeDirs(out + "/Clips.zip");
    Sources({"a.txt", "b.txt"});
    window.StopAfter("StepIt", 1);
    Run();
    ExpectOnlyNotArchived({"a.txt"});
}

// The run never replaces what it has itself written earlier in the same run.
TEST_F(RunFailuresTest, ZipNamedLikeTheSingleArchiveIsAConflict)
{
    // "d.txt" follows "Clips.zip" in byte order and in Windows' search order alike.
    Sources({"Clips.zip", "d.txt"});
    Run();
    EXPECT_EQ(window.ProgressOperations(),
              Progress({"SetRange 0 2", "SetStep 1", "StepIt", "GetPos -> 1", "SetPos 0", "StepIt",
                        "StepIt"}));
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"d.txt"}));
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"Clips.zip"}));
    EXPECT_EQ(window.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});
}

TEST_F(RunFailuresTest, PerNameArchiveNamedConflictIsKept)
{
    window.settings.keepIndividual = 1;
    InTarget("x.zip", "earlier");
    Sources({"conflict.txt", "x.zip"});
    Run();
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"conflict.txt"}));
    ExpectOnlyNotArchived({"x.zip"});
}

TEST_F(RunFailuresTest, SingleArchiveOfAFolderNamedConflictIsKept)
{
    src = tmp / "conflict";
    MakeDirs(src);
    window.settings.sourceFolder = src;
    InTarget("x.zip", "earlier");
    Sources({"a.txt", "x.zip"});
    Run();
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"a.txt"}));
    ExpectOnlyNotArchived({"x.zip"});
}

} // namespace
} // namespace kelvane::test
