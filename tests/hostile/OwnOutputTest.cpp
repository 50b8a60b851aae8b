// The target folder equal to the source folder or inside it. A run must never take its
// own output as input while it writes it, and a later run that finds an earlier run's
// archives among the source files treats them as the user's zip files: it never loses
// a byte of them nor makes an archive that holds itself.

#include "tests/hostile/HostileRun.h"

#include <map>

namespace kelvane::test {
namespace {

class OwnOutputTest : public HostileRun
{
protected:
    // Every file of a folder with its content.
    static std::map<std::string, std::string> Snapshot(const std::string &folder)
    {
        std::map<std::string, std::string> files;
        for (const std::string &name : ListDir(folder)) {
            if (!IsDirectory(folder + "/" + name))
                files[name] = ReadFile(folder + "/" + name);
        }
        return files;
    }

    static bool EndsWithZip(const std::string &name)
    {
        return name.size() >= 4 && name.compare(name.size() - 4, 4, ".zip") == 0;
    }

    // Every archive in the folder is whole for every reader, and none holds an entry
    // with its own name and its own bytes.
    static void ExpectSoundArchives(const std::string &folder,
                                    const std::map<std::string, std::string> &userZips)
    {
        for (const auto &[name, bytes] : Snapshot(folder)) {
            if (!EndsWithZip(name) || userZips.count(name))
                continue;
            SCOPED_TRACE(name);
            const PythonView view = PythonRead(folder + "/" + name);
            EXPECT_EQ(view.error, "");
            for (const auto &[entry, data] : view.entries)
                EXPECT_FALSE(entry == name && data == bytes) << "archive holds itself";
            ExpectReadersAgree(folder + "/" + name, view.entries);
        }
    }

    // Every byte that was in the folder is in it still: as the same file, or as an entry
    // of the same name in one of the archives there.
    static void ExpectNothingLost(const std::string &folder,
                                  const std::map<std::string, std::string> &before)
    {
        const std::map<std::string, std::string> now = Snapshot(folder);
        for (const auto &[name, bytes] : before) {
            const auto same = now.find(name);
            if (same != now.end() && same->second == bytes)
                continue;
            bool kept = false;
            for (const auto &[zip, zipBytes] : now) {
                if (!EndsWithZip(zip))
                    continue;
                for (const auto &[entry, data] : PythonRead(folder + "/" + zip).entries)
                    kept = kept || (entry == name && data == bytes);
            }
            EXPECT_TRUE(kept) << name << " is gone";
        }
    }
};

TEST_F(OwnOutputTest, PerNameRunsIntoTheSourceFolderTwice)
{
    window.settings.keepIndividual = 1;
    window.settings.targetFolder = src;
    for (const char *name : {"a.txt", "a.doc", "b.txt", "user.zip"})
        Source(name);
    const auto original = Snapshot(src);

    // The user's zip file is already where its copy would go: a conflict.
    FakeWindow &first = Run();
    EXPECT_EQ(first.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});
    ExpectReadersAgree(src + "/a.zip", Expected({"a.doc", "a.txt"}));
    ExpectReadersAgree(src + "/b.zip", Expected({"b.txt"}));
    ExpectReadersAgree(src + "/conflict.zip", Expected({"user.zip"}));
    const auto afterFirst = Snapshot(src);

    // The second run finds the first one's archives as zip files of the source, and its
    // per-name archives taken: everything is a conflict. Only the conflict archive may
    // replace the earlier one, which it then holds as an entry.
    FakeWindow &second = Run();
    EXPECT_EQ(second.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});
    for (const auto &[name, bytes] : afterFirst) {
        if (name != "conflict.zip") {
            EXPECT_TRUE(ReadFile(src + "/" + name) == bytes) << name << " changed";
        }
    }
    ExpectNothingLost(src, original);
    ExpectNothingLost(src, afterFirst);
    ExpectSoundArchives(src, {{"user.zip", Content("user.zip")}});
}

TEST_F(OwnOutputTest, SingleArchiveRunsIntoTheSourceFolderTwice)
{
    window.settings.targetFolder = src;
    for (const char *name : {"a.txt", "b.txt", "user.zip"})
        Source(name);
    const auto original = Snapshot(src);

    FakeWindow &first = Run();
    EXPECT_EQ(first.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});
    ExpectReadersAgree(src + "/src.zip", Expected({"a.txt", "b.txt"}));
    const auto afterFirst = Snapshot(src);

    // Now src.zip is a zip file of the source, to be copied onto the single archive's
    // own name.
    Run();
    ExpectNothingLost(src, original);
    ExpectNothingLost(src, afterFirst);
    ExpectSoundArchives(src, {{"user.zip", Content("user.zip")}});
}

TEST_F(OwnOutputTest, TargetInsideTheSourceIsNeverArchived)
{
    window.settings.targetFolder = src + "/out";
    window.settings.createSubFolder = 1;
    for (const char *name : {"a.txt", "b.txt"})
        Source(name);
    Run();
    const std::string archive = src + "/out/src/src.zip";
    ExpectReadersAgree(archive, Expected({"a.txt", "b.txt"}));
    // The second run replaces the single archive with one of the same files: the first
    // run's output lives in a folder, which a run never takes.
    FakeWindow &second = Run();
    EXPECT_TRUE(second.Messages().empty());
    ExpectReadersAgree(archive, Expected({"a.txt", "b.txt"}));
    EXPECT_EQ(ListDir(src + "/out/src"), std::vector<std::string> {"src.zip"});
}

} // namespace
} // namespace kelvane::test
