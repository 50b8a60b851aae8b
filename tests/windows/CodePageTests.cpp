// kelvane.ini in the system's ANSI code page and kelvane-batch.exe with any path, run in a
// Chinese locale (code page 936, GBK): Wine takes it from LC_ALL, which the test sets.

#include "settings/SettingsFile.h"
#include "tests/cli/CliTestUtil.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"
#include "tests/windows/WindowsTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace test = kelvane::test;
using kelvane::io::Wide;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

const std::string kRecordingsUtf8 = "\xE5\xBD\x95\xE5\x83\x8F"; // 录像
const std::string kRecordingsGbk = "\xC2\xBC\xCF\xF1"; // 录像 in code page 936
const std::string kOutsideGbk = "\xEB\xB7\x81"; // 뷁, a Korean syllable GBK lacks

class CodePage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), 936u) << "needs LC_ALL=zh_CN.UTF-8 and that locale generated "
                                     "(scripts/bootstrap windows)";
    }
    test::TempDir dir;
    const std::wstring batch = Wide(KELVANE_BATCH_BINARY);
};

TEST_F(CodePage, SettingsFileIsReadAndWrittenInTheSystemCodePage)
{
    test::MakeDirs(dir / kRecordingsUtf8);
    test::WriteFile(dir / (kRecordingsUtf8 + "\\take1.avi"), "frames");
    const std::string settingsFolder = dir / ("settings-" + kOutsideGbk);
    test::MakeDirs(settingsFolder);
    const std::string ini = settingsFolder + "\\kelvane.ini";
    kelvane::JobSettings job = test::PlainJob(dir, true);
    job.sourceFolder = dir / kRecordingsGbk;
    const std::string gbkText = test::IniText(job);
    test::WriteFile(ini, gbkText);

    kelvane::JobSettings settings;
    ASSERT_TRUE(kelvane::LoadSettingsFile(ini, settings));
    EXPECT_EQ(settings.sourceFolder, dir / kRecordingsUtf8);
    std::string why;
    EXPECT_TRUE(kelvane::SaveSettingsFile(ini, settings, &why)) << why;
    EXPECT_EQ(test::ReadFile(ini), gbkText) << "a save gives the same GBK bytes back";

    // A name GBK cannot hold is refused, the field named, and the file stays as it was.
    kelvane::JobSettings outside = settings, emoji = settings;
    outside.targetFolder = dir / kOutsideGbk;
    emoji.fileMask = "\xF0\x9F\x8E\xAC*";
    for (const auto &[field, changed] :
         {std::pair {"target folder", outside}, std::pair {"file name mask", emoji}}) {
        EXPECT_FALSE(kelvane::SaveSettingsFile(ini, changed, &why)) << field;
        EXPECT_NE(why.find(std::string("The ") + field), std::string::npos) << why;
        EXPECT_EQ(test::ReadFile(ini), gbkText);
        EXPECT_EQ(test::ListDir(settingsFolder), std::vector<std::string> {"kelvane.ini"});
    }

    // The batch program finds the folder the file names, through a path GBK cannot hold.
    ASSERT_EQ(test::RunProgram(batch, L"--quiet --settings \"" + Wide(ini) + L"\"", dir.path()),
              0u);
    ASSERT_TRUE(test::FileExists(dir / "dst\\take1.zip")) << "the run found no files";
    test::ExpectReadersAgree(dir / "dst\\take1.zip", Entries {{"take1.avi", "frames"}});
}

TEST_F(CodePage, BatchTakesAnyPathAndWritesUtf8WhenRedirected)
{
    const std::string missing = dir / (kRecordingsUtf8 + "-" + kOutsideGbk + ".ini");
    const std::string output = dir / "output.txt";
    EXPECT_EQ(test::RunProgram(batch, L"--settings \"" + Wide(missing) + L"\"", dir.path(), output),
              2u);
    EXPECT_NE(test::ReadFile(output).find("cannot read settings file '" + missing + "'"),
              std::string::npos)
        << test::ReadFile(output);
}

} // namespace
