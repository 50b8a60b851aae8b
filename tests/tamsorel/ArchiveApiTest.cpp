// The exported interface as the run uses it, checked with independent readers: libarchive,
// Info-ZIP's unzip, Python's zipfile and 7-Zip, and the raw header bytes.

#include "tamsorel/tamsorel.h"
#include "tests/support/RawZip.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <tuple>
#ifdef _WIN32
#include <utime.h>
#else
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

using namespace kelvane::test;
using namespace tamsorel::test;

namespace {

// Archives the given files under their given names (null: derived) and closes.
bool MakeArchive(const std::string &path,
                 const std::vector<std::pair<std::string, const char *>> &files)
{
    ArchiveHandle h = ArchiveOpen(path.c_str(), 0);
    if (!h)
        return false;
    bool ok = true;
    for (const auto &f : files)
        ok = ArchiveAddFile(h, f.first.c_str(), nullptr, 0, f.second) && ok;
    return ArchiveClose(&h) && ok;
}

std::string Python(const std::string &script, const std::string &archive, int *status)
{
    return RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(archive) + " 2>&1",
                      status);
}

// Opens path, where an older file stands, in mode, and adds the file "f" to it.
ArchiveHandle OpenOverOlderFile(const TempDir &dir, const std::string &path, int mode)
{
    WriteFile(dir / "f", "new content");
    WriteFile(path, "older file");
    ArchiveHandle h = ArchiveOpen(path.c_str(), mode);
    EXPECT_TRUE(h && ArchiveAddFile(h, (dir / "f").c_str(), nullptr, 0, "f"));
    return h;
}

// A local time, counted as struct tm counts (years from 1900, months from 0).
struct tm Fields(int year, int mon, int mday, int hour, int min, int sec)
{
    struct tm t
    { };
    t.tm_year = year;
    t.tm_mon = mon;
    t.tm_mday = mday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_isdst = -1;
    return t;
}

std::tuple<int, int, int, int, int, int> Tuple(const struct tm &t)
{
    return {t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

struct tm DosFields(std::uint16_t time, std::uint16_t date)
{
    return Fields((date >> 9) + 80, ((date >> 5) & 15) - 1, date & 31, time >> 11, (time >> 5) & 63,
                  (time & 31) * 2);
}

} // namespace

TEST(ArchiveApiTest, ContentsRoundTripThroughEveryReader)
{
    TempDir dir;
    const std::string text = "hello, archive\nsecond line\n";
    const std::string random = RandomBytes(3 << 20, 7);
    std::string compressible;
    while (compressible.size() < (2 << 20))
        compressible += "take" + std::to_string(compressible.size() % 977) + ".avi\n";
    WriteFile(dir / "empty", "");
    WriteFile(dir / "text.txt", text);
    WriteFile(dir / "random.bin", random);
    WriteFile(dir / "list.txt", compressible);
#ifndef _WIN32 // permission bits
    ASSERT_EQ(::chmod((dir / "text.txt").c_str(), 0640), 0);
#endif

    MakeDirs(dir / "out");
    const std::string archive = dir / "out/all.zip";
    ASSERT_TRUE(MakeArchive(archive,
                            {{dir / "empty", "empty"},
                             {dir / "text.txt", "text.txt"},
                             {dir / "random.bin", "random.bin"},
                             {dir / "list.txt", "list.txt"}}));

    const auto zip = ReadZip(archive);
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 4u);
    EXPECT_EQ(zip.entries[0].name, "empty");
    EXPECT_EQ(zip.entries[0].data, "");
    EXPECT_EQ(zip.entries[1].data, text);
    EXPECT_EQ(zip.entries[2].data, random);
    EXPECT_EQ(zip.entries[3].data, compressible);

    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    EXPECT_FALSE(raw.zip64End);
    for (const auto &e : raw.entries) {
        EXPECT_EQ(e.central.versionMadeBy >> 8, 3) << "made on Unix";
        EXPECT_EQ(e.central.externalAttributes >> 16 & S_IFMT, static_cast<unsigned>(S_IFREG));
        EXPECT_EQ(e.local.crc, e.central.crc);
        EXPECT_EQ(e.local.size32, e.central.size32);
        EXPECT_EQ(e.local.compressedSize32, e.central.compressedSize32);
    }
#ifndef _WIN32 // permission bits
    EXPECT_EQ(raw.entries[1].central.externalAttributes >> 16 & 07777, 0640u);
#endif
    EXPECT_LT(raw.entries[3].central.compressedSize32, compressible.size() / 4) << "deflated";
    // Deflate would not shrink the short text or the noise: both are stored.
    std::vector<int> methods;
    for (const auto &e : raw.entries)
        methods.push_back(e.central.method);
    EXPECT_EQ(methods, (std::vector<int> {0, 0, 0, 8}));

    // 7-Zip, unzip and Python's zipfile (which checks every CRC) accept it and agree.
    const auto reports = ExpectArchivesReadAlike({archive});
    ASSERT_EQ(reports.size(), 1u);
    std::vector<std::pair<std::string, std::uint64_t>> sizes;
    for (const ReaderEntry &e : reports[0].entries)
        sizes.emplace_back(e.name, e.size);
    EXPECT_EQ(
        sizes,
        (std::vector<std::pair<std::string, std::uint64_t>> {{"empty", 0},
                                                             {"text.txt", text.size()},
                                                             {"random.bin", random.size()},
                                                             {"list.txt", compressible.size()}}));
}

#ifndef _WIN32 // "\\" and ":" inside names; Windows paths: tests/windows
TEST(ArchiveApiTest, StoredNamesAreRelativeAndNeverClimbOut)
{
    TempDir dir;
    MakeDirs(dir / "src/sub");
    MakeDirs(dir / "C:");
    WriteFile(dir / "top.txt", "top");
    WriteFile(dir / "src/sub/deep.txt", "deep");
    WriteFile(dir / "src/back\\slash.txt", "backslash");
    WriteFile(dir / "C:/drive.txt", "drive");

    ScopedCurrentDir cwd(dir / "src");
    const std::string archive = dir / "names.zip";
    ASSERT_TRUE(MakeArchive(archive,
                            {
                                {dir / "top.txt", nullptr}, // absolute
                                {"../top.txt", nullptr},
                                {"./sub//./deep.txt", nullptr},
                                {"sub/../sub/deep.txt", nullptr},
                                {"back\\slash.txt", nullptr},
                                {"../C:/drive.txt", nullptr},
                                {"../top.txt", "/abs/given.txt"},
                                {"../top.txt", "..\\..\\up.txt"},
                                {"../top.txt", "C:\\x\\\\y.txt"},
                                {"../top.txt", ""},
                                {"../top.txt", "../.."},
                            }));
    // A path that leaves no name at all is refused.
    ArchiveHandle h = ArchiveOpen((dir / "none.zip").c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(ArchiveAddFile(h, "/", nullptr, 0, nullptr));
    EXPECT_FALSE(ArchiveAddFile(h, "..", nullptr, 0, ".."));
    EXPECT_TRUE(ArchiveClose(&h));

    const std::string absolute = (dir / "top.txt").substr(1);
    // A "\" in a file's own name is a character; a name cleaning makes twice is numbered.
    const std::vector<std::string> expected
        = {absolute,         "top.txt",      "sub/deep.txt",  "sub/sub/deep.txt",
           "back_slash.txt", "C_/drive.txt", "abs/given.txt", ".._.._up.txt",
           "C__x__y.txt",    "top (2).txt",  "top (3).txt"};
    const auto names = ZipNames(archive);
    EXPECT_EQ(names, expected);
    for (const std::string &name : names) {
        EXPECT_NE(name.front(), '/') << name;
        EXPECT_EQ(("/" + name + "/").find("/../"), std::string::npos) << name;
    }
    const auto zip = ReadZip(archive);
    ASSERT_TRUE(zip.ok) << zip.error;
    EXPECT_EQ(zip.entries[4].data, "backslash");
    const auto reports = ExpectArchivesReadAlike({archive, dir / "none.zip"});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[1].entries.empty());
}
#endif

TEST(ArchiveApiTest, Utf8FlagOnlyForNonAsciiUtf8Names)
{
    TempDir dir;
    WriteFile(dir / "f", "x");
    const std::string utf8 = "caf\xc3\xa9 \xe5\xbc\x80\xe5\xa7\x8b.txt";
    const std::string latin1 = "caf\xe9.txt";
    const std::string archive = dir / "u.zip";
    ASSERT_TRUE(MakeArchive(
        archive,
        {{dir / "f", "plain.txt"}, {dir / "f", utf8.c_str()}, {dir / "f", latin1.c_str()}}));
    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    ASSERT_EQ(raw.entries.size(), 3u);
    const bool expectFlag[] = {false, true, false};
    const std::string expectName[] = {"plain.txt", utf8, latin1};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(raw.entries[i].local.flags & 0x800, expectFlag[i] ? 0x800 : 0) << i;
        EXPECT_EQ(raw.entries[i].central.flags & 0x800, expectFlag[i] ? 0x800 : 0) << i;
        EXPECT_EQ(raw.entries[i].central.name, expectName[i]) << "stored as the bytes given";
        EXPECT_EQ(raw.entries[i].local.name, expectName[i]);
    }
    int status = -1;
    const std::string py = Python(
        "import sys, zipfile\nprint(zipfile.ZipFile(sys.argv[1]).namelist()[1])", archive, &status);
    EXPECT_EQ(status, 0) << py;
    EXPECT_EQ(py, utf8 + "\n");
    EXPECT_EQ(ExpectArchivesReadAlike({archive}).size(), 1u);
}

TEST(ArchiveApiTest, ModificationTimeOrGivenTimeIsStored)
{
    TempDir dir;
    WriteFile(dir / "f", "x");
    struct tm copy = Fields(101, 1, 3, 4, 5, 6);
    const std::time_t fileTime = std::mktime(&copy);
#ifdef _WIN32
    struct utimbuf times = {fileTime, fileTime};
    ASSERT_EQ(::utime((dir / "f").c_str(), &times), 0);
#else
    const struct timespec times[2] = {{fileTime, 0}, {fileTime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
#endif

    // Given: 2010-07-39 09:10:12 is normalised to 2010-08-08.
    struct tm given = Fields(110, 6, 39, 9, 10, 12);
    struct tm givenCopy = given;
    const std::time_t givenTime = std::mktime(&givenCopy);

    const std::string archive = dir / "t.zip";
    ArchiveHandle h = ArchiveOpen(archive.c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "f").c_str(), nullptr, 0, "file-time"));
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "f").c_str(), &given, 0, "given-time"));
    EXPECT_TRUE(ArchiveClose(&h));

    const auto zip = ReadZip(archive);
    ASSERT_TRUE(zip.ok) << zip.error;
    EXPECT_EQ(zip.entries[0].mtime, fileTime);
    EXPECT_EQ(zip.entries[1].mtime, givenTime);

    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    const std::time_t expected[] = {fileTime, givenTime};
    const struct tm expectedDos[] = {Fields(101, 1, 3, 4, 5, 6), Fields(110, 7, 8, 9, 10, 12)};
    for (std::size_t i = 0; i < 2; ++i) {
        for (const auto *header : {&raw.entries[i].local, &raw.entries[i].central}) {
            EXPECT_EQ(Tuple(DosFields(header->dosTime, header->dosDate)), Tuple(expectedDos[i]));
            ASSERT_EQ(header->extra.count(0x5455), 1u);
            const std::string &ut = header->extra.at(0x5455);
            ASSERT_EQ(ut.size(), 5u);
            EXPECT_EQ(ut[0], 1) << "modification time only";
            EXPECT_EQ(static_cast<std::int32_t>(LittleEndian(ut, 1, 4)), expected[i]);
        }
    }
    int status = -1;
    const std::string py = Python("import sys, zipfile\nprint([i.date_time for i in "
                                  "zipfile.ZipFile(sys.argv[1]).infolist()])",
                                  archive, &status);
    EXPECT_EQ(py, "[(2001, 2, 3, 4, 5, 6), (2010, 8, 8, 9, 10, 12)]\n");
}

TEST(ArchiveApiTest, NullHandlesDoNothingAndCloseClearsTheHandle)
{
    TempDir dir;
    WriteFile(dir / "f", "x");
    EXPECT_FALSE(ArchiveAddFile(nullptr, (dir / "f").c_str(), nullptr, 0, nullptr));
    EXPECT_FALSE(ArchiveClose(nullptr));
    ArchiveHandle none = nullptr;
    EXPECT_FALSE(ArchiveClose(&none));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ArchiveOpen(nullptr, 0), nullptr);
    EXPECT_EQ(ArchiveOpen("", 0), nullptr);

    ArchiveHandle h = ArchiveOpen((dir / "a.zip").c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(ArchiveAddFile(h, nullptr, nullptr, 0, "name"));
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "f").c_str(), nullptr, 0, nullptr));
    EXPECT_TRUE(ArchiveClose(&h));
    EXPECT_EQ(h, nullptr);
    EXPECT_FALSE(ArchiveClose(&h)) << "a second close finds nothing to do";
    EXPECT_EQ(ZipNames(dir / "a.zip").size(), 1u);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string> {"a.zip", "f"}));
}

TEST(ArchiveApiTest, FailedAddsLeaveAValidArchiveWithTheOtherFiles)
{
    TempDir dir;
    WriteFile(dir / "a.txt", "first");
    WriteFile(dir / "b.txt", "second");
    MakeDirs(dir / "folder");
#ifndef _WIN32 // no FIFOs
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
#endif

    const std::string archive = dir / "out.zip";
    ArchiveHandle h = ArchiveOpen(archive.c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "a.txt").c_str(), nullptr, 0, "a.txt"));
    EXPECT_FALSE(ArchiveAddFile(h, (dir / "missing").c_str(), nullptr, 0, "missing"));
#ifndef _WIN32 // no FIFOs
    EXPECT_FALSE(ArchiveAddFile(h, (dir / "fifo").c_str(), nullptr, 0, "fifo"))
        << "no writer: must not block";
#endif
    EXPECT_FALSE(ArchiveAddFile(h, (dir / "folder").c_str(), nullptr, 0, "folder"));
#ifndef _WIN32 // devices and permission bits (a file locked by another process: tests/windows)
    EXPECT_FALSE(ArchiveAddFile(h, "/dev/zero", nullptr, 0, "zero")) << "endless device";
    if (::geteuid() != 0) { // root reads anything
        WriteFile(dir / "locked", "secret");
        ASSERT_EQ(::chmod((dir / "locked").c_str(), 0), 0);
        EXPECT_FALSE(ArchiveAddFile(h, (dir / "locked").c_str(), nullptr, 0, "locked"));
    }
#endif
    // Its own temporary file would grow as fast as it is read.
    const std::vector<std::string> temps = TempLeftovers(dir.path());
    ASSERT_EQ(temps.size(), 1u);
    EXPECT_FALSE(ArchiveAddFile(h, temps[0].c_str(), nullptr, 0, "itself"));
    // A name longer than a zip header can hold.
    EXPECT_FALSE(
        ArchiveAddFile(h, (dir / "a.txt").c_str(), nullptr, 0, std::string(70000, 'n').c_str()));
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "b.txt").c_str(), nullptr, 0, "b.txt"));
    EXPECT_TRUE(ArchiveClose(&h));

    const auto zip = ReadZip(archive);
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 2u);
    EXPECT_EQ(zip.entries[0].data, "first");
    EXPECT_EQ(zip.entries[1].data, "second");
    EXPECT_EQ(ExpectArchivesReadAlike({archive}).size(), 1u);
}

TEST(ArchiveApiTest, OpenFailsForMissingFolderAndUnknownModes)
{
    TempDir dir;
    EXPECT_EQ(ArchiveOpen((dir / "missing/x.zip").c_str(), 0), nullptr);
    EXPECT_EQ(ArchiveOpen((dir / "x.zip").c_str(), 2), nullptr);
    EXPECT_EQ(ArchiveOpen((dir / "x.zip").c_str(), -1), nullptr);
    EXPECT_TRUE(ListDir(dir.path()).empty()) << "nothing created, no temporary left";
}

TEST(ArchiveApiTest, ArchiveAppearsOnlyAtCloseAndReplacesAnOlderFile)
{
    TempDir dir;
    const std::string archive = dir / "x.zip";
    ArchiveHandle h = OpenOverOlderFile(dir, archive, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ReadFile(archive), "older file") << "untouched until the close";
    EXPECT_FALSE(TempLeftovers(dir.path()).empty());
    EXPECT_TRUE(ArchiveClose(&h));

    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string> {"f", "x.zip"}));
    const auto zip = ReadZip(archive);
    ASSERT_TRUE(zip.ok) << zip.error;
    EXPECT_EQ(zip.entries.at(0).data, "new content");

    // The archive gets the permissions of any new file, not those of a private temporary.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st
    { };
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);

    // Relative paths place the temporary in the current folder, beside the archive.
    ScopedCurrentDir cwd(dir.path());
    h = ArchiveOpen("rel.zip", 0);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(TempLeftovers(dir.path()).empty());
    EXPECT_TRUE(ArchiveClose(&h));
    EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});
    // libarchive's seekable zip reader does not recognise an archive without entries (nor
    // one made by Python): the other readers judge the empty archive.
    const auto reports = ExpectArchivesReadAlike({archive, dir / "rel.zip"});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[1].entries.empty());
}

TEST(ArchiveApiTest, NoReplaceModeLeavesAnOlderFileAndFails)
{
    TempDir dir;
    const std::string older = dir / "older.zip";
    ArchiveHandle h = OpenOverOlderFile(dir, older, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(ArchiveClose(&h));
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(ReadFile(older), "older file");
    EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});

    const std::string fresh = dir / "fresh.zip";
    h = ArchiveOpen(fresh.c_str(), 1);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "f").c_str(), nullptr, 0, "f"));
    EXPECT_TRUE(ArchiveClose(&h));
    EXPECT_EQ(ZipNames(fresh), (std::vector<std::string> {"f"}));
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string> {"f", "fresh.zip", "older.zip"}));
}

TEST(ArchiveApiTest, FailedPlacementRemovesTheTemporary)
{
    TempDir dir;
    WriteFile(dir / "f", "content");
    MakeDirs(dir / "taken.zip/inside");
    ArchiveHandle h = ArchiveOpen((dir / "taken.zip").c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "f").c_str(), nullptr, 0, "f"));
    EXPECT_FALSE(ArchiveClose(&h)) << "a folder is in the way";
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});
    EXPECT_TRUE(kelvane::test::IsDirectory(dir / "taken.zip/inside"));
}

#ifndef _WIN32 // file size limits and death tests are POSIX-only
// Runs in a child process under a file size limit: adds the files in turn until an add
// fails (the first one must not), then closes. 0 when the close failed as it should.
int AddUnderFileSizeLimit(const std::string &dir, rlim_t bytes,
                          const std::vector<std::string> &files)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ArchiveHandle h = ArchiveOpen((dir + "/x.zip").c_str(), 0);
    if (!h)
        return 16;
    int code = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string entry = "e" + std::to_string(i);
        if (!ArchiveAddFile(h, (dir + "/" + files[i]).c_str(), nullptr, 0, entry.c_str())) {
            code |= i == 0 ? 1 : 0;
            break;
        }
    }
    if (ArchiveClose(&h) || h)
        code |= 8;
    return code;
}

// A full disk, made real with a file size limit in a child process: whichever add or thread
// meets it, the close reports failure, removes the temporary and leaves the older file.
// The big file is read in full, so its add may succeed and the limit be met later on
// another thread; the eight parts each fit, only together they do not, on a worker thread.
TEST(ArchiveApiDeathTest, WriteErrorFailsTheAddAndTheClose)
{
    TempDir dir;
    WriteFile(dir / "small", "small");
    WriteFile(dir / "big", RandomBytes(3 << 20, 9));
    WriteFile(dir / "part", RandomBytes(600 << 10, 70));
    const std::pair<rlim_t, std::vector<std::string>> cases[]
        = {{1 << 20, {"small", "big", "small"}}, {2 << 20, std::vector<std::string>(8, "part")}};
    for (const auto &[bytes, files] : cases) {
        WriteFile(dir / "x.zip", "older file");
        EXPECT_EXIT(std::_Exit(AddUnderFileSizeLimit(dir.path(), bytes, files)),
                    ::testing::ExitedWithCode(0), "");
        EXPECT_EQ(ReadFile(dir / "x.zip"), "older file");
        EXPECT_EQ(TempLeftovers(dir.path()), std::vector<std::string> {});
    }
}
#endif

TEST(ArchiveApiTest, IndependentArchivesAtOnce)
{
    TempDir dir;
    WriteFile(dir / "f1", "one");
    WriteFile(dir / "f2", "two");
    ArchiveHandle a = ArchiveOpen((dir / "a.zip").c_str(), 0);
    ArchiveHandle b = ArchiveOpen((dir / "b.zip").c_str(), 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(ArchiveAddFile(a, (dir / "f1").c_str(), nullptr, 0, "f1"));
    EXPECT_TRUE(ArchiveAddFile(b, (dir / "f2").c_str(), nullptr, 0, "f2"));
    EXPECT_TRUE(ArchiveAddFile(a, (dir / "f2").c_str(), nullptr, 0, "f2"));
    EXPECT_TRUE(ArchiveClose(&b));
    EXPECT_TRUE(ArchiveClose(&a));
    EXPECT_EQ(ZipNames(dir / "a.zip"), (std::vector<std::string> {"f1", "f2"}));
    EXPECT_EQ(ZipNames(dir / "b.zip"), (std::vector<std::string> {"f2"}));
    EXPECT_EQ(ExpectArchivesReadAlike({dir / "a.zip", dir / "b.zip"}).size(), 2u);
}

TEST(ArchiveApiTest, MoreThan65535EntriesUseZip64Records)
{
    TempDir dir;
    WriteFile(dir / "tiny", "t");
    const int count = 70000;
    const std::string archive = dir / "many.zip";
    ArchiveHandle h = ArchiveOpen(archive.c_str(), 0);
    ASSERT_NE(h, nullptr);
    char name[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "d/n%05d.txt", i);
        ASSERT_TRUE(ArchiveAddFile(h, (dir / "tiny").c_str(), nullptr, 0, name)) << i;
    }
    ASSERT_TRUE(ArchiveClose(&h));

    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    EXPECT_TRUE(raw.zip64End);
    EXPECT_EQ(raw.entryCount, static_cast<std::uint64_t>(count));

    const auto names = ZipNames(archive);
    ASSERT_EQ(names.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "d/n%05d.txt", i);
        ASSERT_EQ(names[static_cast<std::size_t>(i)], name);
    }

    int status = -1;
    const std::string py = Python(R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
assert names == ['d/n%05d.txt' % i for i in range(70000)], len(names)
assert z.testzip() is None
print(len(names))
)",
                                  archive, &status);
    EXPECT_EQ(status, 0) << py;
    EXPECT_EQ(py, "70000\n");
    EXPECT_EQ(UnzipTest(archive), "");
}
