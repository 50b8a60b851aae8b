// Putting files in place: temporaries, commits that never replace, and the order of syncs
// and renames that makes every placed file survive a power loss, for each writer (archive,
// zip copy, settings file).

#include "placement/Placement.h"

#include "io/IoTesting.h"
#include "settings/SettingsFile.h"
#include "tamsorel/tamsorel.h"
#include "tests/support/IoTrace.h"
#include "tests/support/RunFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kelvane::test {
namespace {

using placement::Commit;
using placement::TempFile;

std::string RealPath(const std::string &path)
{
#ifdef _WIN32
    char buffer[_MAX_PATH];
    return ::_fullpath(buffer, path.c_str(), sizeof buffer) ? std::string(buffer) : path;
#else
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
#endif
}

TEST(TempFile, NewFilesAreUniqueAndBesideTheirTarget)
{
    TempDir dir;
    MakeDirs(dir / "out");
    TempFile first = TempFile::CreateBeside(dir / "out/archive.zip");
    TempFile second = TempFile::CreateBeside(dir / "out/archive.zip");
    ASSERT_TRUE(first.IsOpen()) << first.Error().message();
    ASSERT_TRUE(second.IsOpen()) << second.Error().message();
    EXPECT_NE(first.Path(), second.Path());
    EXPECT_EQ(first.Path().rfind(NativePath(dir / "out/" + placement::kTempPrefix), 0), 0u)
        << first.Path();
    EXPECT_EQ(TempLeftovers(dir / "out").size(), 2u);

    TempFile none = TempFile::CreateBeside(dir / "missing/archive.zip");
    EXPECT_FALSE(none.IsOpen());
    EXPECT_EQ(none.Error(), std::errc::no_such_file_or_directory);

    // Going away without a commit leaves nothing.
    {
        TempFile dropped = std::move(first);
    }
    second.Discard();
    EXPECT_EQ(ListDir(dir / "out"), std::vector<std::string> {});
}

// A write at an offset (an archive's header rewritten) leaves the position where the
// sequential writes go on.
TEST(TempFile, WriteAtLeavesThePosition)
{
    TempDir dir;
    TempFile file = TempFile::CreateBeside(dir / "file");
    ASSERT_TRUE(file.Write("abcdef", 6));
    ASSERT_TRUE(file.WriteAt("XY", 2, 1));
    ASSERT_TRUE(file.Write("gh", 2));
    ASSERT_TRUE(file.Commit(Commit::NoReplace));
    EXPECT_EQ(ReadFile(dir / "file"), "aXYdefgh");
}

// Where the file system cannot rename without replacing (renameat2 refused with EINVAL,
// or a kernel without it: ENOSYS), the commit falls back to a hard link, and where there
// are no hard links either (link refused with EPERM: exFAT through FUSE), to a check of the
// name and a plain rename under the folder's lock: a file or an archive never replaces
// what is there.
TEST(Commit, NoReplaceNeverReplacesWhateverTheFileSystemLacks)
{
    struct Lack
    {
        int rename;
        int link;
    };
#ifdef _WIN32
    const Lack lacks[] = {{0, 0}}; // Windows renames without replacing by itself: no fallback
#else
    const Lack lacks[] = {{0, 0}, {EINVAL, 0}, {ENOSYS, 0}, {EINVAL, EPERM}};
#endif
    for (const Lack lack : lacks) {
        SCOPED_TRACE(std::to_string(lack.rename) + " " + std::to_string(lack.link));
        TempDir dir;
        WriteFile(dir / "taken", "older");
        WriteFile(dir / "entry.txt", "entry");
        IoTrace trace([lack](const io::CallInfo &info) {
            if (info.call == io::Call::Rename && info.flags == io::kRenameNoReplace)
                return lack.rename;
            return info.call == io::Call::Link ? lack.link : 0;
        });

        TempFile file = TempFile::CreateBeside(dir / "taken");
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(file.Write("newer", 5));
        EXPECT_FALSE(file.Commit(Commit::NoReplace));
        EXPECT_EQ(file.Error(), std::errc::file_exists);
        EXPECT_FALSE(file.IsOpen());

        ArchiveHandle archive = ArchiveOpen((dir / "taken").c_str(), 1);
        ASSERT_NE(archive, nullptr);
        EXPECT_TRUE(ArchiveAddFile(archive, (dir / "entry.txt").c_str(), nullptr, 0, "e.txt"));
        EXPECT_FALSE(ArchiveClose(&archive));
        EXPECT_EQ(placement::CopyFileNoReplace(dir / "entry.txt", dir / "taken"),
                  std::errc::file_exists);

        EXPECT_EQ(ReadFile(dir / "taken"), "older");
        EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});

        // A free name is still taken; without links, only once the folder is locked.
        TempFile free = TempFile::CreateBeside(dir / "free");
        ASSERT_TRUE(free.Write("newer", 5));
        const std::string temporary = free.Path();
        const std::size_t before = trace.Calls().size();
        EXPECT_TRUE(free.Commit(Commit::NoReplace));
        EXPECT_EQ(ReadFile(dir / "free"), "newer");
        if (lack.link) {
            const std::size_t tried = trace.Find(io::Call::Rename, temporary, dir / "free", before);
            EXPECT_LT(trace.Find(io::Call::Flock, dir.path(), {}, before),
                      trace.Find(io::Call::Rename, temporary, dir / "free", tried + 1));
        }
        EXPECT_FALSE(placement::CopyFileNoReplace(dir / "entry.txt", dir / "copy"));
        EXPECT_EQ(ListDir(dir.path()),
                  (std::vector<std::string> {"copy", "entry.txt", "free", "taken"}));
    }
}

#ifndef _WIN32 // Windows renames without replacing by itself: it never falls back
// Without links the folder's lock is what keeps two placings apart: a thread that holds it
// already (a run placing its archive) does not wait for itself, and another thread (an
// archive closing in the background) waits until it is released.
TEST(Commit, WithoutLinksOneThreadAtATimePlacesUnderTheFolderLock)
{
    TempDir dir;
    const std::thread::id main = std::this_thread::get_id();
    std::atomic<int> mainLocks {0};
    std::atomic<int> otherLocks {0};
    std::atomic<bool> held {false};
    std::atomic<bool> renamedWhileHeld {false};
    std::atomic<bool> done {false};
    IoTrace trace([&](const io::CallInfo &info) {
        const bool onMain = std::this_thread::get_id() == main;
        if (info.call == io::Call::Flock)
            ++(onMain ? mainLocks : otherLocks);
        if (info.call == io::Call::Rename && info.flags == io::kRenameNoReplace)
            return EINVAL;
        if (info.call == io::Call::Rename && !onMain && held)
            renamedWhileHeld = true;
        return info.call == io::Call::Link ? EPERM : 0;
    });
    TempFile own = TempFile::CreateBeside(dir / "own");
    TempFile other = TempFile::CreateBeside(dir / "other");
    std::thread closer;
    {
        const placement::FolderLock lock(dir.path());
        held = true;
        mainLocks = 0;
        EXPECT_TRUE(own.Commit(Commit::NoReplace));
        EXPECT_EQ(mainLocks, 0) << "the thread locked the folder it holds";
        closer = std::thread([&] {
            EXPECT_TRUE(other.Commit(Commit::NoReplace));
            done = true;
        });
        while (otherLocks == 0 && !renamedWhileHeld && !done)
            std::this_thread::yield();
        // Held on a while after it was asked for, well within the wait for a busy lock: a
        // thread that did not wait would rename meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        held = false;
    }
    closer.join();
    EXPECT_FALSE(renamedWhileHeld) << "a thread renamed while another held the folder's lock";
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string> {"other", "own"}));
}
#endif

// A placed file's data reaches the disk before its name does (else a power loss can leave
// a complete-looking name over an empty or partial file), and the folder is synced after
// the rename (else the name itself can be lost): for a run's archive and zip copy, and for
// the settings file.
class SyncOrder : public RunFixture
{
protected:
    // The position of the first sync of the file or folder at path (compared by its real
    // path, as the trace sees a descriptor) in the range [from, to).
    static std::size_t SyncOf(const std::vector<TracedIo> &calls, const std::string &path,
                              std::size_t from, std::size_t to)
    {
        const std::string real = RealPath(path);
        for (std::size_t i = from; i < to && i < calls.size(); ++i)
            if (calls[i].call == io::Call::Fsync && RealPath(calls[i].path) == real)
                return i;
        return std::string::npos;
    }

    // Checks the order for the file placed at target: a sync of its temporary before the
    // rename, a sync of folder after it.
    static void ExpectSyncedAround(const IoTrace &trace, const std::string &target,
                                   const std::string &folder)
    {
        SCOPED_TRACE(target);
        const std::vector<TracedIo> calls = trace.Calls();
        const std::size_t placed = trace.FindPlacement(target);
        ASSERT_NE(placed, std::string::npos);
        // A file may pass through a private name on its way (the single archive does):
        // its data must be synced under one of its earlier names.
        std::string temporary = calls[placed].path;
        std::size_t synced = SyncOf(calls, temporary, 0, placed);
        for (std::size_t i = placed; synced == std::string::npos && i-- > 0;) {
            if (calls[i].target.empty() || RealPath(calls[i].target) != RealPath(temporary))
                continue;
            temporary = calls[i].path;
            synced = SyncOf(calls, temporary, 0, i);
        }
        EXPECT_NE(synced, std::string::npos) << "the data was not synced before the rename";
#ifdef _WIN32
        (void)folder; // Windows cannot flush a folder: its journal keeps the names
#else
        EXPECT_NE(SyncOf(calls, folder, placed + 1, calls.size()), std::string::npos)
            << "the folder was not synced after the rename";
#endif
    }
};

TEST_F(SyncOrder, DataBeforeTheRenameAndTheFolderAfterIt)
{
    Source("a.txt");
    ArchiveHandle zip = ArchiveOpen((src + "/b.zip").c_str(), 0);
    ASSERT_NE(zip, nullptr);
    ASSERT_TRUE(ArchiveAddFile(zip, (src + "/a.txt").c_str(), nullptr, 0, "a.txt"));
    ASSERT_TRUE(ArchiveClose(&zip));
    {
        IoTrace trace;
        Run();
        ExpectSyncedAround(trace, NativePath(out + "/Clips.zip"), out); // the archive
        ExpectSyncedAround(trace, NativePath(out + "/b.zip"), out); // the copy
    }
    {
        IoTrace trace;
        ASSERT_TRUE(SaveSettingsFile(tmp / "kelvane.ini", window.settings));
        ExpectSyncedAround(trace, tmp / "kelvane.ini", tmp.path());
    }
}

#ifndef _WIN32 // Windows cannot flush a folder: its journal keeps the names
// Copies leave the folder's sync to the run, which syncs it once when done.
TEST_F(SyncOrder, OneFolderSyncPerRun)
{
    Source("a.txt");
    for (const char *name : {"/b.zip", "/c.zip"}) {
        ArchiveHandle zip = ArchiveOpen((src + name).c_str(), 0);
        ASSERT_TRUE(ArchiveAddFile(zip, (src + "/a.txt").c_str(), nullptr, 0, "a.txt"));
        ASSERT_TRUE(ArchiveClose(&zip));
    }
    MakeDirs(out);
    window.settings.keepIndividual = 1;
    IoTrace trace;
    Run();
    const std::vector<TracedIo> calls = trace.Calls();
    std::size_t folderSyncs = 0;
    for (std::size_t at = 0; (at = SyncOf(calls, out, at, calls.size())) != std::string::npos; ++at)
        ++folderSyncs;
    EXPECT_EQ(folderSyncs, 1u);
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"a.zip", "b.zip", "c.zip"}));
}
#endif

} // namespace
} // namespace kelvane::test
