// The built kelvane-batch program, run as a child process the way cron or a shell would.
#include <gtest/gtest.h>

#include <csignal>

#include "resources/Version.h"
#include "tests/cli/CliTestUtil.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ZipReaders.h"

namespace kelvane::test {
namespace {

const std::string kBinary = KELVANE_BATCH_BINARY;

TEST(BatchBinary, CleanRunExitsZeroAndWritesReadableArchives)
{
    TempDir dir;
    MakeDirs(dir / "src/sub");
    WriteFile(dir / "src/take1.avi", std::string(300000, 'v'));
    WriteFile(dir / "src/take1.txt", "notes");
    WriteFile(dir / "src/take2.avi", "second");
    WriteFile(dir / "src/sub/ignored.txt", "sub folders are left alone");
    JobSettings s = PlainJob(dir, true);
    s.createSubFolder = 1;
    WriteFile(dir / "kelvane.ini", IniText(s));

    const ChildResult r = RunChild(kBinary, {}, dir.path());
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "kelvane-batch: 3 files\nkelvane-batch: done, 3 of 3 files\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ListDir(dir / "dst/src"), (std::vector<std::string> {"take1.zip", "take2.zip"}));
    const ZipContents take1 = ReadZip(dir / "dst/src/take1.zip");
    ASSERT_TRUE(take1.ok) << take1.error;
    ASSERT_EQ(take1.entries.size(), 2u);
    EXPECT_EQ(take1.entries[0].name, "take1.avi");
    EXPECT_EQ(take1.entries[0].data, std::string(300000, 'v'));
    EXPECT_EQ(take1.entries[1].name, "take1.txt");
    EXPECT_EQ(take1.entries[1].data, "notes");
    EXPECT_EQ(ZipNames(dir / "dst/src/take2.zip"), (std::vector<std::string> {"take2.avi"}));
    EXPECT_EQ(ExpectFolderReadsAlike(dir / "dst"), 2u);
}

TEST(BatchBinary, ConflictExitsOneWithTheReportOnStandardError)
{
    TempDir dir;
    MakeDirs(dir / "src");
    WriteFile(dir / "src/clip.avi", "clip");
    WriteFile(dir / "kelvane.ini", IniText(PlainJob(dir, true)));
    ASSERT_EQ(RunChild(kBinary, {"--quiet"}, dir.path()).status, 0);

    const ChildResult r = RunChild(kBinary, {}, dir.path());
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("kelvane-batch: File name conflicts!\nDue to file name conflicts with "
                         "existing target directory files, 1 files were copied to\n"
                         + (dir / "dst/conflict.zip")
                         + "\n\nAvoid this by copying to a clean target folder.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ZipNames(dir / "dst/conflict.zip"), (std::vector<std::string> {"clip.avi"}));
    EXPECT_EQ(ExpectFolderReadsAlike(dir / "dst"), 2u);
}

TEST(BatchBinary, UsageErrorsExitTwo)
{
    TempDir dir;
    ChildResult r = RunChild(kBinary, {"--x"}, dir.path());
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kelvane-batch: unknown option '--x'\nTry 'kelvane-batch --help'.\n");

    r = RunChild(kBinary, {"--settings"}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "kelvane-batch: option '--settings' needs a FILE argument\n"
              "Try 'kelvane-batch --help'.\n");

    r = RunChild(kBinary, {"somewhere"}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "kelvane-batch: unexpected argument 'somewhere'\n"
              "Try 'kelvane-batch --help'.\n");

    r = RunChild(kBinary, {"--settings", "nope.ini"}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kelvane-batch: cannot read settings file 'nope.ini'\n");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string> {});
}

TEST(BatchBinary, HelpAndVersion)
{
    TempDir dir;
    ChildResult r = RunChild(kBinary, {"--version"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "kelvane-batch " KELVANE_VERSION "\n");
    EXPECT_EQ(r.err, "");
    r = RunChild(kBinary, {"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: kelvane-batch", 0), 0u);
    EXPECT_EQ(r.err, "");
}

TEST(BatchBinary, SettingsFileNamedOnTheCommandLineWinsOverTheCurrentDirectory)
{
    TempDir dir;
    MakeDirs(dir / "src");
    MakeDirs(dir / "elsewhere");
    WriteFile(dir / "src/one.txt", "1");
    JobSettings s = PlainJob(dir, false);
    WriteFile(dir / "elsewhere/kelvane.ini", IniText(s)); // would go to dst
    s.targetFolder = dir / "named-target";
    WriteFile(dir / "job.ini", IniText(s));

    const ChildResult r = RunChild(kBinary, {"--settings", dir / "job.ini"}, dir / "elsewhere");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ZipNames(dir / "named-target/src.zip"), (std::vector<std::string> {"one.txt"}));
    EXPECT_FALSE(FileExists(dir / "dst"));
    EXPECT_EQ(ExpectFolderReadsAlike(dir / "named-target"), 1u);
}

TEST(BatchBinary, WithoutSettingsFileTheDefaultsAreUsed)
{
    // The default folders are relative here, so they land inside the current directory.
    TempDir dir;
    MakeDirs(dir / "D:/Orvel/AVIs");
    WriteFile(dir / "D:/Orvel/AVIs/take1.avi", "take");
    const ChildResult r = RunChild(kBinary, {}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ZipNames(dir / "D:/Orvel/AVIs/Archive/AVIs/take1.zip").size() == 1u);
    EXPECT_EQ(ExpectFolderReadsAlike(dir / "D:/Orvel/AVIs/Archive"), 1u);
}

TEST(BatchBinary, OnATerminalProgressIsABarRedrawnInPlace)
{
    TempDir dir;
    MakeDirs(dir / "src");
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        WriteFile(dir / "src" + std::string("/") + name, name);
    WriteFile(dir / "kelvane.ini", IniText(PlainJob(dir, true)));

    ChildProcess child(kBinary, {}, dir.path(), 0, true);
    const ChildResult r = child.Finish();
    EXPECT_EQ(r.status, 0) << r.err;
    // Redrawn with carriage returns, ending on the full bar and a line end; no summary.
    EXPECT_EQ(r.err.rfind("\r[", 0), 0u) << r.err;
    const std::string last = r.err.substr(r.err.rfind("\r["));
    EXPECT_EQ(last.rfind("\r[########################] 3/3 100%", 0), 0u) << last;
    EXPECT_NE(r.err.find('\n'), std::string::npos);
    EXPECT_EQ(r.err.find("done"), std::string::npos);
    EXPECT_EQ(ListDir(dir / "dst"), (std::vector<std::string> {"a.zip", "b.zip", "c.zip"}));
    EXPECT_EQ(ExpectFolderReadsAlike(dir / "dst"), 3u);
}

TEST(BatchBinary, CtrlCStopsAfterTheFileInHandWithCompleteArchives)
{
    TempDir dir;
    MakeDirs(dir / "src");
    const int files = 1200;
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "src/f%05d.dat", i);
        WriteFile(dir / name, std::string(static_cast<std::size_t>(500 + i), 'a' + i % 26));
    }
    WriteFile(dir / "kelvane.ini", IniText(PlainJob(dir, false)));

    // One line per file on a small pipe that is read only line by line: the program
    // cannot get through all its files before the signal, whatever the timing.
    ChildProcess child(kBinary, {"--verbose"}, dir.path(), 4096);
    const std::size_t lineBytes = std::string("kelvane-batch: file 1000 of 1200\n").size();
    ASSERT_GT(static_cast<long long>(files / 2 * lineBytes), child.ErrPipeSize());
    std::string line;
    ASSERT_TRUE(child.ReadErrLine(line));
    ASSERT_EQ(line, "kelvane-batch: 1200 files\n");
    // The first file is in hand once its line is out: the stop comes after it at the earliest.
    ASSERT_TRUE(child.ReadErrLine(line));
    ASSERT_EQ(line, "kelvane-batch: file 1 of 1200\n");
    child.Signal(SIGINT);
    child.Signal(SIGINT); // a second Ctrl+C must not end it early either
    const ChildResult r = child.Finish();

    ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("kelvane-batch: stopping, please wait\n"), std::string::npos);
    const std::string stoppedAt = "kelvane-batch: stopped, ";
    ASSERT_NE(r.err.find(stoppedAt), std::string::npos) << r.err;
    const long long done = std::stoll(r.err.substr(r.err.find(stoppedAt) + stoppedAt.size()));
    EXPECT_GT(done, 0);
    EXPECT_LT(done, files);
    // The last file announced was finished, and nothing after it was started.
    EXPECT_NE(r.err.find("kelvane-batch: file " + std::to_string(done) + " of 1200\n"),
              std::string::npos);
    EXPECT_EQ(r.err.find("kelvane-batch: file " + std::to_string(done + 1) + " of 1200\n"),
              std::string::npos);

    const ZipContents zip = ReadZip(dir / "dst/src.zip");
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(static_cast<long long>(zip.entries.size()), done);
    for (std::size_t i = 0; i < zip.entries.size(); ++i) {
        EXPECT_EQ(zip.entries[i].data.size(), 500 + i);
        EXPECT_EQ(zip.entries[i].data, ReadFile(dir / ("src/" + zip.entries[i].name)));
    }
    EXPECT_EQ(ListDir(dir / "dst"), std::vector<std::string> {"src.zip"});
    EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});
    EXPECT_EQ(ExpectFolderReadsAlike(dir / "dst"), 1u);
}

} // namespace
} // namespace kelvane::test
