// The settings file's bytes: what a save writes and how a load reads any text.

#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kelvane::ApplySettingsText;
using kelvane::FormatSettings;
using kelvane::JobSettings;

namespace {

using namespace std::string_literals;

// A record whose every field differs from what any text in these tests gives, so that a
// field the reader forgot to set shows.
JobSettings Sentinel()
{
    JobSettings s;
    s.fileMask = s.sourceFolder = s.targetFolder = "untouched";
    s.createSubFolder = s.keepIndividual = s.useTimestamps = s.skipConflicts = s.storePathInZip = 7;
    return s;
}

JobSettings Read(const std::string &text)
{
    JobSettings s = Sentinel();
    ApplySettingsText(text, s);
    return s;
}

// What a text without any of the eight keys gives.
JobSettings Blank()
{
    JobSettings s;
    s.fileMask = s.sourceFolder = s.targetFolder = "";
    s.createSubFolder = s.keepIndividual = s.useTimestamps = s.skipConflicts = s.storePathInZip = 1;
    return s;
}

void ExpectSame(const JobSettings &expected, const JobSettings &actual)
{
    EXPECT_EQ(expected.fileMask, actual.fileMask);
    EXPECT_EQ(expected.sourceFolder, actual.sourceFolder);
    EXPECT_EQ(expected.targetFolder, actual.targetFolder);
    EXPECT_EQ(expected.createSubFolder, actual.createSubFolder);
    EXPECT_EQ(expected.keepIndividual, actual.keepIndividual);
    EXPECT_EQ(expected.useTimestamps, actual.useTimestamps);
    EXPECT_EQ(expected.skipConflicts, actual.skipConflicts);
    EXPECT_EQ(expected.storePathInZip, actual.storePathInZip);
}

TEST(SettingsFormat, DefaultsGiveThe178ByteFile)
{
    const std::string expected = "CREATE_SUB_FOLDER 1\r\n"
                                 "FILE_MASK *.*\r\n"
                                 "KEEP_INDIVIDUAL 1\r\n"
                                 "SKIP_CONFLICTS 0\r\n"
                                 "SOURCE_FOLDER D:\\Orvel\\AVIs\r\n"
                                 "STORE_PATH_IN_ZIP 1\r\n"
                                 "TARGET_FOLDER D:\\Orvel\\AVIs\\Archive\r\n"
                                 "USE_TIMESTAMPS 0\r\n";
    const std::string written = FormatSettings(JobSettings {});
    EXPECT_EQ(178u, written.size());
    EXPECT_EQ(expected, written);
}

TEST(SettingsFormat, AnyNonzeroSwitchIsWrittenAsOne)
{
    JobSettings s;
    s.createSubFolder = -1;
    s.keepIndividual = 0;
    s.useTimestamps = 2;
    s.skipConflicts = INT32_MIN;
    s.storePathInZip = 0;
    s.fileMask = s.sourceFolder = s.targetFolder = "";
    EXPECT_EQ("CREATE_SUB_FOLDER 1\r\nFILE_MASK \r\nKEEP_INDIVIDUAL 0\r\nSKIP_CONFLICTS 1\r\n"
              "SOURCE_FOLDER \r\nSTORE_PATH_IN_ZIP 0\r\nTARGET_FOLDER \r\nUSE_TIMESTAMPS 1\r\n",
              FormatSettings(s));
}

TEST(SettingsFormat, WhatASaveWritesALoadReadsBack)
{
    std::vector<JobSettings> cases(6);
    cases[1].fileMask = "*.avi  \t"; // trailing spaces and tab survive
    cases[1].sourceFolder = cases[1].targetFolder = "";
    cases[2].sourceFolder = std::string(600, 'S'); // longer than the old 511-byte buffer
    cases[2].targetFolder = std::string(600, 'T') + "\\" + std::string(600, 'U');
    cases[3].sourceFolder = "/home/\xe7\x94\xa8\xe6\x88\xb7/\xff\x80\x1b";
    cases[3].fileMask = "a\rb\r"; // a lone CR stays, also right before the line end
    cases[4].createSubFolder = cases[4].keepIndividual = cases[4].storePathInZip = 0;
    cases[5].useTimestamps = cases[5].skipConflicts = 1;
    for (const JobSettings &original : cases) {
        SCOPED_TRACE(original.fileMask + "|" + original.sourceFolder.substr(0, 20));
        ExpectSame(original, Read(FormatSettings(original)));
    }
}

TEST(SettingsFormat, LeadingSpacesOfAValueAreLostOnTheWayBack)
{
    JobSettings s;
    s.sourceFolder = "   /data";
    EXPECT_EQ("/data", Read(FormatSettings(s)).sourceFolder);
}

struct TextCase
{
    const char *name;
    std::string text;
    std::string fileMask;
    std::string sourceFolder;
};

TEST(SettingsRead, LinesKeysAndValues)
{
    const TextCase cases[] = {
        {"CR LF", "FILE_MASK a\r\nSOURCE_FOLDER b\r\n", "a", "b"},
        {"lone LF", "FILE_MASK a\nSOURCE_FOLDER b\n", "a", "b"},
        {"lone CR stays", "FILE_MASK a\rSOURCE_FOLDER b\r\n", "a\rSOURCE_FOLDER b", ""},
        {"CR CR LF", "FILE_MASK a\r\r\nSOURCE_FOLDER b", "a\r", "b"},
        {"0x1A ends the text", "FILE_MASK a\r\n\x1aSOURCE_FOLDER b\r\n", "a", ""},
        {"0x1A inside a line", "FILE_MASK a\x1a b\r\nSOURCE_FOLDER b\r\n", "a", ""},
        {"tab", "FILE_MASK\t*.*\r\n", "\t*.*", ""},
        {"vertical tab ends the key", "FILE_MASK\v*.*\r\n", "\v*.*", ""},
        {"three spaces, two behind", "FILE_MASK   *.*  \r\n", "*.*  ", ""},
        {"inner white space kept", "SOURCE_FOLDER  /a b\t c \r\n", "", "/a b\t c "},
        {"key alone", "FILE_MASK\r\nSOURCE_FOLDER    \r\n", "", ""},
        {"lower-case key", "file_mask *.*\r\n", "", ""},
        {"equals sign", "FILE_MASK=*.*\r\n", "", ""},
        {"key as prefix", "FILE_MASKS *.*\r\nSOURCE_FOLDERx y\r\n", "", ""},
        {"section and comment", "[Settings]\r\n; FILE_MASK x\r\n#FILE_MASK y\r\nFILE_MASK z\r\n",
         "z", ""},
        {"later line wins", "FILE_MASK a\r\nSOURCE_FOLDER b\r\nFILE_MASK c\r\n", "c", "b"},
        {"blank lines", "\r\n\r\n   \r\n\t\nFILE_MASK m\r\n\r\n", "m", ""},
        // The value starts right behind the key, wherever the key stands.
        {"space before key", " FILE_MASK *.*\r\n", "*.*", ""},
        {"tabs before key", "\t\tSOURCE_FOLDER  x\r\n", "", "x"},
        // A NUL ends its line's text and nothing else.
        {"NUL in a line", "FILE_MASK a\0SOURCE_FOLDER x\r\nSOURCE_FOLDER b\r\n"s, "a", "b"},
        {"NUL before a key", "\0FILE_MASK a\r\nSOURCE_FOLDER b\0\0\r\n"s, "", "b"},
        // The last line counts without its line end.
        {"no final line end", "SOURCE_FOLDER b\r\nFILE_MASK a", "a", "b"},
        {"final lone CR", "FILE_MASK a\r", "a\r", ""},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(c.name);
        const JobSettings s = Read(c.text);
        EXPECT_EQ(c.fileMask, s.fileMask);
        EXPECT_EQ(c.sourceFolder, s.sourceFolder);
        EXPECT_EQ("", s.targetFolder);
        EXPECT_EQ(1, s.createSubFolder);
    }
}

TEST(SettingsRead, OnlyExactlyZeroTurnsASwitchOff)
{
    const struct
    {
        std::string value;
        int expected;
    } cases[] = {{"0", 0},  {"   0", 0}, {"", 1},    {"0 ", 1}, {"0\t", 1},
                 {"00", 1}, {"1", 1},    {"yes", 1}, {"-0", 1}, {"0\r", 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE("value [" + c.value + "]");
        const JobSettings s
            = Read("KEEP_INDIVIDUAL " + c.value + "\r\nSKIP_CONFLICTS " + c.value + "\r\n");
        EXPECT_EQ(c.expected, s.keepIndividual);
        EXPECT_EQ(c.expected, s.skipConflicts);
        EXPECT_EQ(1, s.createSubFolder); // missing: on
    }
}

TEST(SettingsRead, MissingKeysGiveEmptyStringsAndSwitchesOn)
{
    ExpectSame(Blank(), Read(""));
    ExpectSame(Blank(), Read("UNKNOWN 0\r\nCREATE_SUB_FOLDER\r\n"));

    JobSettings onlyTimestamps = Blank();
    onlyTimestamps.useTimestamps = 0;
    ExpectSame(onlyTimestamps, Read("USE_TIMESTAMPS 0\r\n"));
    ExpectSame(onlyTimestamps, Read("USE_TIMESTAMPS 0")); // applied without its line end
}

TEST(SettingsRead, LongLinesAreReadWhole)
{
    for (std::size_t length : {511u, 512u, 513u, 1024u, 100000u}) {
        SCOPED_TRACE(length);
        // Text at the old 511-character cut must not turn into a line of its own.
        std::string mask = std::string(501, 'm') + "SOURCE_FOLDER x";
        mask.resize(length - 10, 'm'); // the line "FILE_MASK " + mask is length long
        const JobSettings s = Read("FILE_MASK " + mask + "\r\nTARGET_FOLDER t\r\n");
        EXPECT_EQ(mask, s.fileMask);
        EXPECT_EQ("", s.sourceFolder);
        EXPECT_EQ("t", s.targetFolder);
    }
}

TEST(SettingsRead, TenMegabyteLine)
{
    const std::string big(10u << 20, 'x');
    const JobSettings s
        = Read("SOURCE_FOLDER " + big + "\r\n" + std::string(10u << 20, ' ') + "FILE_MASK *.*");
    EXPECT_EQ(big, s.sourceFolder);
    EXPECT_EQ("*.*", s.fileMask);
}

} // namespace
