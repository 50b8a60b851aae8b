// Another run writing to the same target at the same time: a run that finds a name taken
// while it writes keeps the other run's file and treats its own files as conflicts, and
// its conflict archive never replaces one that the other run made.

#include "engine/FinishedOutput.h"
#include "folders/FileSystem.h"
#include "tests/support/RunFixture.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kelvane::test {
namespace {

using Ops = std::vector<std::string>;

class ConcurrentRunsTest : public RunFixture
{
protected:
    // Another run's file put at a name the way the program puts its own: complete, under
    // a temporary name, then renamed.
    void PutInPlace(const std::string &path, const std::string &content)
    {
        WriteFile(out + "/other-run.part", content);
#ifdef _WIN32
        // Windows' rename does not replace an existing file; the program replaces this way.
        ASSERT_TRUE(MoveFileExA((out + "/other-run.part").c_str(), path.c_str(),
                                MOVEFILE_REPLACE_EXISTING));
#else
        ASSERT_EQ(std::rename((out + "/other-run.part").c_str(), path.c_str()), 0);
#endif
    }

    std::vector<std::string> Temporaries() const
    {
        return TempLeftovers(out);
    }

    // Settings: per-name mode; sources a.doc, a.txt, b.txt and n.zip, whose copy meets
    // an earlier n.zip and so is the first conflict.
    void PerNameSources()
    {
        window.settings.keepIndividual = 1;
        MakeDirs(out);
        WriteFile(out + "/n.zip", "earlier n");
        for (const char *name : {"a.doc", "a.txt", "b.txt", "n.zip"})
            Source(name);
    }
};

TEST_F(ConcurrentRunsTest, PerNameArchiveThatLostItsNameBecomesConflicts)
{
    PerNameSources();
    // Step 1 is the copy of n.zip, step 2 the add of a.doc: another run's a.zip appears.
    AtStep(2, [&] { PutInPlace(out + "/a.zip", "other run's a"); });
    Run();

    // a.doc and a.txt were stepped at their adds; they go back so that the conflict pass
    // steps each once more, and every file ends one step on. a.zip is closed while b.txt
    // is added, so its loss is known after b.txt's step.
    EXPECT_EQ(
        window.ProgressOperations(),
        Progress({"SetRange 0 4", "SetStep 1", "StepIt", "GetPos -> 1", "SetPos 0", "StepIt",
                  "StepIt", "StepIt", "GetPos -> 3", "SetPos 1", "StepIt", "StepIt", "StepIt"}));
    EXPECT_EQ(positionAtEnd, 4);
    EXPECT_EQ(ReadFile(out + "/a.zip"), "other run's a");
    EXPECT_EQ(Entries(out + "/b.zip"), Expected({"b.txt"}));
    // After the conflicts found before, in their order.
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"n.zip", "a.doc", "a.txt"}));
    ASSERT_EQ(window.MessageCaptions(), Ops {"File name conflicts!"});
    EXPECT_EQ(window.Messages()[0].second,
              ConflictMessageText(3, NativePath(out + "/conflict.zip")));
    EXPECT_EQ(Temporaries(), Ops {});
}

TEST_F(ConcurrentRunsTest, LostNameWithConflictsSkippedStepsOnce)
{
    PerNameSources();
    window.settings.skipConflicts = 1;
    AtStep(2, [&] { PutInPlace(out + "/a.zip", "other run's a"); });
    Run();
    EXPECT_EQ(window.ProgressOperations(), Progress(Steps(4, {"SetRange 0 4", "SetStep 1"})));
    EXPECT_EQ(positionAtEnd, 4);
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(ListDir(out), (Ops {"a.zip", "b.zip", "n.zip"}));
    EXPECT_EQ(ReadFile(out + "/a.zip"), "other run's a");
}

TEST_F(ConcurrentRunsTest, LostNameWhenStoppedIsReported)
{
    PerNameSources();
    // The stop comes right after a.doc's add: no conflict pass follows, so the files of
    // the archive that could not be put in place are reported instead.
    AtStep(2, [&] { PutInPlace(out + "/a.zip", "other run's a"); });
    window.StopAfter("StepIt", 2);
    Run();
    ASSERT_EQ(window.MessageCaptions(), Ops {"Some files were not archived"});
    EXPECT_EQ(window.Messages()[0].second,
              "1 files could not be archived:\n" + NativePath(src + "/a.doc\n"));
    EXPECT_EQ(ReadFile(out + "/a.zip"), "other run's a");
    EXPECT_EQ(Temporaries(), Ops {});
}

TEST_F(ConcurrentRunsTest, ConflictArchiveOfAnotherRunIsKept)
{
    InTarget("x.zip", "earlier");
    Sources({"a.txt", "x.zip"});
    // Steps: x.zip's copy, a.txt's add, x.zip's add to the conflict archive; meanwhile the
    // other run's conflict archive appears.
    AtStep(3, [&] { PutInPlace(out + "/conflict.zip", "other run's conflicts"); });
    Run();
    EXPECT_EQ(ReadFile(out + "/conflict.zip"), "other run's conflicts");
    EXPECT_EQ(Entries(out + "/conflict_2.zip"), Expected({"x.zip"}));
    ASSERT_EQ(window.MessageCaptions(), Ops {"File name conflicts!"});
    EXPECT_EQ(window.Messages()[0].second,
              ConflictMessageText(1, NativePath(out + "/conflict_2.zip")));
    EXPECT_EQ(Temporaries(), Ops {});
}

TEST_F(ConcurrentRunsTest, OlderConflictArchiveIsReplacedButNotItsReplacement)
{
    InTarget("x.zip", "earlier");
    InTarget("conflict.zip", "older conflicts");
    InTarget("conflict_2.zip", "taken too");
    Source("x.zip");

    // Alone, the run replaces the conflict archive of an earlier run.
    Run();
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"x.zip"}));
    EXPECT_EQ(ReadFile(out + "/conflict_2.zip"), "taken too");

    // The next run found that archive at the start; another run replaces it during the
    // run, and this run keeps that one and takes the first free alternative name.
    FakeWindow second;
    second.settings = window.settings;
    second.OnOperation([&, steps = 0](const std::string &op) mutable {
        if (op == "StepIt" && ++steps == 2)
            PutInPlace(out + "/conflict.zip", "other run's conflicts");
    });
    ArchiveRun(second);
    EXPECT_EQ(ReadFile(out + "/conflict.zip"), "other run's conflicts");
    EXPECT_EQ(ReadFile(out + "/conflict_2.zip"), "taken too");
    EXPECT_EQ(Entries(out + "/conflict_3.zip"), Expected({"x.zip"}));
    EXPECT_EQ(second.Messages().at(0).second,
              ConflictMessageText(1, NativePath(out + "/conflict_3.zip")));
    EXPECT_EQ(Temporaries(), Ops {});
}

TEST_F(ConcurrentRunsTest, AlternativeNamesKeepTheStampAndTheExtension)
{
    window.settings.useTimestamps = 1;
    InTarget("x.zip", "earlier");
    Source("x.zip");
    std::string conflict;
    AtStep(2, [&] {
        conflict = NativePath(out + "/conflict") + window.Stamp() + ".zip";
        PutInPlace(conflict, "other run's conflicts");
    });
    Run();
    ASSERT_FALSE(conflict.empty());
    const std::string alternative = NativePath(out + "/conflict") + window.Stamp() + "_2.zip";
    EXPECT_EQ(Entries(alternative), Expected({"x.zip"}));
    EXPECT_EQ(window.Messages().at(0).second, ConflictMessageText(1, alternative));

    EXPECT_EQ(AlternativeName("/t/a.b/conflict.zip", 12), "/t/a.b/conflict_12.zip");
    EXPECT_EQ(AlternativeName("/t/a.b/conflict", 2), "/t/a.b/conflict_2");
}

TEST_F(ConcurrentRunsTest, ConflictArchiveThatCannotBePlacedLeavesNoTemporary)
{
    // A folder found at the name at the start is the "older file", but it cannot be
    // replaced: the files are reported, and the finished archive is not left behind.
    MakeDirs(out + "/conflict.zip");
    WriteFile(out + "/x.zip", "earlier");
    Source("x.zip");
    Run();
    EXPECT_EQ(window.MessageCaptions(), Ops {"Some files were not archived"});
    EXPECT_TRUE(IsDirectory(out + "/conflict.zip"));
    EXPECT_EQ(ListDir(out), (Ops {"Clips.zip", "conflict.zip", "x.zip"}));
}

} // namespace
} // namespace kelvane::test
