#include "folders/FileSystem.h"
#include "placement/Placement.h"
#include "tests/folders/FoldersTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace folders = kelvane::folders;
namespace paths = kelvane::paths;
namespace placement = kelvane::placement;
namespace test = kelvane::test;

namespace {

bool Copied(const std::string &from, const std::string &to)
{
    return !placement::CopyFileNoReplace(from, to);
}

// Names fold as the upcase tables of exFAT and NTFS fold them, whatever the process's
// locale: letters beyond ASCII too. Folders of Windows always fold; on Linux a folder of
// an ordinary file system does not (tests/engine/FoldingTargetTest.cpp has one that does).
TEST(Names, FoldCaseAsCaseInsensitiveVolumesDo)
{
    using kelvane::placement::FoldCase;
    EXPECT_EQ(FoldCase("Clip.zip"), FoldCase("cLIP.ZIP"));
    EXPECT_EQ(FoldCase("\xC3\xBC"
                       "ber \xCE\xB1.zip"),
              "\xC3\x9C"
              "BER \xCE\x91.ZIP"); // ü, α
#ifndef _WIN32
    EXPECT_EQ(FoldCase("a\xFF\xC3z"), "A\xFF\xC3Z"); // not UTF-8: kept
#endif
    test::TempDir dir;
#ifdef _WIN32
    EXPECT_TRUE(kelvane::placement::FoldsCase(dir.path()));
#else
    EXPECT_FALSE(kelvane::placement::FoldsCase(dir.path()));
#endif
    EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string> {}); // no probe left
}

#ifndef _WIN32 // POSIX paths: "/" joins, "\\" is a character of a name (Windows: tests/windows)
TEST(Paths, SeparatorsAndNativeFolders)
{
    EXPECT_TRUE(paths::IsSeparator('/'));
    EXPECT_TRUE(paths::IsSeparator('\\'));
    EXPECT_FALSE(paths::IsSeparator(':'));
    EXPECT_FALSE(paths::IsSeparator('\0'));

    for (const auto &[folder, native] : {std::pair("D:\\Orvel\\AVIs", "D:/Orvel/AVIs"),
                                         {"\\\\host\\share\\", "//host/share/"},
                                         {"/home/user/clips", "/home/user/clips"},
                                         {"\\root/mixed\\path", "/root/mixed/path"},
                                         {"", ""}})
        EXPECT_EQ(paths::NativeFolder(folder), native) << folder;
}

TEST(Paths, JoinPutsExactlyOneSeparator)
{
    struct
    {
        const char *folder, *name, *joined;
    } const cases[] = {
        {"a", "b", "a/b"},
        {"a/", "b", "a/b"},
        {"a\\", "b", "a/b"},
        {"a//\\", "b", "a/b"},
        {"/src/clips", "take1.avi", "/src/clips/take1.avi"},
        {"/", "b", "/b"},
        {"//", "b", "/b"},
        {"\\", "b", "/b"},
        {"", "b", "/b"},
        {"/x", "", "/x/"},
        {"a\\b", "c", "a\\b/c"}, // inside the folder nothing changes
    };
    for (const auto &c : cases)
        EXPECT_EQ(paths::JoinPath(c.folder, c.name), c.joined)
            << "folder \"" << c.folder << "\" name \"" << c.name << "\"";
}

TEST(Paths, FolderOfEveryKindOfPath)
{
    EXPECT_EQ(paths::FolderOf("a.zip"), "."); // a bare name is in the current folder
    EXPECT_EQ(paths::FolderOf("/a.zip"), "/");
    EXPECT_EQ(paths::FolderOf("out/a.zip"), "out");
    EXPECT_EQ(paths::FolderOf("/srv/out//a.zip"), "/srv/out");
    // On POSIX "\\" is a character of a name, not a level's end.
    EXPECT_EQ(paths::FolderOf("out/a\\b.zip"), "out");
    EXPECT_EQ(paths::BaseNameOf("out/a\\b.zip"), "a\\b.zip");
    EXPECT_EQ(paths::FolderOf("a\\b.zip"), ".");
}
#endif

TEST(CreateDirectoryLevel, CreatesOneLevelOnly)
{
    test::TempDir dir;
    EXPECT_TRUE(folders::CreateDirectoryLevel(dir / "new"));
    EXPECT_TRUE(test::IsDirectory(dir / "new"));
    EXPECT_FALSE(folders::CreateDirectoryLevel(dir / "new")); // exists: fails
    EXPECT_TRUE(test::IsDirectory(dir / "new"));

    EXPECT_FALSE(folders::CreateDirectoryLevel(dir / "missing/child"));
    EXPECT_FALSE(test::FileExists(dir / "missing"));

    test::WriteFile(dir / "file", "x");
    EXPECT_FALSE(folders::CreateDirectoryLevel(dir / "file"));
    EXPECT_EQ(test::ReadFile(dir / "file"), "x");
    EXPECT_FALSE(folders::CreateDirectoryLevel(""));
    EXPECT_FALSE(folders::CreateDirectoryLevel("/"));
}

#ifndef _WIN32 // permission bits, FIFOs and links
struct stat StatOf(const std::string &path)
{
    struct stat info
    { };
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info;
}

TEST(CopyFileNoReplace, CopiesContentModeAndModificationTime)
{
    test::TempDir dir;
    test::MakeDirs(dir / "out");
    // Larger than any single buffer, and not a multiple of one.
    const std::string data = test::RandomBytes((3u << 20) + 12345u, 7);
    test::WriteFile(dir / "old.zip", data);
    ASSERT_EQ(chmod((dir / "old.zip").c_str(), 0751), 0);
    const timespec times[2] = {{1000000000, 0}, {1079343000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "old.zip").c_str(), times, 0), 0);

    ASSERT_TRUE(Copied(dir / "old.zip", dir / "out/old.zip"));
    EXPECT_EQ(test::ReadFile(dir / "out/old.zip"), data);
    EXPECT_EQ(test::ReadFile(dir / "old.zip"), data);
    const struct stat copy = StatOf(dir / "out/old.zip");
    EXPECT_EQ(copy.st_mode & 07777, 0751u);
    EXPECT_EQ(copy.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(copy.st_mtim.tv_nsec, times[1].tv_nsec);
    EXPECT_EQ(test::ListDir(dir / "out"), std::vector<std::string> {"old.zip"});
}
#endif

TEST(CopyFileNoReplace, EmptyAndReadOnlyFiles)
{
    test::TempDir dir;
    test::WriteFile(dir / "empty", "");
    test::WriteFile(dir / "readonly", "keep");
    ASSERT_EQ(chmod((dir / "readonly").c_str(), 0444), 0);
    EXPECT_TRUE(Copied(dir / "empty", dir / "empty.copy"));
    EXPECT_EQ(test::ReadFile(dir / "empty.copy"), "");
    EXPECT_TRUE(Copied(dir / "readonly", dir / "readonly.copy"));
    EXPECT_EQ(test::ReadFile(dir / "readonly.copy"), "keep");
#ifndef _WIN32 // permission bits
    EXPECT_EQ(StatOf(dir / "readonly.copy").st_mode & 07777, 0444u);
#endif
}

TEST(CopyFileNoReplace, NeverReplacesAnExistingTarget)
{
    test::TempDir dir;
    test::WriteFile(dir / "a.zip", "new content");
    test::WriteFile(dir / "target.zip", "old content");
    test::MakeDirs(dir / "folder.zip");
#ifndef _WIN32 // links
    ASSERT_TRUE(test::MakeSymlink("nowhere", dir / "dangling.zip"));
#endif

    EXPECT_EQ(placement::CopyFileNoReplace(dir / "a.zip", dir / "target.zip"),
              std::errc::file_exists);
    EXPECT_EQ(test::ReadFile(dir / "target.zip"), "old content");
    EXPECT_EQ(placement::CopyFileNoReplace(dir / "a.zip", dir / "folder.zip"),
              std::errc::file_exists);
    EXPECT_TRUE(test::ListDir(dir / "folder.zip").empty());
#ifndef _WIN32 // links
    EXPECT_EQ(placement::CopyFileNoReplace(dir / "a.zip", dir / "dangling.zip"),
              std::errc::file_exists);
    EXPECT_FALSE(test::FileExists(dir / "nowhere"));
#endif
    EXPECT_EQ(placement::CopyFileNoReplace(dir / "a.zip", dir / "a.zip"), std::errc::file_exists);
    EXPECT_EQ(test::ReadFile(dir / "a.zip"), "new content");
    EXPECT_EQ(test::TempLeftovers(dir.path()), std::vector<std::string> {});
}

TEST(CopyFileNoReplace, FailsCleanlyOnBadSourcesAndTargets)
{
    test::TempDir dir;
    test::WriteFile(dir / "a.zip", "content");
    test::MakeDirs(dir / "folder");
    test::MakeDirs(dir / "out");

    EXPECT_FALSE(Copied(dir / "missing.zip", dir / "out/missing.zip"));
    EXPECT_FALSE(Copied(dir / "folder", dir / "out/folder"));
    EXPECT_FALSE(Copied(dir / "a.zip", dir / "nofolder/a.zip"));
    EXPECT_FALSE(Copied(dir / "a.zip", dir / "out/"));
    EXPECT_FALSE(Copied("", dir / "out/empty"));
    EXPECT_FALSE(Copied(dir / "a.zip", ""));
    EXPECT_EQ(test::ListDir(dir / "out"), std::vector<std::string> {});
    EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string> {"a.zip", "folder", "out"}));
}

#ifndef _WIN32 // permission bits, FIFOs and links
TEST(CopyFileNoReplace, RefusesAFifoWithoutWaiting)
{
    test::TempDir dir;
    ASSERT_TRUE(test::MakeFifo(dir / "pipe.zip"));
    // Opening a FIFO for reading normally waits for a writer; the test's timeout catches that.
    EXPECT_FALSE(Copied(dir / "pipe.zip", dir / "copy.zip"));
    EXPECT_FALSE(Copied("/dev/null", dir / "null.zip"));
    EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string> {"pipe.zip"});
}

TEST(CopyFileNoReplace, FollowsALinkToAFile)
{
    test::TempDir dir;
    test::WriteFile(dir / "real.zip", "real");
    ASSERT_TRUE(test::MakeSymlink("real.zip", dir / "link.zip"));
    ASSERT_TRUE(Copied(dir / "link.zip", dir / "copy.zip"));
    struct stat info;
    ASSERT_EQ(lstat((dir / "copy.zip").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(test::ReadFile(dir / "copy.zip"), "real");
}
#endif

TEST(CopyFileNoReplace, RelativePathsInTheCurrentFolder)
{
    test::TempDir dir;
    test::WriteFile(dir / "here.zip", "here");
    test::ScopedCurrentDir inside(dir.path());
    EXPECT_TRUE(Copied("here.zip", "there.zip"));
    EXPECT_FALSE(Copied("here.zip", "there.zip"));
    EXPECT_EQ(test::ReadFile(dir / "there.zip"), "here");
    EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string> {"here.zip", "there.zip"}));
}

#ifndef _WIN32 // permission bits, FIFOs and links
TEST(CopyFileNoReplace, UnwritableTargetFolderLeavesNothing)
{
    test::TempDir dir;
    test::WriteFile(dir / "a.zip", "content");
    test::MakeDirs(dir / "locked");
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0555), 0);
    test::WriteFile(dir / "secret.zip", "secret");
    ASSERT_EQ(chmod((dir / "secret.zip").c_str(), 0), 0);
    test::RunUnprivileged(dir.path(), [&] {
        EXPECT_FALSE(Copied(dir / "a.zip", dir / "locked/a.zip"));
        EXPECT_EQ(test::ListDir(dir / "locked"), std::vector<std::string> {});
        EXPECT_FALSE(Copied(dir / "secret.zip", dir / "copy.zip"));
        EXPECT_FALSE(test::FileExists(dir / "copy.zip"));
    });
}
#endif

TEST(CopyFileNoReplace, RacingCopiesToOneNameLeaveOneWholeFile)
{
    test::TempDir dir;
    constexpr int kCopies = 8;
    std::vector<std::string> contents;
    for (int i = 0; i < kCopies; ++i) {
        contents.push_back(test::RandomBytes(300000 + static_cast<std::size_t>(i), i + 1u));
        test::WriteFile(dir / ("source" + std::to_string(i)), contents.back());
    }
    for (int round = 0; round < 5; ++round) {
        const std::string target = dir / ("target" + std::to_string(round) + ".zip");
        std::atomic<int> succeeded {0};
        std::vector<std::thread> threads;
        for (int i = 0; i < kCopies; ++i)
            threads.emplace_back([&, i] {
                if (Copied(dir / ("source" + std::to_string(i)), target))
                    ++succeeded;
            });
        for (std::thread &t : threads)
            t.join();
        EXPECT_EQ(succeeded.load(), 1);
        const std::string result = test::ReadFile(target);
        bool isOneSource = false;
        for (const std::string &content : contents)
            isOneSource = isOneSource || result == content;
        EXPECT_TRUE(isOneSource) << "round " << round << ": " << result.size() << " bytes";
    }
    EXPECT_EQ(test::TempLeftovers(dir.path()), std::vector<std::string> {});
}

TEST(CanOpenForReading, FilesFoldersAndSpecialFiles)
{
    test::TempDir dir;
    test::WriteFile(dir / "file.zip", "x");
    test::MakeDirs(dir / "folder.zip");
#ifndef _WIN32 // FIFOs and links
    ASSERT_TRUE(test::MakeFifo(dir / "fifo.zip"));
    ASSERT_TRUE(test::MakeSymlink("nowhere", dir / "dangling.zip"));
#endif

    EXPECT_TRUE(folders::CanOpenForReading(dir / "file.zip"));
    EXPECT_FALSE(folders::CanOpenForReading(dir / "missing.zip"));
#ifndef _WIN32 // links
    EXPECT_FALSE(folders::CanOpenForReading(dir / "dangling.zip"));
#endif
    EXPECT_FALSE(folders::CanOpenForReading(""));
    // Something is there: it counts as present, and the FIFO answers without a writer.
    EXPECT_TRUE(folders::CanOpenForReading(dir / "folder.zip"));
#ifndef _WIN32 // FIFOs
    EXPECT_TRUE(folders::CanOpenForReading(dir / "fifo.zip"));
#endif
}

#ifndef _WIN32 // permission bits
TEST(CanOpenForReading, UnreadableFile)
{
    test::TempDir dir;
    test::WriteFile(dir / "secret", "x");
    ASSERT_EQ(chmod((dir / "secret").c_str(), 0200), 0);
    test::RunUnprivileged(dir.path(),
                          [&] { EXPECT_FALSE(folders::CanOpenForReading(dir / "secret")); });
}
#endif

} // namespace
