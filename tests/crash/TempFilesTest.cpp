// The cleanup of leftover temporary files: what a killed run left is removed, what a live
// writer (another descriptor, thread or process) still holds is kept, and nothing but
// regular files with the prefix is ever touched.

#include "folders/FileSystem.h"
#include "io/Io.h"
#include "placement/Placement.h"
#include "tamsorel/tamsorel.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kelvane::test {
namespace {

using placement::RemoveLeftoverTemps;

const std::string kPrefix = placement::kTempPrefix;

// Holds the writer's lock on a file for as long as it lives, as the writers take it.
class HeldLock
{
public:
    explicit HeldLock(const std::string &path) : fd_(io::Open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        EXPECT_GE(fd_, 0) << path;
        EXPECT_EQ(io::Flock(fd_, LOCK_EX | LOCK_NB), 0) << path;
    }
    ~HeldLock() { io::Close(fd_); }
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;

private:
    int fd_;
};

TEST(RemoveLeftoverTemps, RemovesOnlyUnheldTemporariesWithThePrefix)
{
    TempDir tmp;
    WriteFile(tmp / (kPrefix + "left"), "half an archive");
    WriteFile(tmp / (kPrefix + "a"), "a reservation");
    WriteFile(tmp / (kPrefix + "a.zip"), "its archive");
    WriteFile(tmp / (kPrefix + "held"), "being written");
    // Names that only look alike.
    for (const char *name : {"kelvane-tmp-x", "x.kelvane-tmp-", ".kelvane-tm", "a.txt",
                             ".Kelvane-tmp-x", " .kelvane-tmp-x"})
        WriteFile(tmp / name, "keep");
    {
        HeldLock writer(tmp / (kPrefix + "held"));
        EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 3);
        EXPECT_EQ(ListDir(tmp.path()),
                  (std::vector<std::string> {" .kelvane-tmp-x", ".Kelvane-tmp-x", ".kelvane-tm",
                                             kPrefix + "held", "a.txt", "kelvane-tmp-x",
                                             "x.kelvane-tmp-"}));
        EXPECT_EQ(ReadFile(tmp / (kPrefix + "held")), "being written");
    }
    // The writer is gone (killed): its file is a leftover now.
    EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 1);
    EXPECT_FALSE(FileExists(tmp / (kPrefix + "held")));
    EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 0);
    EXPECT_EQ(ListDir(tmp.path()).size(), 6u);
}

TEST(RemoveLeftoverTemps, AFileWithAnExtensionStaysWhileTheTemporaryItBelongsToIsHeld)
{
    TempDir tmp;
    WriteFile(tmp / (kPrefix + "r"), "");
    WriteFile(tmp / (kPrefix + "r.zip"), "finished, not yet at its name");
    {
        HeldLock reservation(tmp / (kPrefix + "r"));
        EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 0);
        EXPECT_EQ(ReadFile(tmp / (kPrefix + "r.zip")), "finished, not yet at its name");
    }
    EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 2);
    EXPECT_TRUE(ListDir(tmp.path()).empty());
}

// The other process is a fork, and the links and FIFOs are POSIX's: these two are
// POSIX-only.
#ifndef _WIN32
TEST(RemoveLeftoverTemps, AFileHeldByAnotherProcessIsKept)
{
    TempDir tmp;
    const std::string path = tmp / (kPrefix + "child");
    WriteFile(path, "the child writes this");
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(release[1]); // so that the parent's close ends the wait
        const int fd = open(path.c_str(), O_WRONLY);
        const char ok = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = write(ready[1], &ok, 1);
        char byte;
        n = read(release[0], &byte, 1); // until the parent lets go, or dies
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 0);
    EXPECT_TRUE(FileExists(path));
    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(ready[0]);
    EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 1);
    EXPECT_FALSE(FileExists(path));
}

TEST(RemoveLeftoverTemps, LinksFoldersAndFifosWithThePrefixAreLeftAlone)
{
    TempDir tmp;
    MakeDirs(tmp / "elsewhere");
    WriteFile(tmp / "elsewhere/data", "not ours");
    WriteFile(tmp / "plain", "not ours either");
    ASSERT_EQ(symlink((tmp / "elsewhere/data").c_str(), (tmp / (kPrefix + "link")).c_str()), 0);
    ASSERT_EQ(symlink("plain", (tmp / (kPrefix + "relative")).c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (tmp / (kPrefix + "dangling")).c_str()), 0);
    MakeDirs(tmp / (kPrefix + "folder"));
    WriteFile(tmp / (kPrefix + "folder") + "/" + kPrefix + "inner", "one level only");
    ASSERT_EQ(mkfifo((tmp / (kPrefix + "fifo")).c_str(), 0600), 0);
    const std::vector<std::string> before = ListDir(tmp.path());
    EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 0);
    EXPECT_EQ(ListDir(tmp.path()), before);
    EXPECT_EQ(ReadFile(tmp / "elsewhere/data"), "not ours");
    EXPECT_EQ(ReadFile(tmp / "plain"), "not ours either");
    EXPECT_TRUE(FileExists(tmp / (kPrefix + "folder") + "/" + kPrefix + "inner"));
    EXPECT_EQ(RemoveLeftoverTemps(tmp / "missing"), 0);
}
#endif

TEST(RemoveLeftoverTemps, KeepsTheTemporariesOfTheWritersOfThisProgram)
{
    TempDir tmp;
    // A copy's temporary, open as during the copy.
    placement::TempFile copy = placement::TempFile::CreateBeside(tmp / "copy.zip");
    ASSERT_TRUE(copy.IsOpen());
    // An archive of the back end, open with one entry added.
    WriteFile(tmp / "entry.txt", std::string(100000, 'e'));
    ArchiveHandle archive = ArchiveOpen((tmp / "archive.zip").c_str(), 1);
    ASSERT_NE(archive, nullptr);
    ASSERT_TRUE(ArchiveAddFile(archive, (tmp / "entry.txt").c_str(), nullptr, 0, "entry.txt"));

    EXPECT_EQ(RemoveLeftoverTemps(tmp.path()), 0);
    std::size_t temporaries = 0;
    for (const std::string &name : ListDir(tmp.path()))
        temporaries += name.rfind(kPrefix, 0) == 0 ? 1 : 0;
    EXPECT_EQ(temporaries, 2u);

    ASSERT_TRUE(ArchiveClose(&archive));
    const ZipContents zip = ReadZip(tmp / "archive.zip");
    EXPECT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 1u);
    EXPECT_EQ(zip.entries[0].data, std::string(100000, 'e'));
    copy.Discard();
    EXPECT_EQ(ListDir(tmp.path()), (std::vector<std::string> {"archive.zip", "entry.txt"}));
}

// Copies and archives made on one thread while another cleans the folder without pause:
// every one reaches its name complete, and nothing else is left.
TEST(RemoveLeftoverTemps, WritersOnOtherThreadsNeverLoseTheirFiles)
{
    TempDir tmp;
    MakeDirs(tmp / "src");
    MakeDirs(tmp / "out");
    std::string content;
    for (int i = 0; content.size() < 300000; ++i)
        content += "line " + std::to_string(i * 7919 % 100003) + "\n";
    WriteFile(tmp / "src/file.txt", content);
    std::atomic<bool> done {false};
    std::thread cleaner([&] {
        while (!done.load())
            RemoveLeftoverTemps(tmp / "out");
    });
    constexpr int kRounds = 40;
    for (int i = 0; i < kRounds; ++i) {
        const std::string copy = tmp / ("out/copy" + std::to_string(i) + ".txt");
        EXPECT_FALSE(placement::CopyFileNoReplace(tmp / "src/file.txt", copy)) << i;
        const std::string zip = tmp / ("out/archive" + std::to_string(i) + ".zip");
        ArchiveHandle archive = ArchiveOpen(zip.c_str(), i % 2);
        ASSERT_NE(archive, nullptr) << i;
        EXPECT_TRUE(ArchiveAddFile(archive, (tmp / "src/file.txt").c_str(), nullptr, 0, "file.txt"))
            << i;
        EXPECT_TRUE(ArchiveClose(&archive)) << i;
    }
    done = true;
    cleaner.join();
    // The cleaner may have taken a new file in the instant between its creation and its
    // lock (an empty one: the writer then makes another; on a busy machine, many times in
    // a round), but no writer lost anything.
    const std::vector<std::string> names = ListDir(tmp / "out");
    EXPECT_EQ(names.size(), 2u * kRounds);
    for (const std::string &name : names) {
        if (name.rfind("copy", 0) == 0) {
            EXPECT_EQ(ReadFile(tmp / "out/" + name), content) << name;
        } else {
            const ZipContents zip = ReadZip(tmp / "out/" + name);
            EXPECT_TRUE(zip.ok) << name << ": " << zip.error;
            ASSERT_EQ(zip.entries.size(), 1u) << name;
            EXPECT_EQ(zip.entries[0].data, content) << name;
        }
    }
}

} // namespace
} // namespace kelvane::test
