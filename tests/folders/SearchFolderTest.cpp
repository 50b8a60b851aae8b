#include "folders/FileSystem.h"
#include "tests/folders/FoldersTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

using kelvane::folders::DirEntry;
using kelvane::folders::SearchFolder;
namespace test = kelvane::test;

namespace {

using Listing = std::vector<std::pair<std::string, bool>>;

Listing Search(const std::string &folder, const std::string &mask)
{
    Listing listing;
    for (const DirEntry &entry : SearchFolder(folder, mask))
        listing.emplace_back(entry.name, entry.isDirectory);
    return listing;
}

#ifndef _WIN32 // names that differ only in case; Windows folds case (tests/windows)
TEST(SearchFolder, ReportsDotsFoldersAndFilesInUnsignedByteOrder)
{
    test::TempDir dir;
    for (const char *name : {"b", "B", "a", "\xC3\xA9t\xC3\xA9", "_x", "Z", "~", "a.txt"})
        test::WriteFile(dir / name, "data");
    test::MakeDirs(dir / "sub");
    test::MakeDirs(dir / "Sub");
    const Listing expected
        = {{".", true},  {"..", true},  {"B", false}, {"Sub", true},
           {"Z", false}, {"_x", false}, {"a", false}, {"a.txt", false},
           {"b", false}, {"sub", true}, {"~", false}, {"\xC3\xA9t\xC3\xA9", false}};
    EXPECT_EQ(Search(dir.path(), "*.*"), expected);
    EXPECT_EQ(Search(dir.path(), "*"), expected);
}
#endif

#ifndef _WIN32 // names that differ only in case; Windows folds case (tests/windows)
TEST(SearchFolder, OnlyNamesThatMatchTheMask)
{
    test::TempDir dir;
    test::WriteFile(dir / "take1.avi", "1");
    test::WriteFile(dir / "take1.txt", "2");
    test::WriteFile(dir / "take2.AVI", "3");
    test::MakeDirs(dir / "folder.avi");
    EXPECT_EQ(Search(dir.path(), "*.avi"), (Listing {{"folder.avi", true}, {"take1.avi", false}}));
    EXPECT_EQ(Search(dir.path(), "take?.*"),
              (Listing {{"take1.avi", false}, {"take1.txt", false}, {"take2.AVI", false}}));
    EXPECT_EQ(Search(dir.path(), "nothing*"), Listing {});
    EXPECT_EQ(Search(dir.path(), ""), Listing {});
}
#endif

#ifndef _WIN32 // links, FIFOs, sockets, devices and permission bits
TEST(SearchFolder, LinksCountAsWhatTheyPointTo)
{
    test::TempDir dir;
    test::WriteFile(dir / "file", "x");
    test::MakeDirs(dir / "folder");
    ASSERT_TRUE(test::MakeSymlink("file", dir / "linkToFile"));
    ASSERT_TRUE(test::MakeSymlink(dir / "folder", dir / "linkToFolder"));
    ASSERT_TRUE(test::MakeSymlink("linkToFile", dir / "linkToLink"));
    ASSERT_TRUE(test::MakeSymlink("missing", dir / "dangling"));
    ASSERT_TRUE(test::MakeSymlink("loopB", dir / "loopA"));
    ASSERT_TRUE(test::MakeSymlink("loopA", dir / "loopB"));
    ASSERT_TRUE(test::MakeSymlink("self", dir / "self"));
    ASSERT_TRUE(test::MakeSymlink("/dev/null", dir / "linkToDevice"));
    EXPECT_EQ(Search(dir.path(), "*"),
              (Listing {{".", true},
                        {"..", true},
                        {"file", false},
                        {"folder", true},
                        {"linkToFile", false},
                        {"linkToFolder", true},
                        {"linkToLink", false}}));
}
#endif

#ifndef _WIN32 // links, FIFOs, sockets, devices and permission bits
TEST(SearchFolder, LeavesOutFifosAndSockets)
{
    test::TempDir dir;
    test::WriteFile(dir / "plain", "x");
    ASSERT_TRUE(test::MakeFifo(dir / "fifo"));
    ASSERT_TRUE(test::MakeSocketFile(dir / "socket"));
    ASSERT_TRUE(test::MakeSymlink("fifo", dir / "linkToFifo"));
    EXPECT_EQ(Search(dir.path(), "*"), (Listing {{".", true}, {"..", true}, {"plain", false}}));
}
#endif

#ifndef _WIN32 // links, FIFOs, sockets, devices and permission bits
TEST(SearchFolder, LeavesOutDevices)
{
    // /dev holds character devices (null, zero) that must not be reported.
    for (const DirEntry &entry : SearchFolder("/dev", "*")) {
        EXPECT_NE(entry.name, "null");
        EXPECT_NE(entry.name, "zero");
    }
    ASSERT_EQ(Search("/dev", "."), (Listing {{".", true}}));
}
#endif

TEST(SearchFolder, FolderThatCannotBeReadGivesNothing)
{
    test::TempDir dir;
    test::WriteFile(dir / "file", "x");
    EXPECT_EQ(Search(dir / "missing", "*"), Listing {});
    EXPECT_EQ(Search(dir / "file", "*"), Listing {});
    EXPECT_EQ(Search(dir / "missing/deeper", "*.*"), Listing {});
}

#ifndef _WIN32 // links, FIFOs, sockets, devices and permission bits
TEST(SearchFolder, FolderWithoutReadPermissionGivesNothing)
{
    test::TempDir dir;
    test::MakeDirs(dir / "locked");
    test::WriteFile(dir / "locked/file", "x");
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0300), 0);
    test::RunUnprivileged(dir.path(), [&] { EXPECT_EQ(Search(dir / "locked", "*"), Listing {}); });
}
#endif

#ifndef _WIN32 // the root is "/" here; Windows' is the current drive's (tests/windows)
TEST(SearchFolder, TrailingSeparatorAndEmptyFolder)
{
    test::TempDir dir;
    test::WriteFile(dir / "file", "x");
    EXPECT_EQ(Search(dir.path() + "/", "f*"), (Listing {{"file", false}}));
    EXPECT_EQ(Search(dir.path() + "//", "f*"), (Listing {{"file", false}}));
    // An empty folder is the root, as JoinPath("", name) is "/name".
    const Listing root = Search("/", "*");
    EXPECT_EQ(Search("", "*"), root);
    EXPECT_NE(root, Listing {});
}
#endif

TEST(SearchFolder, ResultIsASnapshot)
{
    test::TempDir dir;
    test::WriteFile(dir / "first", "x");
    const std::vector<DirEntry> before = SearchFolder(dir.path(), "*");
    test::WriteFile(dir / "second", "y");
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[2].name, "first");
    EXPECT_EQ(SearchFolder(dir.path(), "*").size(), 4u);
}

TEST(SearchFolder, ManyEntriesAllReportedAndSorted)
{
    test::TempDir dir;
    std::vector<std::string> names;
    for (int i = 2999; i >= 0; --i) {
        names.push_back("f" + std::to_string(i));
        test::WriteFile(dir / names.back(), "");
    }
    const std::vector<DirEntry> found = SearchFolder(dir.path(), "f*");
    ASSERT_EQ(found.size(), names.size());
#ifndef _WIN32 // Windows keeps the order of its search (tests/windows)
    for (std::size_t i = 1; i < found.size(); ++i)
        EXPECT_LT(found[i - 1].name, found[i].name);
#endif
}

} // namespace
