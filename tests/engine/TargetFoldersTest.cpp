#include "engine/TargetFolders.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kelvane::test {
namespace {

std::string Backslashed(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TEST(CreateTargetPathTest, BuildsEveryMissingLevelOfAnAbsolutePath)
{
    TempDir tmp;
    FakeWindow window;
    CreateTargetPath(window, tmp / "a/b/c/d");
    EXPECT_TRUE(IsDirectory(tmp / "a/b/c/d"));
    EXPECT_TRUE(window.Operations().empty());

    // Existing in full: every level passes, nothing is shown.
    CreateTargetPath(window, tmp / "a/b/c/d");
    EXPECT_TRUE(window.Operations().empty());
}

TEST(CreateTargetPathTest, MixedDoubledAndTrailingSeparators)
{
    TempDir tmp;
    FakeWindow window;
    const std::string base = Backslashed(tmp.path()); // "\tmp\kelvane-test-X"
    CreateTargetPath(window, base + "\\x//y\\\\z/\\");
    EXPECT_TRUE(IsDirectory(tmp / "x/y/z"));
    EXPECT_EQ(ListDir(tmp / "x/y/z"), std::vector<std::string> {});
    EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string> {"x"});
    EXPECT_TRUE(window.Operations().empty());
}

#ifndef _WIN32 // on Windows "D:" names a drive, not a folder under the current one
TEST(CreateTargetPathTest, RelativePathsStartInTheCurrentFolder)
{
    TempDir tmp;
    FakeWindow window;
    ScopedCurrentDir cd(tmp.path());
    CreateTargetPath(window, "D:\\Backup/Clips");
    EXPECT_TRUE(IsDirectory(tmp / "D:/Backup/Clips"));
    EXPECT_TRUE(window.Operations().empty());
}

#endif

// A path in a form of its own keeps it: on POSIX "\\tmp\..." (which resolves like "/tmp/..."),
// on Windows "\\?\C:\...". The levels are made where it points, not under the current
// folder, and a failure names the level in that form.
TEST(CreateTargetPathTest, PrefixedFormsKeepTheirPrefix)
{
    TempDir tmp;
    TempDir elsewhere;
    FakeWindow window;
    ScopedCurrentDir cd(elsewhere.path());
#ifdef _WIN32
    const std::string form = "\\\\?\\" + tmp.path(), shown = form;
#else
    const std::string form = "\\" + Backslashed(tmp.path()), shown = "/" + tmp.path();
#endif
    EXPECT_EQ(CreateTargetPath(window, form + "\\share\\folder"), "");
    EXPECT_TRUE(IsDirectory(NativePath(tmp.path() + "/share/folder")));
    EXPECT_TRUE(ListDir(elsewhere.path()).empty());
    EXPECT_TRUE(window.Operations().empty());

    WriteFile(tmp / "blocker", "a file where a folder should be");
    EXPECT_EQ(CreateTargetPath(window, form + "\\blocker\\deeper"), shown + NativePath("/blocker"));
    EXPECT_EQ(window.Operations(),
              std::vector<std::string> {"Message Unable to create subfolder|" + shown
                                        + NativePath("/blocker/*.*")});
}

TEST(CreateTargetPathTest, LevelsStartBelowAShareOrAVolume)
{
    const auto root
        = [](const std::string &path) { return path.substr(0, TargetRootLength(path)); };
#ifdef _WIN32
    EXPECT_EQ(root("\\\\server\\share\\Archive"), "\\\\server\\share");
    EXPECT_EQ(root("\\\\?\\C:\\Clips"), "\\\\?\\C:");
    EXPECT_EQ(root("\\\\.\\C:\\Clips"), "\\\\.\\C:");
    EXPECT_EQ(root("\\\\?\\UNC\\server\\share\\Archive"), "\\\\?\\UNC\\server\\share");
    EXPECT_EQ(root("\\\\?\\unc\\server"), "\\\\?\\unc\\server");
    // An empty card's root holds no entry a search could find: a drive is never searched.
    EXPECT_EQ(root("E:\\Archive"), "E:");
    EXPECT_EQ(root("E:"), "E:");
    EXPECT_EQ(root("E:Archive"), ""); // relative to E:'s current folder
#else
    EXPECT_EQ(root("//server/share/Archive"), "");
    EXPECT_EQ(root("\\\\?\\UNC\\server\\share"), "");
    EXPECT_EQ(root("C:\\Clips"), ""); // a folder "C:" in the current one
#endif
    EXPECT_EQ(root("\\Clips"), "");
    EXPECT_EQ(root("Clips"), "");
}

TEST(CreateTargetPathTest, StopsAtTheFirstLevelThatCannotBeMade)
{
    TempDir tmp;
    FakeWindow window;
    WriteFile(tmp / "file", "x");
    CreateTargetPath(window, tmp / "file/sub/deeper");
    EXPECT_EQ(window.Operations(),
              std::vector<std::string> {"Message Unable to create subfolder|"
                                        + NativePath(tmp.path() + "/file/*.*")});
    EXPECT_FALSE(FileExists(tmp / "file/sub"));
    EXPECT_EQ(ReadFile(tmp / "file"), "x");
}

TEST(CreateTargetPathTest, LongPathsHaveNoLimit)
{
    TempDir tmp;
    FakeWindow window;
    std::string path = tmp.path();
    for (int i = 0; i < 40; ++i)
        path += "/level" + std::to_string(i) + std::string(20, 'x');
    ASSERT_GT(path.size(), 1000u);
    CreateTargetPath(window, path);
    EXPECT_TRUE(IsDirectory(path));
    EXPECT_TRUE(window.Operations().empty());
}

} // namespace
} // namespace kelvane::test
