#include "tamsorel/EntryName.h"

#include <gtest/gtest.h>

using tamsorel::NeedsUtf8Flag;
using tamsorel::StoredName;

TEST(StoredNameTest, DerivedFromDiskPathIsRelativeAndNeverClimbsOut)
{
    const struct
    {
        const char *diskPath;
        const char *expected;
    } cases[] = {
        {"/home/user/clips/take1.avi", "home/user/clips/take1.avi"},
        {"clips/take1.avi", "clips/take1.avi"},
        {"../../etc/passwd", "etc/passwd"},
        {"a/../../b/./c.txt", "a/b/c.txt"},
        {"./x.txt", "x.txt"},
        // The folder part takes both separators; in the file's own name (after the last
        // "/") a "\" is a character, stored as "_", never a level nor a way up.
        {"D:\\Orvel\\AVIs/take1.avi", "Orvel/AVIs/take1.avi"},
#ifdef _WIN32 // where a backslash separates levels in every part of a path
        {"/src/..\\evil.txt", "src/evil.txt"},
        {"/src/a\\b.txt", "src/a/b.txt"},
        {"C:\\Video\\take1.avi", "Video/take1.avi"},
#else
        {"/src/..\\evil.txt", "src/.._evil.txt"},
        {"/src/a\\b.txt", "src/a_b.txt"},
        {"C:\\Video\\take1.avi", "C__Video_take1.avi"},
#endif
        {"c:/Video/take1.avi", "Video/take1.avi"},
        // A colon that would make a drive-relative name is neutralised, not dropped, so
        // "c:d.txt" can never collide with "d.txt".
        {"C:take1.avi", "C_take1.avi"},
        {"\\C:/Windows/x", "C_/Windows/x"},
        {"../C:/x", "C_/x"},
        {"C:C:x", "C_C:x"},
        {"\\\\host\\share/f.txt", "host/share/f.txt"},
        {"//a///b\\\\c//", "a/b/c"},
        {"mixed\\sep/name.txt", "mixed/sep/name.txt"},
        {"dir/a:b.txt", "dir/a:b.txt"}, // a colon past the first level is an ordinary byte
        {"1:/x", "1:/x"}, // only a letter makes a drive
    };
    for (const auto &c : cases)
        EXPECT_EQ(StoredName(c.diskPath, nullptr), c.expected) << c.diskPath;
}

// A given entry name is cleaned the same way; one that cleans to nothing falls back to the
// file's own bare name, and with no usable name anywhere the add must fail rather than
// store an empty name.
TEST(StoredNameTest, GivenEntryNameIsCleanedOrFallsBackToTheBareName)
{
    const struct
    {
        const char *diskPath;
        const char *given;
        const char *expected;
    } cases[] = {
        {"/src/take1.avi", "take1.avi", "take1.avi"},
        {"/src/take1.avi", "/abs/name.avi", "abs/name.avi"},
#ifdef _WIN32
        {"/src/take1.avi", "../..\\up.avi", "up.avi"},
        {"/src/a\\b.txt", "..", "b.txt"},
#else
        {"/src/take1.avi", "../..\\up.avi", ".._up.avi"},
        {"/src/a\\b.txt", "..", "a_b.txt"},
#endif
        {"/src/take1.avi", "D:\\x\\\\y/z.avi", "x/y/z.avi"},
        {"/src/take1.avi", "sub/./name.avi/", "sub/name.avi"},
        {"/src/take1.avi", "", "take1.avi"},
        {"/src/take1.avi", "../..", "take1.avi"},
        {"C:\\src/take1.avi", "/", "take1.avi"},
        {"/", nullptr, ""},
        {"../..", "..", ""},
        {"C:", nullptr, ""},
        {nullptr, "x", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StoredName(c.diskPath, c.given), c.expected)
            << (c.diskPath ? c.diskPath : "(null)") << " " << (c.given ? c.given : "(null)");
}

TEST(Utf8FlagTest, OnlyForWellFormedNonAsciiNames)
{
    EXPECT_FALSE(NeedsUtf8Flag("plain.txt"));
    EXPECT_FALSE(NeedsUtf8Flag(""));
    EXPECT_TRUE(NeedsUtf8Flag("caf\xc3\xa9.txt")); // é
    EXPECT_TRUE(NeedsUtf8Flag("\xe5\xbc\x80\xe5\xa7\x8b")); // 开始
    EXPECT_TRUE(NeedsUtf8Flag("\xf0\x9f\x8e\xac.avi")); // U+1F3AC
    EXPECT_FALSE(NeedsUtf8Flag("caf\xe9.txt")); // Latin-1 byte
    EXPECT_FALSE(NeedsUtf8Flag("\xc3")); // cut short
    EXPECT_FALSE(NeedsUtf8Flag("\xc0\xaf")); // overlong "/"
    EXPECT_FALSE(NeedsUtf8Flag("\xe0\x80\xaf")); // overlong, three bytes
    EXPECT_FALSE(NeedsUtf8Flag("\xed\xa0\x80")); // UTF-16 surrogate
    EXPECT_FALSE(NeedsUtf8Flag("\xf4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(NeedsUtf8Flag("\x80x")); // stray continuation byte
    EXPECT_FALSE(NeedsUtf8Flag("\xc3\xa9\xff")); // good, then bad
}

TEST(StoredNamesTest, EveryNameTakenStaysTakenAsTheSetGrows)
{
    tamsorel::StoredNames names;
    const auto name = [](int i) { return "clip" + std::to_string(i) + ".avi"; };
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(names.Unique(name(i)), name(i));
        names.Take(name(i));
    }
    names.Take(std::string(70000, 'x')); // longer than a block of names
    for (int i = 0; i < 20000; i += 7)
        EXPECT_EQ(names.Unique(name(i)), "clip" + std::to_string(i) + " (2).avi");
    EXPECT_EQ(names.Unique(std::string(70000, 'x')), std::string(70000, 'x') + " (2)");
    EXPECT_EQ(names.Unique("clip20000.avi"), "clip20000.avi");
}
