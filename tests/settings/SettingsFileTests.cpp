// Loading and saving "kelvane.ini" on disk: which files are read, and that a save replaces
// the file whole or not at all.

#include "io/IoTesting.h"
#include "settings/SettingsFile.h"
#include "tests/support/IoTrace.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Unprivileged.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif
#include <vector>

using kelvane::FormatSettings;
using kelvane::JobSettings;
using kelvane::LoadSettings;
using kelvane::SaveSettings;
namespace kt = kelvane::test;

namespace {

using Names = std::vector<std::string>;

JobSettings Custom()
{
    JobSettings s;
    s.fileMask = "*.mov ";
    s.sourceFolder = "/srv/takes";
    s.targetFolder = "/srv/archive";
    s.createSubFolder = 0;
    s.useTimestamps = 1;
    return s;
}

#ifndef _WIN32 // permission bits
mode_t ModeOf(const std::string &path)
{
    struct stat st;
    EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
    return st.st_mode & 07777;
}
#endif

class SettingsFile : public ::testing::Test
{
protected:
    kt::TempDir dir;
    kt::ScopedCurrentDir cwd {dir.path()};
    const std::string ini = dir / "kelvane.ini";
};

TEST_F(SettingsFile, FirstSaveWritesTheDefaultsFileAndNothingElse)
{
    SaveSettings(JobSettings {});
    EXPECT_EQ(Names {"kelvane.ini"}, kt::ListDir(dir.path()));
    EXPECT_EQ(FormatSettings(JobSettings {}), kt::ReadFile(ini));
    EXPECT_EQ(178u, kt::ReadFile(ini).size());
}

TEST_F(SettingsFile, SaveThenLoadGivesEveryFieldBack)
{
    JobSettings original = Custom();
    original.targetFolder = std::string(600, 'T');
    original.sourceFolder = std::string(10u << 20, 's'); // a 10 MB line, both ways
    SaveSettings(original);
    JobSettings loaded;
    LoadSettings(loaded);
    EXPECT_EQ(original.fileMask, loaded.fileMask);
    EXPECT_TRUE(original.sourceFolder == loaded.sourceFolder);
    EXPECT_EQ(original.targetFolder, loaded.targetFolder);
    EXPECT_EQ(0, loaded.createSubFolder);
    EXPECT_EQ(1, loaded.useTimestamps);
    EXPECT_EQ(0, loaded.skipConflicts);
}

TEST_F(SettingsFile, SaveReplacesALongerFileAndDropsUnknownKeys)
{
    kt::WriteFile(ini, "EXTRA keep me?\r\n" + std::string(5000, 'z') + "\r\n");
    JobSettings s;
    LoadSettings(s);
    SaveSettings(s);
    EXPECT_EQ(FormatSettings(s), kt::ReadFile(ini));
    EXPECT_EQ(Names {"kelvane.ini"}, kt::ListDir(dir.path()));
}

TEST_F(SettingsFile, EmptyFileGivesEmptyStringsAndSwitchesOn)
{
    kt::WriteFile(ini, "");
    JobSettings s = Custom();
    LoadSettings(s);
    EXPECT_EQ("", s.fileMask);
    EXPECT_EQ("", s.sourceFolder);
    EXPECT_EQ(1, s.createSubFolder);
    EXPECT_EQ(1, s.useTimestamps);
}

TEST_F(SettingsFile, AFileThatCannotBeReadChangesNothing)
{
    JobSettings s = Custom();
    EXPECT_FALSE(kelvane::LoadSettingsFile(ini, s)); // missing
    LoadSettings(s);

    kt::MakeDirs(ini); // a folder under the name
    LoadSettings(s);
    ::rmdir(ini.c_str());

#ifndef _WIN32 // no FIFOs
    ASSERT_EQ(0, ::mkfifo(ini.c_str(), 0666)); // must neither block nor count as empty
    LoadSettings(s);
#endif
    EXPECT_EQ("*.mov ", s.fileMask);
    EXPECT_EQ("/srv/takes", s.sourceFolder);
    EXPECT_EQ(0, s.createSubFolder);
    EXPECT_EQ(1, s.keepIndividual);
}

#ifndef _WIN32 // a file is readable by whoever may write it
TEST_F(SettingsFile, AFileWithoutReadPermissionChangesNothing)
{
    kt::WriteFile(ini, "FILE_MASK *.txt\r\n");
    ::chmod(ini.c_str(), 0200);
    kt::RunUnprivileged(dir.path(), [] {
        JobSettings s = Custom();
        LoadSettings(s);
        EXPECT_EQ("*.mov ", s.fileMask);
    });
}
#endif

TEST_F(SettingsFile, FailedSaveLeavesAFolderUnderTheNameAsItWas)
{
    kt::MakeDirs(ini);
    kt::WriteFile(ini + "/inside", "x");
    EXPECT_FALSE(kelvane::SaveSettingsFile(ini, JobSettings {}));
    SaveSettings(JobSettings {});
    EXPECT_EQ(Names {"kelvane.ini"}, kt::ListDir(dir.path()));
    EXPECT_EQ(Names {"inside"}, kt::ListDir(ini));
}

TEST_F(SettingsFile, SaveIntoAMissingFolderCreatesNothing)
{
    EXPECT_FALSE(kelvane::SaveSettingsFile(dir / "missing/kelvane.ini", JobSettings {}));
    EXPECT_TRUE(kt::ListDir(dir.path()).empty());
}

// A write, the sync of the new file or its rename failing (a full or failing disk), and on
// POSIX the check that the file may be written or the copy of its permissions: the old
// file stays as it was, and nothing else is left.
TEST_F(SettingsFile, SaveThatFailsWhileWritingSyncingOrRenamingKeepsTheOldFile)
{
    const std::string old = "FILE_MASK old\r\n";
    kt::WriteFile(ini, old);
    using kelvane::io::Call;
    std::vector<std::pair<Call, int>> faults {
        {Call::Write, ENOSPC}, {Call::Fsync, EIO}, {Call::Rename, EIO}};
#ifndef _WIN32
    faults.insert(faults.end(), {{Call::Access, EACCES}, {Call::Chmod, EPERM}});
#endif
    for (const auto &[call, error] : faults) {
        SCOPED_TRACE(kelvane::io::CallName(call));
        bool failed = false; // only the first such call fails
        kt::IoTrace hook([&, call = call, error = error](const kelvane::io::CallInfo &info) {
            if (info.call != call || failed)
                return 0;
            failed = true;
            return error;
        });
        EXPECT_FALSE(kelvane::SaveSettingsFile(ini, Custom()));
        EXPECT_TRUE(failed);
        EXPECT_EQ(old, kt::ReadFile(ini));
        EXPECT_EQ(Names {"kelvane.ini"}, kt::ListDir(dir.path()));
    }
}

#ifndef _WIN32 // POSIX permissions and users
// A writable kelvane.ini in a folder the user may not write to (no temporary can be made
// beside it) is saved in place, as a plain save would; one made read-only still is not.
TEST_F(SettingsFile, InAFolderTheUserMayNotWriteOnlyAWritableFileIsSavedInPlace)
{
    const std::string locked = dir / "locked";
    kt::MakeDirs(locked);
    kt::WriteFile(locked + "/kelvane.ini", "FILE_MASK old\r\n");
    kt::WriteFile(locked + "/readonly.ini", "FILE_MASK old\r\n");
    ASSERT_EQ(0, ::chmod((locked + "/readonly.ini").c_str(), 0444));
    ASSERT_EQ(0, ::chmod(locked.c_str(), 0555));

    kt::RunUnprivileged(dir.path(), [&] {
        EXPECT_TRUE(kelvane::SaveSettingsFile(locked + "/kelvane.ini", Custom()))
            << "the writable file was not saved";
        EXPECT_FALSE(kelvane::SaveSettingsFile(locked + "/readonly.ini", Custom()))
            << "the read-only file was replaced";
    });
    ::chmod(locked.c_str(), 0755);
    EXPECT_EQ(FormatSettings(Custom()), kt::ReadFile(locked + "/kelvane.ini"));
    EXPECT_EQ("FILE_MASK old\r\n", kt::ReadFile(locked + "/readonly.ini"));
    EXPECT_EQ((Names {"kelvane.ini", "readonly.ini"}), kt::ListDir(locked));
}
#endif

TEST_F(SettingsFile, AReadOnlyFileIsNotReplaced)
{
    kt::WriteFile(ini, "FILE_MASK old\r\n");
    ::chmod(ini.c_str(), 0444);
    kt::RunUnprivileged(dir.path(), [&] {
        SaveSettings(JobSettings {});
        EXPECT_EQ("FILE_MASK old\r\n", kt::ReadFile(ini));
        EXPECT_EQ(Names {"kelvane.ini"}, kt::ListDir(dir.path()));
    });
}

#ifndef _WIN32 // POSIX permissions and users
TEST_F(SettingsFile, PermissionsOfAnExistingFileAreKept)
{
    kt::WriteFile(ini, "");
    ASSERT_EQ(0, ::chmod(ini.c_str(), 0640));
    SaveSettings(Custom());
    EXPECT_EQ(0640u, ModeOf(ini));
    EXPECT_EQ(FormatSettings(Custom()), kt::ReadFile(ini));
}
#endif

#ifndef _WIN32 // POSIX permissions and users
TEST_F(SettingsFile, ANewFileFollowsTheUmask)
{
    const mode_t previous = ::umask(027);
    SaveSettings(JobSettings {});
    ::umask(previous);
    EXPECT_EQ(0640u, ModeOf(ini));
}
#endif

#ifndef _WIN32 // symbolic links need a privilege there
TEST_F(SettingsFile, SaveWritesThroughASymbolicLink)
{
    kt::MakeDirs(dir / "real");
    kt::WriteFile(dir / "real/settings.ini", "FILE_MASK old\r\n");
    ASSERT_EQ(0, ::chmod((dir / "real/settings.ini").c_str(), 0600));
    ASSERT_EQ(0, ::symlink("real/settings.ini", "kelvane.ini"));
    SaveSettings(Custom());

    char target[256] = {};
    ASSERT_GT(::readlink(ini.c_str(), target, sizeof target - 1), 0); // still a link
    EXPECT_EQ(std::string("real/settings.ini"), target);
    EXPECT_EQ(FormatSettings(Custom()), kt::ReadFile(dir / "real/settings.ini"));
    EXPECT_EQ(0600u, ModeOf(dir / "real/settings.ini"));
    EXPECT_EQ((Names {"kelvane.ini", "real"}), kt::ListDir(dir.path()));
    EXPECT_EQ(Names {"settings.ini"}, kt::ListDir(dir / "real"));

    JobSettings loaded;
    LoadSettings(loaded);
    EXPECT_EQ("/srv/takes", loaded.sourceFolder);
}
#endif

#ifndef _WIN32 // symbolic links need a privilege there
TEST_F(SettingsFile, DanglingAndLoopingLinks)
{
    ASSERT_EQ(0, ::symlink("new.ini", "kelvane.ini"));
    SaveSettings(JobSettings {}); // creates the file the link names
    EXPECT_EQ(FormatSettings(JobSettings {}), kt::ReadFile(dir / "new.ini"));

    ASSERT_EQ(0, ::unlink("kelvane.ini"));
    ASSERT_EQ(0, ::unlink("new.ini"));
    ASSERT_EQ(0, ::symlink("kelvane.ini", "kelvane.ini"));
    EXPECT_FALSE(kelvane::SaveSettingsFile("kelvane.ini", JobSettings {}));
    EXPECT_EQ(Names {"kelvane.ini"}, kt::ListDir(dir.path()));
}
#endif

} // namespace
