// kelvane-batch --verify: what a run placed is read back and checked, on a real file system.
#include "cli/Batch.h"
#include "cli/Verification.h"
#include "engine/ArchiveRun.h"
#include "tests/support/IoTrace.h"
#include "tests/support/RawZip.h"
#include "verify/StorageFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "tests/cli/CliTestUtil.h"

namespace kelvane::batch {
namespace {

using namespace kelvane::test;

// A window that lets the test change the placed files between the run and the read-back:
// the run calls SetStartCaption last, as it puts the window back.
class AfterRunWindow : public TerminalReport
{
public:
    AfterRunWindow(JobSettings s, std::ostream &err, ProgressStyle style,
                   std::function<void(AfterRunWindow &)> afterRun)
        : TerminalReport(std::move(s), err, style), afterRun_(std::move(afterRun))
    { }
    void SetStartCaption(const std::string &) override { afterRun_(*this); }

private:
    std::function<void(AfterRunWindow &)> afterRun_;
};

// Every file under a folder with a hash of its bytes and its modification time.
using Files = std::map<std::string, std::pair<std::size_t, std::filesystem::file_time_type>>;
Files Snapshot(const std::string &folder)
{
    Files files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().string()]
                = {std::hash<std::string> {}(ReadFile(entry.path().string())),
                   std::filesystem::last_write_time(entry.path())};
    return files;
}

void ChangeByte(const std::string &path, std::size_t at)
{
    std::string bytes = ReadFile(path);
    ASSERT_LT(at, bytes.size()) << path;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    WriteFile(path, bytes);
}

class VerifyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MakeDirs(dir / "src");
        WriteFile(dir / "src/a.txt", "alpha text");
        std::string numbers;
        for (int i = 0; i < 20000; ++i)
            numbers += std::to_string(i * 7919 % 100003) + "\n";
        WriteFile(dir / "src/b.bin", numbers); // deflated
        WriteFile(dir / "src/r.bin", RandomBytes(300000, 7)); // stored, over two blocks
        WriteFile(dir / "src/old.zip", "not really a zip, copied as it is");
    }

    int Run(ProgressStyle style, std::function<void(AfterRunWindow &)> afterRun = {},
            const JobSettings *settings = nullptr)
    {
        AfterRunWindow window(
            settings ? *settings : PlainJob(dir, true), err, style,
            afterRun ? afterRun : [](AfterRunWindow &) {});
        return RunJob(window, true);
    }

    TempDir dir;
    std::ostringstream err;
};

// A read-back changes no file: not its bytes, not its time.
TEST_F(VerifyTest, CleanRunsOfEveryKindVerifyAndSaySo)
{
    Files before;
    EXPECT_EQ(Run(ProgressStyle::Summary,
                  [&](AfterRunWindow &) {
                      // Old enough that a write now would show in the time.
                      for (const auto &file : Snapshot(dir.path()))
                          std::filesystem::last_write_time(
                              file.first, file.second.second - std::chrono::hours(1));
                      before = Snapshot(dir.path());
                  }),
              kExitClean);
    EXPECT_EQ(err.str(),
              "kelvane-batch: 4 files\nkelvane-batch: done, 4 of 4 files\n"
              "kelvane-batch: verified 3 archives (3 entries) and 1 zip copy\n");
    EXPECT_EQ(before.size(), 8u);
    EXPECT_EQ(Snapshot(dir.path()), before);

    // The same again: every file conflicts and goes to the conflict archive. The bar goes
    // on through the check.
    err.str("");
    EXPECT_EQ(Run(ProgressStyle::Bar), kExitReported);
    EXPECT_NE(err.str().find("\rverifying [########################] 4/4 100%"), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("\nkelvane-batch: verified 1 archive (4 entries)\n"),
              std::string::npos)
        << err.str();

    // One archive with stored paths: --quiet says nothing when all is well.
    err.str("");
    JobSettings single = PlainJob(dir, false);
    single.targetFolder = dir / "single";
    single.storePathInZip = 1;
    EXPECT_EQ(Run(ProgressStyle::None, {}, &single), kExitClean);
    EXPECT_EQ(err.str(), "");
}

TEST_F(VerifyTest, BytesChangedOnTheStorageAreCaughtAndNamedAndTheArchivesKept)
{
    std::string changedR, changedB;
    EXPECT_EQ(Run(ProgressStyle::None,
                  [&](AfterRunWindow &) {
                      ChangeByte(dir / "dst/r.zip", 150000);
                      // Well inside the deflated data, where every bit counts.
                      ChangeByte(
                          dir / "dst/b.zip",
                          tamsorel::test::ReadRawZip(dir / "dst/b.zip").entries.at(0).dataOffset
                              + 1000);
                      ChangeByte(dir / "dst/old.zip", 5);
                      changedR = ReadFile(dir / "dst/r.zip");
                      changedB = ReadFile(dir / "dst/b.zip");
                  }),
              kExitReported);
    const std::string out = err.str();
    const std::string failed = "kelvane-batch: Archive verification failed\n";
    EXPECT_NE(out.find(failed + NativePath(dir / "dst/r.zip")
                       + "\nentry 1 of 1 (r.bin): the data's CRC-32 is "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(failed + NativePath(dir / "dst/b.zip") + "\nentry 1 of 1 (b.bin): "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(failed + NativePath(dir / "dst/old.zip")
                       + "\nthe copy differs from its source at byte 5 ("
                       + NativePath(dir / "src/old.zip") + ")\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(CountOf(out, failed), 3);
    // Failures are said even with --quiet; the archives stay as they are for the user.
    EXPECT_EQ(ReadFile(dir / "dst/r.zip"), changedR);
    EXPECT_EQ(ReadFile(dir / "dst/b.zip"), changedB);
}

TEST_F(VerifyTest, ReadErrorsOfTheStorageAreReported)
{
    std::optional<IoTrace> failingReads; // from the read-back on, every read fails
    EXPECT_EQ(Run(ProgressStyle::None,
                  [&](AfterRunWindow &) {
                      failingReads.emplace([](const io::CallInfo &info) {
                          return info.call == io::Call::Read ? EIO : 0;
                      });
                  }),
              kExitReported);
    const std::string out = err.str();
    EXPECT_EQ(CountOf(out, "kelvane-batch: Archive verification failed\n"), 4) << out;
    EXPECT_EQ(CountOf(out, std::strerror(EIO)), 4) << out;
}

TEST_F(VerifyTest, TruncatedArchiveIsCaught)
{
    EXPECT_EQ(Run(ProgressStyle::Summary,
                  [&](AfterRunWindow &) {
                      const std::string zip = ReadFile(dir / "dst/r.zip");
                      WriteFile(dir / "dst/r.zip", zip.substr(0, zip.size() / 2));
                  }),
              kExitReported);
    EXPECT_NE(err.str().find("kelvane-batch: Archive verification failed\n"
                             + NativePath(dir / "dst/r.zip")
                             + "\nno end of central directory record"),
              std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("kelvane-batch: verified 2 archives (2 entries) and 1 zip copy; "
                             "1 failed\n"),
              std::string::npos)
        << err.str();
}

TEST_F(VerifyTest, StopDuringVerificationSaysWhatWasCheckedWithStatus130)
{
    EXPECT_EQ(
        Run(ProgressStyle::None, [&](AfterRunWindow &window) { window.StopRequested() = true; }),
        kExitStopped);
    EXPECT_EQ(err.str(),
              "kelvane-batch: verification stopped; verified 0 archives (0 entries), "
              "4 not checked\n");
}

TEST_F(VerifyTest, ArchiveMustHoldExactlyTheFilesAddedWithTheirSizes)
{
    // Without the check nothing is kept per file.
    {
        TerminalReport window(PlainJob(dir, true), err, ProgressStyle::None);
        RunReport plain;
        ArchiveRun(window, plain);
        EXPECT_EQ(plain.archivesPlaced.size(), 3u);
        EXPECT_TRUE(plain.archiveSources.empty());
        EXPECT_TRUE(plain.copySources.empty());
    }
    JobSettings s = PlainJob(dir, false);
    s.targetFolder = dir / "one";
    TerminalReport window(s, err, ProgressStyle::None);
    RunReport report;
    report.keepSources = true;
    ArchiveRun(window, report);
    ASSERT_EQ(report.archiveSources.size(), 1u);
    ASSERT_EQ(report.archiveSources[0].size(), 3u);
    EXPECT_EQ(report.copySources, std::vector<std::string> {"old.zip"});
    EXPECT_EQ(report.sourceFolder, NativePath(dir / "src"));
    const auto check = [&](RunReport changed) {
        err.str("");
        const VerifyOutcome outcome
            = VerifyOutputs(changed, err, ProgressStyle::None, window.StopRequested());
        EXPECT_EQ(outcome.failed, 1u);
        return err.str();
    };
    RunReport fewer = report;
    fewer.archiveSources[0].pop_back();
    EXPECT_NE(check(fewer).find("\nit holds more entries than the 2 files the run added to it\n"),
              std::string::npos)
        << err.str();
    RunReport more = report;
    more.archiveSources[0].push_back("a.txt");
    EXPECT_NE(check(more).find("\nit holds 3 entries, the run added 4 files to it\n"),
              std::string::npos)
        << err.str();
    RunReport swapped = report;
    std::swap(swapped.archiveSources[0][0], swapped.archiveSources[0][1]);
    EXPECT_NE(check(swapped).find("\nentry 1 (a.txt) is not the file the run added there, "),
              std::string::npos)
        << err.str();
    const std::string b = ReadFile(dir / "src/b.bin");
    WriteFile(dir / "src/b.bin", b + "1");
    EXPECT_NE(check(report).find("\nentry 2 (b.bin) holds " + std::to_string(b.size())
                                 + " bytes, its source " + NativePath(dir / "src/b.bin") + " holds "
                                 + std::to_string(b.size() + 1) + "\n"),
              std::string::npos)
        << err.str();
}

// The headers of an entry are checked against each other, not only against its data.
TEST_F(VerifyTest, HeadersThatDisagreeAreCaught)
{
    {
        TerminalReport window(PlainJob(dir, true), err, ProgressStyle::None);
        ASSERT_EQ(RunJob(window), kExitClean);
    }
    const std::string good = ReadFile(dir / "dst/a.zip");
    const auto central
        = static_cast<std::size_t>(tamsorel::test::LittleEndian(good, good.size() - 22 + 16, 4));
    const auto problem = [&](std::size_t at) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 1);
        WriteFile(dir / "bad.zip", bad);
        verify::StorageFile file;
        std::string error;
        EXPECT_TRUE(file.Open(dir / "bad.zip", error)) << error;
        const verify::ZipCheckResult result = verify::CheckZip(file, {}, nullptr);
        EXPECT_FALSE(result.ok);
        return result.problem;
    };
    EXPECT_NE(problem(central + 16).find("CRC-32 "), std::string::npos);
    EXPECT_NE(problem(14).find("the local header gives CRC-32 "), std::string::npos);
    EXPECT_NE(problem(22).find("the local header gives sizes "), std::string::npos);
    EXPECT_NE(problem(central + 46).find("the local header names it \"a.txt\""), std::string::npos);
    EXPECT_NE(problem(good.size() - 22 + 12).find("does not end where the end record begins"),
              std::string::npos);
}

} // namespace
} // namespace kelvane::batch
