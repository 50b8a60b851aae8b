// What Windows asks of its own: "\" between levels, drive letters and UNC shares kept,
// masks that ignore letter case, paths longer than MAX_PATH, files another program holds
// open without sharing, names Windows refuses, the folder lock, and kelvane-batch.exe as a
// program.

#include "folders/FileSystem.h"
#include "io/Win32.h"
#include "placement/Placement.h"
#include "tamsorel/tamsorel.h"
#include "tests/cli/CliTestUtil.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"
#include "tests/windows/WindowsTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace folders = kelvane::folders;
namespace paths = kelvane::paths;
namespace placement = kelvane::placement;
namespace test = kelvane::test;
using kelvane::io::WidePath;
using kelvane::test::IniText;
using kelvane::test::PlainJob;
using kelvane::test::RunProgram;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The names SearchFolder finds, without the dots, in its order.
std::vector<std::string> Found(const std::string &folder, const std::string &mask)
{
    std::vector<std::string> names;
    for (const folders::DirEntry &entry : folders::SearchFolder(folder, mask))
        if (entry.name != "." && entry.name != "..")
            names.push_back(entry.name);
    return names;
}

// The same in byte order.
std::vector<std::string> Names(const std::string &folder, const std::string &mask)
{
    std::vector<std::string> names = Found(folder, mask);
    std::sort(names.begin(), names.end());
    return names;
}

// The names as FindFirstFileW and FindNextFileW report them, without the dots.
std::vector<std::string> SearchOrder(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(WidePath(folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = kelvane::io::Utf8(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

// Packs files (path, stored name) into archive with the DLL's three functions.
bool Pack(const std::string &archive, const std::vector<std::pair<std::string, std::string>> &files,
          std::vector<bool> *added = nullptr)
{
    ArchiveHandle handle = ArchiveOpen(archive.c_str(), 1);
    if (handle == nullptr)
        return false;
    for (const auto &[path, name] : files) {
        const bool ok = ArchiveAddFile(handle, path.c_str(), nullptr, 0, name.c_str());
        if (added)
            added->push_back(ok);
    }
    return ArchiveClose(&handle);
}

TEST(WindowsPaths, BackslashJoinsAndDrivesAndSharesKept)
{
    EXPECT_EQ(paths::kNativeSeparator, '\\');
    EXPECT_EQ(paths::NativeFolder("D:/Orvel/AVIs"), "D:\\Orvel\\AVIs");
    EXPECT_EQ(paths::NativeFolder("//host/share/clips/"), "\\\\host\\share\\clips\\");
    EXPECT_EQ(paths::JoinPath("D:\\Orvel\\AVIs\\", "take1.avi"), "D:\\Orvel\\AVIs\\take1.avi");
    EXPECT_EQ(paths::JoinPath("D:/Orvel", "take1.avi"), "D:/Orvel\\take1.avi");
    EXPECT_EQ(paths::JoinPath("", "take1.avi"), "\\take1.avi"); // the current drive's root

    // The "\\?\" form only where the classic limit would be met, made absolute.
    const std::string shortPath = "C:\\clips\\take1.avi";
    EXPECT_EQ(WidePath(shortPath), L"C:\\clips\\take1.avi");
    const std::string level(100, 'x');
    const std::string longPath = "C:/" + level + "/" + level + "/../" + level + "/" + level;
    EXPECT_EQ(WidePath(longPath),
              kelvane::io::Wide("\\\\?\\C:\\" + level + "\\" + level + "\\" + level));
    EXPECT_EQ(WidePath("\\\\host\\share\\" + level + "\\" + level + "\\" + level),
              kelvane::io::Wide("\\\\?\\UNC\\host\\share\\" + level + "\\" + level + "\\" + level));
}

TEST(WindowsSearch, MasksIgnoreLetterCaseAsWindowsDoes)
{
    test::TempDir dir;
    for (const char *name :
         {"Take1.AVI", "take2.avi", "TAKE2.txt", "README", "\xC3\x89t\xC3\xA9.Avi"})
        test::WriteFile(dir / name, "x");
    EXPECT_EQ(Names(dir.path(), "*.avi"),
              (std::vector<std::string> {"Take1.AVI", "take2.avi", "\xC3\x89t\xC3\xA9.Avi"}));
    EXPECT_EQ(Names(dir.path(), "TAKE?.*"),
              (std::vector<std::string> {"TAKE2.txt", "Take1.AVI", "take2.avi"}));
    EXPECT_EQ(Names(dir.path(), "*.*").size(), 5u) << "README has no dot and still matches";
    EXPECT_EQ(Names(dir.path(), "..\\*"), std::vector<std::string> {}) << "a mask names no level";
    EXPECT_TRUE(folders::MatchMask("*.AVI", "take1.avi"));
}

TEST(WindowsPaths, FoldersAndArchivesPastMaxPath)
{
    test::TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 400) {
        deep += "\\level-" + std::string(40, 'd');
        ASSERT_TRUE(folders::CreateDirectoryLevel(deep)) << deep.size();
    }
    const std::string source = dir / "take1.avi";
    test::WriteFile(source, "frames");
    const std::string copy = paths::JoinPath(deep, "take1.avi");
    ASSERT_FALSE(kelvane::placement::CopyFileNoReplace(source, copy));
    EXPECT_EQ(folders::FileSize(copy), 6u);
    const std::string archive = paths::JoinPath(deep, "take1.zip");
    ASSERT_TRUE(Pack(archive, {{copy, "take1.avi"}}));
    EXPECT_EQ(Names(deep, "*.*"), (std::vector<std::string> {"take1.avi", "take1.zip"}));

    // Read back by the readers after a copy out of the deep folder.
    const std::string nearby = dir / "near.zip";
    ASSERT_FALSE(kelvane::placement::CopyFileNoReplace(archive, nearby));
    test::ExpectReadersAgree(nearby, Entries {{"take1.avi", "frames"}});

    // The test folder's cleanup cannot reach this deep.
    EXPECT_TRUE(DeleteFileW(WidePath(copy).c_str()));
    EXPECT_TRUE(DeleteFileW(WidePath(archive).c_str()));
    for (; deep.size() > dir.path().size(); deep.resize(deep.rfind('\\')))
        EXPECT_TRUE(RemoveDirectoryW(WidePath(deep).c_str())) << deep.size();
}

TEST(WindowsFiles, AFileHeldWithoutSharingIsLeftOutAndTheArchiveStaysWhole)
{
    test::TempDir dir;
    test::WriteFile(dir / "a.txt", "first");
    test::WriteFile(dir / "held.txt", "held");
    test::WriteFile(dir / "b.txt", "second");
    // Another program holds held.txt open and shares it with nobody.
    const HANDLE held = CreateFileW(WidePath(dir / "held.txt").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::vector<bool> added;
    const bool closed
        = Pack(dir / "out.zip",
               {{dir / "a.txt", "a.txt"}, {dir / "held.txt", "held.txt"}, {dir / "b.txt", "b.txt"}},
               &added);
    CloseHandle(held);
    EXPECT_TRUE(closed);
    EXPECT_EQ(added, (std::vector<bool> {true, false, true}));
    test::ExpectReadersAgree(dir / "out.zip", Entries {{"a.txt", "first"}, {"b.txt", "second"}});
}

TEST(WindowsFiles, NamesWindowsRefusesFailWithoutLeavingAnything)
{
    test::TempDir dir;
    test::WriteFile(dir / "a.txt", "first");
    for (const char *name : {"bad|name.zip", "what?.zip", "quote\".zip", "less<more>.zip"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Pack(dir / name, {{dir / "a.txt", "a.txt"}}));
        EXPECT_FALSE(folders::CreateDirectoryLevel(dir / name));
        EXPECT_NE(kelvane::placement::CopyFileNoReplace(dir / "a.txt", dir / name),
                  std::error_code());
    }
    EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string> {"a.txt"});
}

TEST(WindowsFiles, FolderLockExcludesAnotherHolderWhateverThePathsSpelling)
{
    // Held here through one spelling of the folder, taken meanwhile by another thread
    // through another: that one must wait until this hold ends.
    test::TempDir dir;
    std::mutex guard;
    std::vector<std::string> order;
    const auto note = [&](const char *what) {
        const std::lock_guard<std::mutex> hold(guard);
        order.emplace_back(what);
    };
    std::thread other;
    {
        kelvane::placement::FolderLock lock(dir.path());
        other = std::thread([&] {
            kelvane::placement::FolderLock theirs("\\\\?\\" + dir.path() + "\\");
            note("taken by the other");
        });
        Sleep(300);
        note("released");
    }
    other.join();
    EXPECT_EQ(order, (std::vector<std::string> {"released", "taken by the other"}));
}

TEST(WindowsBatch, ReadsItsSettingsInTheCurrentFolderAndPacksInTheSearchOrder)
{
    test::TempDir dir;
    test::MakeDirs(dir / "src");
    // Wine, like NTFS, reports names in an order that ignores letter case, which byte order
    // does not ("B" < "_" < "a"); made out of order, in case a file system keeps that.
    for (const char *name : {"take.D", "take._c", "take.a", "take.B", "take.e"})
        test::WriteFile(dir / "src\\" + name, name);
    const std::vector<std::string> order = SearchOrder(dir / "src");
    ASSERT_EQ(order.size(), 5u);
    EXPECT_EQ(Found(dir / "src", "*.*"), order);

    test::WriteFile(dir / "kelvane.ini", IniText(PlainJob(dir, true)));
    const std::wstring program = kelvane::io::Wide(KELVANE_BATCH_BINARY);
    EXPECT_EQ(RunProgram(program, L"--quiet", dir.path()), 0u);
    Entries entries;
    for (const std::string &name : order)
        entries.emplace_back(name, name);
    test::ExpectReadersAgree(dir / "dst\\take.zip", entries);
    EXPECT_EQ(RunProgram(program, L"--no-such-option", dir.path()), 2u);
    EXPECT_EQ(RunProgram(program, L"--settings missing.ini", dir.path()), 2u);
    if (std::is_sorted(order.begin(), order.end()))
        GTEST_SKIP() << "this file system reports these names in byte order";
}

} // namespace
