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

#ifndef _WIN32 // on Windows a leading "\\" is a network share (tests/windows has its own)
TEST(CreateTargetPathTest, NetworkFormKeepsItsLeadingSeparators)
{
    // "\\tmp\..." becomes "//tmp/...", which POSIX resolves like "/tmp/...": the levels are
    // made where the path points, not under the current folder.
    TempDir tmp;
    TempDir elsewhere;
    FakeWindow window;
    ScopedCurrentDir cd(elsewhere.path());
    const std::string network = "\\" + Backslashed(tmp.path()) + "\\share\\folder";
    CreateTargetPath(window, network);
    EXPECT_TRUE(IsDirectory(tmp / "share/folder"));
    EXPECT_TRUE(ListDir(elsewhere.path()).empty());

    // A failure names the level in that form.
    WriteFile(tmp / "blocker", "a file where a folder should be");
    CreateTargetPath(window, "\\" + Backslashed(tmp.path()) + "\\blocker\\deeper");
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].first, "Unable to create subfolder");
    EXPECT_EQ(window.Messages()[0].second, "/" + tmp.path() + "/blocker/*.*");
}
#endif

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

#ifdef _WIN32
TEST(CreateTargetPathTest, LongPathFormMakesItsLevelsBelowTheVolume)
{
    TempDir tmp;
    FakeWindow window;
    const std::string target = "\\\\?\\" + tmp.path() + "\\a\\b";
    EXPECT_EQ(CreateTargetPath(window, target), "");
    EXPECT_TRUE(IsDirectory(tmp / "a\\b"));
    EXPECT_TRUE(window.Operations().empty());

    WriteFile(tmp / "file", "x");
    EXPECT_EQ(CreateTargetPath(window, "\\\\?\\" + tmp.path() + "\\file\\sub"),
              "\\\\?\\" + tmp.path() + "\\file");
    EXPECT_EQ(window.Operations(),
              std::vector<std::string> {"Message Unable to create subfolder|\\\\?\\" + tmp.path()
                                        + "\\file\\*.*"});
}
#endif

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
