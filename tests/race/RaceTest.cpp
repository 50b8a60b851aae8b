// Two runs started at the same moment on the same source and target, many times over,
// with zip files among the sources and target files that make conflicts. After every
// trial:
//   I1 every source file is unchanged;
//   I2 every file at a final name in the target is a complete archive (read back) or a
//      complete copy, each entry byte-equal to its source file;
//   I3 the target's earlier files are unchanged, but for the single and the conflict
//      archive, which a run may replace;
//   I4 no temporary file is left;
//   I5 every source file is in an archive, a conflict archive or a copy in the target,
//      or named in a "not archived" report of one of the runs;
//   and every conflict message names a complete archive holding at least that many
//   files, and no run reports a file as not archived (losing a name makes a conflict).
//   With threads, each run's bar also ends at its file count.

#include "engine/ArchiveRun.h"
#include "platform/FileSystem.h"
#include "settings/JobSettings.h"
#include "tests/engine/FakeWindow.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::test {
namespace {

bool LongRun()
{
    const char *value = std::getenv("KELVANE_RACE_LONG");
    return value && *value && std::string(value) != "0";
}

int ThreadTrials()
{
    return LongRun() ? 200 : 25;
}

int ProcessTrials()
{
    return LongRun() ? 50 : 8;
}

// Ordinary files (two sharing the base name "a"; "old" meets an earlier per-name archive)
// and zip files (z2.zip meets an earlier copy).
const std::vector<std::string> kOrdinary = {"a.doc", "a.txt", "b.txt", "c.dat", "d", "old.txt"};
const std::vector<std::string> kZips = {"z1.zip", "z2.zip"};

bool IsTemporary(const std::string &name)
{
    return name.rfind(platform::kTempPrefix, 0) == 0;
}

bool IsConflictArchiveName(const std::string &name)
{
    // "conflict.zip" or "conflict_<n>.zip"
    const std::string head = "conflict";
    const std::string tail = ".zip";
    if (name.size() < head.size() + tail.size() || name.rfind(head, 0) != 0
        || name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string middle = name.substr(head.size(), name.size() - head.size() - tail.size());
    return middle.empty()
        || (middle.size() > 1 && middle[0] == '_'
            && middle.find_first_not_of("0123456789", 1) == std::string::npos);
}

// What one run said: the files it reported as not archived, and the conflict archives it
// named with the number of files it put there.
struct RunReport
{
    std::set<std::string> notArchived;
    std::vector<std::pair<std::string, std::size_t>> conflictClaims;
    int positionAtEnd = -1;
    int upper = -1;
};

void ReadMessage(const std::string &caption, const std::string &text, RunReport &report)
{
    if (caption == kNotArchivedCaption) {
        std::istringstream lines(text);
        std::string line;
        std::getline(lines, line); // "N files could not be archived:"
        while (std::getline(lines, line)) {
            if (!line.empty() && line != "...")
                report.notArchived.insert(line);
        }
    } else if (caption == kConflictCaption) {
        // "... files, <n> files were copied to\n<path>\n\n..."
        const std::string marker = " files were copied to\n";
        const std::size_t at = text.find(marker);
        ASSERT_NE(at, std::string::npos) << text;
        const std::size_t countStart = text.rfind(' ', at - 1) + 1;
        const std::size_t pathStart = at + marker.size();
        const std::size_t pathEnd = text.find('\n', pathStart);
        ASSERT_NE(pathEnd, std::string::npos) << text;
        report.conflictClaims.emplace_back(text.substr(pathStart, pathEnd - pathStart),
                                           std::stoul(text.substr(countStart, at - countStart)));
    } else {
        ADD_FAILURE() << "unexpected message: " << caption << "\n" << text;
    }
}

// Outcomes counted over all trials, to show that the races really happened.
struct Tally
{
    int trials = 0;
    int lostNames = 0; // a run had more conflicts than the earlier files explain
    int alternativeConflictArchives = 0;
    int notArchivedReports = 0;
};

class RaceTest : public ::testing::TestWithParam<bool>
{
protected:
    bool perName() const { return GetParam(); }

    TempDir tmp;
    std::string src;
    std::string out;
    std::map<std::string, std::string> sources; // name -> content
    std::map<std::string, std::string> before; // the target's files before the runs
    JobSettings settings;
    Tally tally;

    // A fresh source and target for trial n.
    void Prepare(int n)
    {
        const std::string trialDir = tmp / ("t" + std::to_string(n));
        src = trialDir + "/Clips";
        out = trialDir + "/out";
        MakeDirs(src);
        MakeDirs(out);
        sources.clear();
        before.clear();
        std::size_t index = 0;
        for (const auto *names : {&kOrdinary, &kZips}) {
            for (const std::string &name : *names) {
                // A few kilobytes each, different per file and trial.
                std::string content;
                const std::string line = "trial " + std::to_string(n) + " file " + name + "\n";
                for (std::size_t i = 0; i < 100 + 60 * index; ++i)
                    content += line;
                WriteFile(src + "/" + name, content);
                sources[name] = content;
                ++index;
            }
        }
        before["old.zip"] = "earlier old.zip";
        before["z2.zip"] = "earlier z2.zip";
        // Every third trial the target holds an earlier conflict archive, and in single
        // mode another third an earlier single archive: both may be replaced.
        if (n % 3 == 0)
            before["conflict.zip"] = "earlier conflict.zip";
        if (!perName() && n % 3 == 1)
            before["Clips.zip"] = "earlier Clips.zip";
        for (const auto &[name, content] : before)
            WriteFile(out + "/" + name, content);

        settings = JobSettings {};
        settings.fileMask = "*.*";
        settings.sourceFolder = src;
        settings.targetFolder = out;
        settings.createSubFolder = 0;
        settings.keepIndividual = perName() ? 1 : 0;
        settings.useTimestamps = 0;
        settings.skipConflicts = 0;
        settings.storePathInZip = n % 2;
    }

    // Conflicts that the earlier files explain: z2.zip, and old.txt in per-name mode.
    std::size_t ExpectedConflicts() const { return perName() ? 2 : 1; }

    void Check(const std::vector<RunReport> &reports)
    {
        ++tally.trials;
        // I1
        for (const auto &[name, content] : sources)
            EXPECT_EQ(ReadFile(src + "/" + name), content) << "source changed: " << name;
        for (const std::string &name : ListDir(src))
            EXPECT_TRUE(sources.count(name)) << "stray file in the source: " << name;

        std::set<std::string> accounted;
        std::set<std::string> archivesMade;
        for (const std::string &name : ListDir(out)) {
            const std::string path = out + "/" + name;
            // I4
            EXPECT_FALSE(IsTemporary(name)) << "temporary left: " << name;
            if (IsTemporary(name))
                continue;
            const auto earlier = before.find(name);
            const bool replaceable = name == "conflict.zip" || (!perName() && name == "Clips.zip");
            if (earlier != before.end()) {
                const std::string content = ReadFile(path);
                if (content == earlier->second)
                    continue;
                // I3
                EXPECT_TRUE(replaceable) << "earlier file changed: " << name;
                if (!replaceable)
                    continue;
            }
            if (sources.count(name) && !replaceable) {
                // I2, a copy
                EXPECT_EQ(ReadFile(path), sources[name]) << "copy differs: " << name;
                accounted.insert(name);
                continue;
            }
            // I2, an archive
            ASSERT_EQ(name.size() > 4 ? name.substr(name.size() - 4) : "", ".zip")
                << "unexpected file: " << name;
            const ZipContents zip = ReadZip(path);
            EXPECT_TRUE(zip.ok) << name << ": " << zip.error;
            archivesMade.insert(name);
            std::set<std::string> seen;
            for (const ZipEntry &entry : zip.entries) {
                const std::string base = entry.name.substr(entry.name.rfind('/') + 1);
                ASSERT_TRUE(sources.count(base)) << name << " holds " << entry.name;
                EXPECT_EQ(entry.data, sources[base]) << name << ": " << entry.name;
                EXPECT_TRUE(seen.insert(base).second) << name << " holds twice " << base;
                // Each file only in an archive where it belongs.
                if (!IsConflictArchiveName(name)) {
                    const bool ordinary = !IsZipExtension(SplitFileName(base).extension);
                    EXPECT_TRUE(ordinary) << name << " holds " << base;
                    const std::string home
                        = perName() ? SplitFileName(base).baseName + ".zip" : "Clips.zip";
                    EXPECT_EQ(name, home) << "holds " << base;
                }
                accounted.insert(base);
            }
        }

        // I5
        for (const RunReport &report : reports) {
            for (const std::string &path : report.notArchived) {
                accounted.insert(path.substr(path.rfind('/') + 1));
                EXPECT_EQ(path.substr(0, path.rfind('/')), src) << path;
            }
        }
        for (const auto &source : sources)
            EXPECT_TRUE(accounted.count(source.first)) << "lost: " << source.first;

        // Each conflict message names a complete archive with at least that many files
        // (a run that began after the other run had finished may have replaced it with
        // one holding all of them).
        for (const RunReport &report : reports) {
            for (const auto &[path, count] : report.conflictClaims) {
                const std::string name = path.substr(path.rfind('/') + 1);
                EXPECT_EQ(path, out + "/" + name);
                EXPECT_TRUE(IsConflictArchiveName(name)) << path;
                EXPECT_TRUE(archivesMade.count(name)) << "claimed but missing: " << path;
                if (archivesMade.count(name)) {
                    EXPECT_GE(ReadZip(path).entries.size(), count) << path;
                }
                if (count > ExpectedConflicts())
                    ++tally.lostNames;
                if (name != "conflict.zip")
                    ++tally.alternativeConflictArchives;
            }
            if (report.positionAtEnd >= 0) {
                EXPECT_EQ(report.positionAtEnd, report.upper) << "the bar ends off its count";
            }
            // Nothing in these trials can fail but the race for a name, and a run that
            // loses it files its files as conflicts.
            EXPECT_TRUE(report.notArchived.empty()) << "reported as not archived";
            if (!report.notArchived.empty())
                ++tally.notArchivedReports;
        }
    }

    void PrintTally(const char *how)
    {
        std::cout
            << how << (perName() ? " per-name" : " single") << ": " << tally.trials
            << " trials; conflict messages with more files than the earlier target files explain: "
            << tally.lostNames
            << "; conflict archives at an alternative name: " << tally.alternativeConflictArchives
            << "; runs reporting files not archived: " << tally.notArchivedReports << "\n";
        RecordProperty("trials", tally.trials);
        RecordProperty("lostNames", tally.lostNames);
        RecordProperty("alternativeConflictArchives", tally.alternativeConflictArchives);
    }
};

// Two runs on threads of this process, each with its own window, let go together; one
// of them may then wait a little first, so that the runs meet at different stages.
std::vector<RunReport> RunTwoThreads(const JobSettings &settings, int trial)
{
    static const int kStaggerMicroseconds[] = {0, 0, 300, 1000, 3000, 10000, 30000};
    const int stagger = kStaggerMicroseconds[trial % 7];
    const int later = trial % 2;
    FakeWindow windows[2];
    std::vector<RunReport> reports(2);
    for (int i = 0; i < 2; ++i) {
        windows[i].settings = settings;
        FakeWindow &window = windows[i];
        RunReport &report = reports[i];
        window.OnOperation([&window, &report](const std::string &op) {
            if (op == "StopAnimation") {
                report.positionAtEnd = window.Position();
                report.upper = window.Upper();
            }
        });
    }
    std::atomic<int> ready {0};
    auto body = [&](int i) {
        ready.fetch_add(1);
        while (ready.load() < 2)
            std::this_thread::yield();
        if (i == later && stagger > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(stagger));
        ArchiveRun(windows[i]);
    };
    std::thread first(body, 0);
    std::thread second(body, 1);
    first.join();
    second.join();
    for (int i = 0; i < 2; ++i) {
        for (const auto &[caption, text] : windows[i].Messages())
            ReadMessage(caption, text, reports[i]);
    }
    return reports;
}

TEST_P(RaceTest, TwoThreads)
{
    for (int n = 0; n < ThreadTrials() && !HasFailure(); ++n) {
        Prepare(n);
        SCOPED_TRACE("trial " + std::to_string(n));
        Check(RunTwoThreads(settings, n));
    }
    PrintTally("threads");
    // Every trial keeps its folder: a sample of up to 20 of all the archives the runs
    // wrote goes through the independent readers.
    EXPECT_GT(ExpectFolderReadsAlike(tmp.path(), 20), 0u);
}

#ifdef KELVANE_BATCH_BINARY

// The messages a batch run wrote on standard error: "kelvane-batch: <caption>" lines,
// each followed by the text.
void ReadBatchMessages(const std::string &errors, RunReport &report)
{
    const std::string prefix = "kelvane-batch: ";
    std::istringstream lines(errors);
    std::string line;
    std::string caption;
    std::string text;
    bool inMessage = false;
    auto finish = [&] {
        if (inMessage)
            ReadMessage(caption, text, report);
    };
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) == 0) {
            finish();
            caption = line.substr(prefix.size());
            text.clear();
            inMessage = true;
        } else if (inMessage) {
            text += line + "\n";
        } else {
            ADD_FAILURE() << "unexpected output: " << line;
        }
    }
    finish();
}

// Two batch processes on one settings file, both held at a pipe until both exist.
std::vector<RunReport> RunTwoProcesses(const std::string &folder)
{
    const std::string settingsFile = folder + "/" + kSettingsFileName;
    const std::string binary = KELVANE_BATCH_BINARY;
    std::vector<std::string> argStrings = {binary, "--quiet", "--settings", settingsFile};
    std::vector<char *> argv;
    for (std::string &arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int barrier[2];
    EXPECT_EQ(pipe2(barrier, O_CLOEXEC), 0);
    pid_t children[2];
    std::string errorFiles[2];
    for (int i = 0; i < 2; ++i) {
        errorFiles[i] = folder + "/stderr" + std::to_string(i);
        const int errorFd
            = open(errorFiles[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(errorFd, 0);
        children[i] = fork();
        if (children[i] == 0) {
            // Only async-signal-safe calls from here to the exec.
            close(barrier[1]);
            dup2(errorFd, 2);
            char byte;
            while (read(barrier[0], &byte, 1) < 0 && errno == EINTR) { }
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(errorFd);
    }
    close(barrier[0]);
    close(barrier[1]); // both children read the end of the pipe and go

    std::vector<RunReport> reports(2);
    for (int i = 0; i < 2; ++i) {
        int status = 0;
        EXPECT_EQ(waitpid(children[i], &status, 0), children[i]);
        // There is always a conflict to report (the earlier z2.zip).
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
        ReadBatchMessages(ReadFile(errorFiles[i]), reports[i]);
    }
    return reports;
}

TEST_P(RaceTest, TwoBatchProcesses)
{
    for (int n = 0; n < ProcessTrials() && !HasFailure(); ++n) {
        Prepare(n);
        SCOPED_TRACE("trial " + std::to_string(n));
        // The settings file and the error output live beside the source and target.
        const std::string folder = src.substr(0, src.rfind('/'));
        {
            ScopedCurrentDir here(folder);
            SaveSettings(settings);
        }
        Check(RunTwoProcesses(folder));
        for (const std::string &name : {std::string("stderr0"), std::string("stderr1")})
            std::remove((folder + "/" + name).c_str());
    }
    PrintTally("processes");
    EXPECT_GT(ExpectFolderReadsAlike(tmp.path(), 20), 0u); // a sample, as with threads
}

#endif

INSTANTIATE_TEST_SUITE_P(Modes, RaceTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "PerName" : "Single";
                         });

} // namespace
} // namespace kelvane::test
