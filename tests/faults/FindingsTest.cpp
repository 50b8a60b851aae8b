// What the fault sweep found, each pinned down at the one call that showed it.

#include "folders/FolderSearch.h"
#include "io/Io.h"
#include "io/IoTesting.h"
#include "placement/Placement.h"
#include "tamsorel/tamsorel.h"
#include "tests/faults/FaultRun.h"
#include "tests/support/RunFixture.h"

#include <cerrno>
#include <functional>

#include <fcntl.h>
#include <unistd.h>

namespace kelvane::test {
namespace {

// Fails the calls for which decide returns an errno.
class Decide : public io::FaultHook
{
public:
    explicit Decide(std::function<int(const io::CallInfo &)> decide)
        : decide_(std::move(decide)) { }
    int Before(const io::CallInfo &info) override { return decide_(info); }

private:
    std::function<int(const io::CallInfo &)> decide_;
};

// Fails the first folder read after the nth opening of folder.
Decide FailListing(const std::string &folder, int nthOpen, int error)
{
    auto opens = std::make_shared<int>(0);
    auto failed = std::make_shared<bool>(false);
    return Decide([=](const io::CallInfo &info) {
        if (info.call == io::Call::OpenDir && info.path && folder == info.path)
            ++*opens;
        if (info.call == io::Call::ReadDir && *opens == nthOpen && !*failed) {
            *failed = true;
            return error;
        }
        return 0;
    });
}

TEST(FolderSearchErrors, ReadErrorIsReportedMissingFolderIsNot)
{
    TempDir tmp;
    WriteFile(tmp / "a.txt", "a");
    Decide hook = FailListing(tmp.path(), 1, EIO);
    {
        ScopedHook installed(hook);
        EXPECT_EQ(folders::SearchFolderChecked(tmp.path(), "*.*").error, EIO);
    }
    const folders::FolderSearch whole = folders::SearchFolderChecked(tmp.path(), "*.*");
    EXPECT_EQ(whole.error, 0);
    EXPECT_EQ(whole.entries.size(), 3u); // ".", "..", a.txt
    EXPECT_EQ(folders::SearchFolderChecked(tmp / "missing", "*.*").error, 0);
    EXPECT_EQ(folders::SearchFolderChecked(tmp / "a.txt", "*.*").error, 0); // not a folder
}

class UnreadableSource : public RunFixture
{ };

// The listing of the run broke off: before, the files not yet listed were passed over
// without a word.
TEST_F(UnreadableSource, ListingThatBreaksOffEndsTheRunWithAMessage)
{
    for (const char *name : {"a.txt", "b.txt", "c.zip"})
        Source(name);
    Decide hook = FailListing(src, 2, EIO); // the count reads it whole, the run does not
    {
        ScopedHook installed(hook);
        Run();
    }
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].first, kUnreadableSourceCaption);
    EXPECT_EQ(window.Messages()[0].second, src + "\nInput/output error");
    EXPECT_FALSE(FileExists(out)); // nothing written, not even the target folder
    EXPECT_EQ(window.Caption(), "START");
}

// Before, the run ended silently as if the folder were empty.
TEST_F(UnreadableSource, CountThatCannotOpenTheFolderTellsTheUser)
{
    Source("a.txt");
    Decide hook([&](const io::CallInfo &info) {
        return info.call == io::Call::OpenDir && info.path && src == info.path ? EACCES : 0;
    });
    {
        ScopedHook installed(hook);
        Run();
    }
    EXPECT_EQ(window.ProgressOperations(), Progress({"SetRange 0 0", "SetStep 1"}));
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].first, kUnreadableSourceCaption);
    EXPECT_FALSE(FileExists(out));
}

TEST_F(UnreadableSource, MissingSourceFolderStaysSilent)
{
    window.settings.sourceFolder = tmp / "missing";
    Run();
    EXPECT_TRUE(window.Messages().empty());
}

// Fails the first lstat of a temporary file: the check that the new file is still the
// one locked.
Decide FailFirstTempCheck()
{
    auto failed = std::make_shared<bool>(false);
    return Decide([=](const io::CallInfo &info) {
        if (info.call != io::Call::Stat || !info.path || *failed)
            return 0;
        const std::string path = info.path;
        if (!IsTempName(path.substr(path.rfind('/') + 1)))
            return 0;
        *failed = true;
        return EIO;
    });
}

// Before, the first file stayed behind for good: still locked by nobody, but only a later
// run in that folder would have removed it.
TEST(TempCheckFails, CopyLeavesOnlyItsOwnTemporary)
{
    TempDir tmp;
    Decide hook = FailFirstTempCheck();
    placement::TempFile copy;
    {
        ScopedHook installed(hook);
        copy = placement::TempFile::CreateBeside(tmp / "copy.zip");
    }
    ASSERT_TRUE(copy.IsOpen());
    EXPECT_EQ(ListDir(tmp.path()),
              std::vector<std::string> {copy.Path().substr(tmp.path().size() + 1)});
}

TEST(TempCheckFails, ArchiveLeavesNoTemporary)
{
    TempDir tmp;
    WriteFile(tmp / "a.txt", "some data");
    Decide hook = FailFirstTempCheck();
    {
        ScopedHook installed(hook);
        ArchiveHandle handle = ArchiveOpen((tmp / "a.zip").c_str(), 0);
        ASSERT_NE(handle, nullptr);
        EXPECT_TRUE(ArchiveAddFile(handle, (tmp / "a.txt").c_str(), nullptr, 0, "a.txt"));
        EXPECT_TRUE(ArchiveClose(&handle));
    }
    EXPECT_EQ(ListDir(tmp.path()), (std::vector<std::string> {"a.txt", "a.zip"}));
    EXPECT_EQ(ReadZip(tmp / "a.zip").entries.size(), 1u);
}

} // namespace
} // namespace kelvane::test

namespace kelvane::test {
namespace {

class SkippedConflicts : public RunFixture
{ };

// With conflicts skipped, a zip file whose copy failed for another reason than a taken
// name was skipped like a conflict: lost without a word.
TEST_F(SkippedConflicts, FailedCopyIsNoConflictToSkip)
{
    window.settings.skipConflicts = 1;
    Source("new.zip");
    Source("old.zip");
    MakeDirs(out);
    WriteFile(out + "/old.zip", "an earlier copy"); // a real conflict: skipped silently
    Decide hook([&](const io::CallInfo &info) {
        // The copy's temporary file cannot be made: the disk is full.
        return info.call == io::Call::Open && (info.flags & O_CREAT) ? ENOSPC : 0;
    });
    {
        ScopedHook installed(hook);
        Run();
    }
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].first, kNotArchivedCaption);
    EXPECT_EQ(window.Messages()[0].second, "1 files could not be archived:\n" + src + "/new.zip\n");
    EXPECT_EQ(ListDir(out), std::vector<std::string> {"old.zip"});
}

} // namespace
} // namespace kelvane::test
