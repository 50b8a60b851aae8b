// The reader check itself: it must see a damaged archive, or it proves nothing about the
// archives the runs write.

#include "tests/support/ZipReaders.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kelvane::test {
namespace {

class ZipReadersTest : public ::testing::Test
{
protected:
    TempDir tmp;

    void SetUp() override
    {
        if (!HaveTool("7zz") || !HaveTool("unzip") || !HaveTool("python3"))
            GTEST_SKIP() << "the independent readers are not installed";
    }

    // A stored archive made by Python, independent of our writer: "a.txt" and "b.txt".
    std::string MakeZip(const std::string &name)
    {
        const std::string path = tmp / name;
        const std::string command = "python3 -c 'import sys, zipfile\n"
                                    "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
                                    "    z.writestr(\"a.txt\", \"alpha\" * 10)\n"
                                    "    z.writestr(\"b.txt\", \"beta\")' "
            + path;
        EXPECT_EQ(std::system(command.c_str()), 0);
        return path;
    }

    // Replaces the first occurrence of from (same length) in the file.
    static void Patch(const std::string &path, const std::string &from, const std::string &to)
    {
        std::string bytes = ReadFile(path);
        const std::size_t at = bytes.find(from);
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at, from.size(), to);
        WriteFile(path, bytes);
    }
};

TEST_F(ZipReadersTest, SoundArchiveGivesItsEntriesAndNoProblem)
{
    const std::string zip = MakeZip("good.zip");
    const std::vector<ReaderReport> reports = ReadWithAllReaders({zip, zip});
    ASSERT_EQ(reports.size(), 2u);
    for (const ReaderReport &report : reports) {
        EXPECT_EQ(report.problems, std::vector<std::string> {});
        ASSERT_EQ(report.entries.size(), 2u);
        EXPECT_EQ(report.entries[0].name, "a.txt");
        EXPECT_EQ(report.entries[0].size, 50u);
        EXPECT_EQ(report.entries[0].data.substr(0, 10), "alphaalpha");
        EXPECT_EQ(report.entries[0].data.substr(40), "alphaalpha");
        EXPECT_EQ(report.entries[1].data, "beta");
        EXPECT_EQ(report.entries[1].crc, 0x8f910463u) << "CRC-32 of \"beta\"";
    }
}

TEST_F(ZipReadersTest, DamagedDataIsRejectedByEveryReader)
{
    const std::string zip = MakeZip("bad.zip");
    Patch(zip, "beta", "bets"); // stored: the CRC no longer fits
    const std::vector<ReaderReport> reports = ReadWithAllReaders({zip});
    ASSERT_EQ(reports.size(), 1u);
    std::string all;
    for (const std::string &problem : reports[0].problems)
        all += problem + "\n";
    EXPECT_NE(all.find("7zz t rejects"), std::string::npos) << all;
    EXPECT_NE(all.find("unzip -tq rejects"), std::string::npos) << all;
    EXPECT_NE(all.find("zipfile rejects"), std::string::npos) << all;
}

TEST_F(ZipReadersTest, NamesThatDifferBetweenTheHeadersAreAProblem)
{
    const std::string zip = MakeZip("names.zip");
    Patch(zip, "b.txt", "c.txt"); // the local header's name; the directory still says b.txt
    const std::vector<ReaderReport> reports = ReadWithAllReaders({zip});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].problems.empty());
}

TEST_F(ZipReadersTest, FolderSampleIsSortedSpreadAndLeavesStandInsOut)
{
    MakeDirs(tmp / "out/sub");
    const std::string good = MakeZip("model.zip");
    const std::string bytes = ReadFile(good);
    for (int i = 0; i < 30; ++i)
        WriteFile(tmp / ("out/sub/z" + std::to_string(100 + i) + ".zip"), bytes);
    WriteFile(tmp / "out/a.zip", "earlier"); // not an archive: a test's stand-in
    WriteFile(tmp / "out/b.txt", bytes); // an archive, but not by its name

    const std::vector<std::string> all = ZipsIn(tmp / "out", 100);
    ASSERT_EQ(all.size(), 30u);
    EXPECT_EQ(all.front(), tmp / "out/sub/z100.zip");
    const std::vector<std::string> sample = ZipsIn(tmp / "out", 20);
    ASSERT_EQ(sample.size(), 20u);
    EXPECT_EQ(sample.front(), tmp / "out/sub/z100.zip");
    EXPECT_EQ(sample.back(), tmp / "out/sub/z128.zip");
    EXPECT_EQ(ZipsIn(tmp / "out", 20), sample) << "the same sample every time";
    EXPECT_EQ(ExpectFolderReadsAlike(tmp / "out", 5), 5u);
}

} // namespace
} // namespace kelvane::test
