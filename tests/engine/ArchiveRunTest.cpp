#include "tests/support/RunFixture.h"

#include "io/Io.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <regex>
#include <tuple>

#include <fcntl.h>
#ifndef _WIN32
#include <sys/file.h>
#else
#include <windows.h>
#endif

namespace kelvane::test {
namespace {

class ArchiveRunTest : public RunFixture
{ };

TEST_F(ArchiveRunTest, SingleArchiveTakesTopLevelFilesInSearchOrder)
{
    Sources({"b.txt", "a.txt"});
    Source("c.Zip"); // not exactly .zip: archived
    MakeDirs(src + "/sub");
    WriteFile(src + "/sub/inner.txt", "not taken");
    Source("x.zip");
    AtStep(0); // notes only the bar's position at the end

    Run();

    EXPECT_EQ(window.Operations(), RunOps(Steps(4, {"SetRange 0 4", "SetStep 1"})));
    EXPECT_TRUE(window.RunningAtSettings());
    EXPECT_FALSE(window.Running());
    EXPECT_EQ(positionAtEnd, 4);

    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"a.txt", "b.txt", "c.Zip"}));
    EXPECT_EQ(ReadFile(out + "/x.zip"), Content("x.zip"));
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"Clips.zip", "x.zip"}));
}

TEST_F(ArchiveRunTest, UsesTheSettingsAsTheyStoodAtTheStart)
{
    Source("a.txt");
    // A change of the window's settings during the run must not reach it.
    window.OnOperation([&](const std::string &op) {
        if (op == "Settings")
            window.settings.targetFolder = tmp / "elsewhere";
    });
    Run();
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"a.txt"}));
    EXPECT_FALSE(FileExists(tmp / "elsewhere"));
}

#ifndef _WIN32 // "Clip.zip" and "clip.zip" are one name on Windows' file systems
TEST_F(ArchiveRunTest, PerNameArchivesInPathOrderWithFilesInSearchOrder)
{
    window.settings.keepIndividual = 1;
    window.settings.createSubFolder = 1;
    for (const char *name : {"a.txt", "a.doc", "b", "Clip.avi", "clip.txt", "old.zip"})
        Source(name);
    const std::string sub = NativePath(out + "/Clips");
    // What the output folder holds at each step: shows the order the archives are made in.
    // Temporaries of the archive being written are left out.
    std::vector<std::vector<std::string>> atStep;
    window.OnOperation([&](const std::string &op) {
        if (op != "StepIt")
            return;
        std::vector<std::string> names = ListDir(sub);
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const std::string &n) { return n[0] == '.'; }),
                    names.end());
        atStep.push_back(names);
    });

    Run();

    EXPECT_EQ(window.ProgressOperations(), Progress(Steps(6, {"SetRange 0 6", "SetStep 1"})));
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(ListDir(sub),
              (std::vector<std::string> {"Clip.zip", "a.zip", "b.zip", "clip.zip", "old.zip"}));
    EXPECT_EQ(Entries(sub + "/Clip.zip"), Expected({"Clip.avi"}));
    EXPECT_EQ(Entries(sub + "/a.zip"), Expected({"a.doc", "a.txt"}));
    EXPECT_EQ(Entries(sub + "/b.zip"), Expected({"b"}));
    EXPECT_EQ(Entries(sub + "/clip.zip"), Expected({"clip.txt"}));
    EXPECT_EQ(ReadFile(sub + "/old.zip"), Content("old.zip"));

    // The zip file is copied first; then the archives are filled in path order (upper
    // case before lower case). Each appears only once all its files are in (archives are
    // closed in the background, so when exactly is not known), and nothing goes away.
    using V = std::vector<std::string>;
    const auto has = [](const V &names, const char *name) {
        return std::count(names.begin(), names.end(), name) == 1;
    };
    ASSERT_EQ(atStep.size(), 6u);
    EXPECT_EQ(atStep[0], V {}); // before the copy
    EXPECT_EQ(atStep[1], V {"old.zip"}); // Clip.avi
    EXPECT_FALSE(has(atStep[2], "a.zip")); // a.doc
    EXPECT_FALSE(has(atStep[3], "a.zip")); // a.txt
    EXPECT_FALSE(has(atStep[4], "b.zip")); // b
    EXPECT_FALSE(has(atStep[5], "clip.zip")); // clip.txt
    atStep.push_back(ListDir(sub));
    for (std::size_t step = 1; step < atStep.size(); ++step) {
        for (const std::string &name : atStep[step - 1])
            EXPECT_TRUE(has(atStep[step], name.c_str())) << name << " gone at " << step;
    }
}

#endif

TEST_F(ArchiveRunTest, StoredPathsWhenAsked)
{
    window.settings.keepIndividual = 1;
    window.settings.storePathInZip = 1;
    Source("a.txt");
    Run();
    const auto entries = Entries(out + "/a.zip");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, StoredSource() + "/a.txt");
    EXPECT_EQ(entries[0].second, Content("a.txt"));
}

TEST_F(ArchiveRunTest, SettingsWrittenWithBackslashes)
{
    std::string source = src;
    std::replace(source.begin(), source.end(), '/', '\\');
    window.settings.sourceFolder = source;
    window.settings.targetFolder = out + "\\deep\\\\er/";
    window.settings.createSubFolder = 1;
    Source("a.txt");
    Run();
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(Entries(out + "/deep/er/Clips/Clips.zip"), Expected({"a.txt"}));
}

#ifdef _WIN32
// Drive roots people type on Windows: a memory card's as the source, an empty stick's as
// the target (letters mapped to folders, as Wine maps its drives).
TEST_F(ArchiveRunTest, DriveRootsAsSourceAndTarget)
{
    const char *prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || (GetLogicalDrives() & (3u << ('M' - 'A'))) != 0)
        GTEST_SKIP() << "needs Wine's drive mappings and free letters M: and N:";
    const std::string stick = tmp / "stick";
    MakeDirs(stick);
    const std::string m = ShellQuote(std::string(prefix) + "/dosdevices/m:");
    const std::string n = ShellQuote(std::string(prefix) + "/dosdevices/n:");
    int status = -1;
    const std::string output = RunCommand(
        "ln -s " + ShellQuote(src) + " " + m + " && ln -s " + ShellQuote(stick) + " " + n, &status);
    const std::shared_ptr<void> unmap(nullptr,
                                      [&](void *) { RunCommand("rm -f " + m + " " + n, &status); });
    ASSERT_EQ(status, 0) << output;

    window.settings.sourceFolder = "M:\\";
    window.settings.targetFolder = "N:\\";
    window.settings.createSubFolder = 1;
    Sources({"take1.avi", "take1.txt"});
    Run();
    // An empty root is where the levels start, not a level missing.
    EXPECT_EQ(window.MessageCaptions(), std::vector<std::string> {});
    EXPECT_EQ(ListDir(stick), std::vector<std::string> {"M"});
    EXPECT_EQ(Entries(stick + "\\M\\M.zip"), Expected({"take1.avi", "take1.txt"}));
}
#endif

TEST_F(ArchiveRunTest, ZipCopyConflictGoesToTheConflictArchive)
{
    InTarget("x.zip", "older");
    for (const char *name : {"a.txt", "x.zip", "y.ZIP", "z.zIP"})
        Source(name);
    AtStep(0); // notes only the bar's position at the end

    Run();

    const std::string conflictText = ConflictMessageText(1, NativePath(out + "/conflict.zip"));
    EXPECT_EQ(window.ProgressOperations(),
              Progress({"SetRange 0 4", "SetStep 1", "StepIt", "StepIt", "GetPos -> 2", "SetPos 1",
                        "StepIt", "StepIt", "StepIt"}));
    EXPECT_EQ(window.Operations()[window.Operations().size() - 6],
              "Message File name conflicts!|" + conflictText);
    EXPECT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(positionAtEnd, 4);

    EXPECT_EQ(ReadFile(out + "/x.zip"), "older");
    EXPECT_EQ(ReadFile(out + "/y.ZIP"), Content("y.ZIP"));
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"a.txt", "z.zIP"}));
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"x.zip"}));
}

TEST_F(ArchiveRunTest, ZipCopyConflictSkipped)
{
    window.settings.skipConflicts = 1;
    InTarget("x.zip", "older");
    Sources({"a.txt", "x.zip"});
    Run();
    EXPECT_EQ(window.ProgressOperations(),
              Progress({"SetRange 0 2", "SetStep 1", "StepIt", "StepIt"}));
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(ReadFile(out + "/x.zip"), "older");
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"Clips.zip", "x.zip"}));
}

TEST_F(ArchiveRunTest, ZipTargetAppearingDuringTheRunIsNeverReplaced)
{
    Source("x.zip");
    // The bar steps just before the copy: make the target appear right then.
    AtStep(1, [&] { WriteFile(out + "/x.zip", "appeared"); });
    Run();
    EXPECT_EQ(ReadFile(out + "/x.zip"), "appeared");
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"x.zip"}));
    EXPECT_EQ(window.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});
}

TEST_F(ArchiveRunTest, EarlierPerNameArchiveMakesConflictsInListOrder)
{
    window.settings.keepIndividual = 1;
    InTarget("a.zip", "earlier a");
    InTarget("n.zip", "earlier n");
    for (const char *name : {"a.doc", "a.txt", "b.txt", "n.zip"})
        Source(name);

    Run();

    // n.zip fails its copy in the enumeration; a.doc and a.txt meet a.zip in the per-name
    // pass; the conflict archive takes them in that order.
    EXPECT_EQ(window.ProgressOperations(),
              Progress({"SetRange 0 4", "SetStep 1", "StepIt", "GetPos -> 1", "SetPos 0", "StepIt",
                        "StepIt", "StepIt", "StepIt"}));
    EXPECT_EQ(ReadFile(out + "/a.zip"), "earlier a");
    EXPECT_EQ(ReadFile(out + "/n.zip"), "earlier n");
    EXPECT_EQ(Entries(out + "/b.zip"), Expected({"b.txt"}));
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"n.zip", "a.doc", "a.txt"}));
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].first, "File name conflicts!");
    EXPECT_EQ(window.Messages()[0].second,
              ConflictMessageText(3, NativePath(out + "/conflict.zip")));
}

TEST_F(ArchiveRunTest, EarlierPerNameArchiveSkipped)
{
    window.settings.keepIndividual = 1;
    window.settings.skipConflicts = 1;
    InTarget("a.zip", "earlier a");
    for (const char *name : {"a.doc", "a.txt", "b.txt"})
        Source(name);
    Run();
    EXPECT_EQ(window.ProgressOperations(), Progress(Steps(3, {"SetRange 0 3", "SetStep 1"})));
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"a.zip", "b.zip"}));
    EXPECT_EQ(ReadFile(out + "/a.zip"), "earlier a");
}

TEST_F(ArchiveRunTest, TimeStampsNameTheSingleAndConflictArchivesOnly)
{
    window.settings.useTimestamps = 1;
    Source("a.txt");
    Run();
    EXPECT_TRUE(std::regex_match(window.Stamp(), std::regex("_[0-9]{8}_[0-9]{6}")));
    EXPECT_EQ(Entries(out + "/Clips" + window.Stamp() + ".zip"), Expected({"a.txt"}));

    // Per-name mode: archives without a stamp, the conflict archive with one.
    FakeWindow second;
    second.settings = window.settings;
    second.settings.keepIndividual = 1;
    WriteFile(out + "/b.zip", "earlier");
    Source("b.txt");
    ArchiveRun(second);
    EXPECT_EQ(Entries(out + "/a.zip"), Expected({"a.txt"}));
    const std::string conflict = NativePath(out + "/conflict") + second.Stamp() + ".zip";
    EXPECT_EQ(Entries(conflict), Expected({"b.txt"}));
    EXPECT_EQ(second.Messages().at(0).second, ConflictMessageText(1, conflict));
}

TEST_F(ArchiveRunTest, WithoutStampsTheSingleArchiveIsReplaced)
{
    Source("a.txt");
    Run();
    std::remove((src + "/a.txt").c_str());
    Source("b.txt");
    FakeWindow second;
    second.settings = window.settings;
    ArchiveRun(second);
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"b.txt"}));
    EXPECT_TRUE(second.Messages().empty());
}

TEST_F(ArchiveRunTest, StoppedOrEmptyArchivesNeverReplaceAnEarlierFile)
{
    for (const char *name : {"a.txt", "b.txt", "x.zip", "y.zip"})
        Source(name);
    // Each run meets an earlier single and conflict archive, and zip files whose copies
    // are conflicts.
    const auto runWith = [&](const std::function<void(FakeWindow &)> &prepare) {
        MakeDirs(out);
        for (const char *name : {"Clips.zip", "conflict.zip", "x.zip", "y.zip"})
            WriteFile(out + "/" + name, std::string("earlier ") + name);
        FakeWindow w;
        w.settings = window.settings;
        prepare(w);
        RunReport report;
        ArchiveRun(w, report);
        EXPECT_EQ(ReadFile(out + "/conflict.zip"), "earlier conflict.zip");
        EXPECT_EQ(ListDir(out),
                  (std::vector<std::string> {"Clips.zip", "conflict.zip", "x.zip",
                                             "y.zip"})); // no temporaries
        return std::make_pair(report, w.Messages());
    };
    using Messages = std::vector<std::pair<std::string, std::string>>;
    const auto notArchived = [&](const std::string &name) {
        return Messages {
            {kNotArchivedCaption, NotArchivedMessageText({NativePath(src + "/") + name})}};
    };

    // A stop before the first file: the new single archive would hold nothing.
    auto [report, messages] = runWith([](FakeWindow &w) { w.StopAfter("SetStep", 1); });
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(ReadFile(out + "/Clips.zip"), "earlier Clips.zip");
    EXPECT_EQ(messages, Messages {});

    // A stop after the first file: what the new archive held is reported.
    std::tie(report, messages) = runWith([](FakeWindow &w) { w.StopAfter("StepIt", 1); });
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(ReadFile(out + "/Clips.zip"), "earlier Clips.zip");
    EXPECT_EQ(messages, notArchived("a.txt"));

    // A complete run to whose single archive no file could be added.
    std::tie(report, messages) = runWith([&](FakeWindow &w) {
        w.settings.fileMask = "*.txt";
        // Both files go away after the snapshot, before their adds.
        w.OnOperation([&](const std::string &op) {
            if (op == "StepIt" && FileExists(src + "/a.txt")) {
                std::rename((src + "/a.txt").c_str(), (tmp / "a.txt").c_str());
                std::rename((src + "/b.txt").c_str(), (tmp / "b.txt").c_str());
            }
        });
    });
    std::rename((tmp / "a.txt").c_str(), (src + "/a.txt").c_str());
    std::rename((tmp / "b.txt").c_str(), (src + "/b.txt").c_str());
    EXPECT_FALSE(report.stopped);
    EXPECT_EQ(ReadFile(out + "/Clips.zip"), "earlier Clips.zip");
    EXPECT_EQ(report.notArchived,
              (std::vector<std::string> {NativePath(src + "/a.txt"), NativePath(src + "/b.txt")}));

    // A stop in the conflict pass, after x.zip went in (steps: a.txt, b.txt, the two
    // copies, x.zip's add). The single archive was complete before it, and replaces.
    std::tie(report, messages) = runWith([](FakeWindow &w) { w.StopAfter("StepIt", 5); });
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"a.txt", "b.txt"}));
    EXPECT_EQ(messages, notArchived("x.zip"));
}

TEST_F(ArchiveRunTest, StopDuringTheEnumeration)
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        Source(name);
    window.StopAfter("StepIt", 1);
    Run();
    EXPECT_EQ(window.Operations(), RunOps({"SetRange 0 3", "SetStep 1", "StepIt"}));
    EXPECT_EQ(Entries(out + "/Clips.zip"), Expected({"a.txt"}));
    EXPECT_TRUE(window.StopRequested()); // the run never clears it
}

TEST_F(ArchiveRunTest, StopBeforeTheFirstFileLeavesAnEmptyArchive)
{
    Source("a.txt");
    window.StopAfter("SetStep", 1);
    Run();
    EXPECT_EQ(window.ProgressOperations(), Progress({"SetRange 0 1", "SetStep 1"}));
    // An archive without entries is just its end record.
    const std::string archive = ReadFile(out + "/Clips.zip");
    EXPECT_EQ(archive.substr(0, 4), std::string("PK\5\6"));
    EXPECT_EQ(ListDir(out), std::vector<std::string> {"Clips.zip"});
}

TEST_F(ArchiveRunTest, StopDuringTheEnumerationInPerNameMode)
{
    window.settings.keepIndividual = 1;
    for (const char *name : {"a.zip", "b.zip", "c.txt"})
        Source(name);
    window.StopAfter("StepIt", 1);
    Run();
    EXPECT_EQ(window.ProgressOperations(), Progress({"SetRange 0 3", "SetStep 1", "StepIt"}));
    EXPECT_EQ(ListDir(out), std::vector<std::string> {"a.zip"});
}

TEST_F(ArchiveRunTest, StopDuringThePerNamePass)
{
    window.settings.keepIndividual = 1;
    InTarget("n.zip", "earlier");
    for (const char *name : {"a.txt", "b.doc", "b.txt", "c.txt", "n.zip"})
        Source(name);
    // Step 1 copies n.zip (a conflict), 2 adds a.txt, 3 adds b.doc: the stop comes before
    // b.txt, and b.zip is closed with what it holds.
    window.StopAfter("StepIt", 3);
    Run();
    EXPECT_EQ(window.ProgressOperations(),
              Progress({"SetRange 0 5", "SetStep 1", "StepIt", "GetPos -> 1", "SetPos 0", "StepIt",
                        "StepIt"}));
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"a.zip", "b.zip", "n.zip"}));
    EXPECT_EQ(Entries(out + "/b.zip"), Expected({"b.doc"}));
}

TEST_F(ArchiveRunTest, StopDuringTheConflictPass)
{
    InTarget("x.zip", "earlier");
    InTarget("y.zip", "earlier");
    Sources({"x.zip", "y.zip"});
    // Steps: copy x, copy y, conflict x; then the stop.
    window.StopAfter("StepIt", 3);
    Run();
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(Entries(out + "/conflict.zip"), Expected({"x.zip"}));
}

TEST_F(ArchiveRunTest, ExceptionEndsTheRunWithAMessageAndTheReset)
{
    InTarget("Clips.zip", "earlier");
    Sources({"a.txt", "b.txt"});
    AtStep(1, [] { throw std::bad_alloc(); });
    RunReport report;
    ArchiveRun(window, report);

    const std::string text = "The run ended early: " + std::string(std::bad_alloc().what());
    EXPECT_EQ(
        window.Operations(),
        RunOps({"SetRange 0 2", "SetStep 1", "StepIt", "Message Archive run failed|" + text}));
    EXPECT_FALSE(window.Running());
    EXPECT_EQ(report.failure, text);
    // The archive broken off is not put in place, nor left behind.
    EXPECT_EQ(ListDir(out), std::vector<std::string> {"Clips.zip"});
    EXPECT_EQ(ReadFile(out + "/Clips.zip"), "earlier");
}

TEST_F(ArchiveRunTest, ReportSaysWhatTheRunDid)
{
    window.settings.keepIndividual = 1;
    InTarget("a.zip", "earlier a");
    InTarget("n.zip", "earlier n");
    for (const char *name : {"a.doc", "a.txt", "b.txt", "m.zip", "n.zip"})
        Source(name);
    RunReport report;
    ArchiveRun(window, report);
    EXPECT_EQ(report.filesCounted, 5);
    EXPECT_EQ(report.filesDone, 5);
    EXPECT_FALSE(report.stopped);
    using V = std::vector<std::string>;
    EXPECT_EQ(report.copiesPlaced, V {NativePath(out + "/m.zip")});
    EXPECT_EQ(report.archivesPlaced,
              (V {NativePath(out + "/b.zip"), NativePath(out + "/conflict.zip")}));
    EXPECT_EQ(
        report.conflicts,
        (V {NativePath(src + "/n.zip"), NativePath(src + "/a.doc"), NativePath(src + "/a.txt")}));
    EXPECT_EQ(report.conflictArchive, NativePath(out + "/conflict.zip"));
    EXPECT_EQ(report.conflictsArchived, 3u);
    EXPECT_EQ(report.notArchived, V {});
    EXPECT_TRUE(report.HasReports());

    // Stopped after the first file (m.zip's copy, which now conflicts as well).
    FakeWindow second;
    second.settings = window.settings;
    second.StopAfter("StepIt", 1);
    RunReport stopped;
    ArchiveRun(second, stopped);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.filesCounted, 5);
    EXPECT_EQ(stopped.filesDone, 0); // stepped back for the conflict pass that never came
    EXPECT_EQ(stopped.conflicts, V {NativePath(src + "/m.zip")});
    EXPECT_EQ(stopped.archivesPlaced, V {});
    EXPECT_FALSE(stopped.HasReports());
}

TEST_F(ArchiveRunTest, NothingToDo)
{
    MakeDirs(src + "/d1");
    MakeDirs(src + "/d2");
    window.settings.fileMask = "d*";
    window.settings.createSubFolder = 1;
    Run();
    EXPECT_EQ(window.Operations(), RunOps({"SetRange 0 0", "SetStep 1"}));
    EXPECT_FALSE(FileExists(out));

    FakeWindow missing;
    missing.settings = window.settings;
    missing.settings.sourceFolder = tmp / "no such folder";
    missing.settings.fileMask = "*.*";
    ArchiveRun(missing);
    EXPECT_EQ(missing.ProgressOperations(), Progress({"SetRange 0 0", "SetStep 1"}));
    EXPECT_FALSE(FileExists(out));
}

TEST_F(ArchiveRunTest, SubFolderThatCannotBeMadeEndsTheRun)
{
    window.settings.createSubFolder = 1;
    InTarget("Clips", "a file where the sub folder should go");
    Sources({"a.txt", "b.zip"});
    Run();
    const std::string message = "Unable to create subfolder|" + NativePath(out + "/Clips");
    EXPECT_EQ(window.Operations(), RunOps({"SetRange 0 2", "SetStep 1", "Message " + message}));
    EXPECT_EQ(ListDir(out), std::vector<std::string> {"Clips"});
}

TEST_F(ArchiveRunTest, ExistingSubFolderIsUsed)
{
    window.settings.createSubFolder = 1;
    MakeDirs(out + "/Clips");
    Source("a.txt");
    Run();
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(Entries(out + "/Clips/Clips.zip"), Expected({"a.txt"}));
}

TEST_F(ArchiveRunTest, OutputInsideTheSourceFolderIsNeverItsOwnInput)
{
    window.settings.keepIndividual = 1;
    window.settings.targetFolder = src;
    Sources({"a.txt", "b.txt"});
    // A temporary of another run's copy still being written: its writer holds the lock.
    WriteFile(src + "/.kelvane-tmp-123", "half");
    const int writer = kelvane::io::Open((src + "/.kelvane-tmp-123").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(kelvane::io::Flock(writer, LOCK_EX), 0);
    Run();
    kelvane::io::Close(writer);
    EXPECT_EQ(window.ProgressOperations(), Progress(Steps(2, {"SetRange 0 2", "SetStep 1"})));
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(Entries(src + "/a.zip"), Expected({"a.txt"}));
    EXPECT_EQ(Entries(src + "/b.zip"), Expected({"b.txt"}));
    EXPECT_EQ(ListDir(src),
              (std::vector<std::string> {".kelvane-tmp-123", "a.txt", "a.zip", "b.txt", "b.zip"}));
}

TEST_F(ArchiveRunTest, LongBaseNamesGiveArchiveNamesTheFileSystemTakes)
{
    window.settings.keepIndividual = 1;
    // A name of 255 bytes without extension: "name.zip" would be too long for the file
    // system, so the base name is cut, and the cut falls inside a 3-byte character.
    const std::string name = std::string(249, 'n') + "\xE2\x82\xAC\xE2\x82\xAC";
    ASSERT_EQ(name.size(), 255u);
    Source(name);
    Run();
    EXPECT_TRUE(window.Messages().empty());
    const std::string archive = std::string(249, 'n') + ".zip";
    EXPECT_EQ(ListDir(out), std::vector<std::string> {archive});
    // The test reader cannot convert UTF-8 names in the C locale: look for the stored name.
    EXPECT_NE(ReadFile(out + "/" + archive).find(name), std::string::npos);
}

#ifndef _WIN32 // 70,000 files take a quarter of an hour through Wine's file layer
TEST(CountMatchingFilesTest, FullCountBeyondSixteenBits)
{
    TempDir tmp;
    const int files = 70000;
    for (int i = 0; i < files; ++i)
        WriteFile(tmp / ("f" + std::to_string(i)), "");
    MakeDirs(tmp / "folder");
    WriteFile(tmp / ".kelvane-tmp-abc", "");
    FakeWindow window;
    EXPECT_EQ(CountMatchingFiles(window, tmp.path(), "*.*"), files);
    EXPECT_EQ(window.Operations(), (std::vector<std::string> {"SetRange 0 70000", "SetStep 1"}));
    EXPECT_EQ(window.Upper(), files);
}
#endif

} // namespace
} // namespace kelvane::test
