// Batch runs killed (SIGKILL) at many points, in single and per-name mode, with zip files
// among the sources (copies) and earlier target files that make conflicts. After each
// kill:
//   I1 every source file is unchanged;
//   I2 every file at a final name in the target is a complete archive whose entries equal
//      their sources, or a copy equal to its source;
//   I3 every earlier target file is unchanged, but for the single and the conflict
//      archive, which a run may replace;
//   I4 temporary files may be left, but only with the recognisable prefix.
// Then the same job runs to completion, and I1-I3 hold again (the files the killed run
// had finished count as earlier files), no temporary file is left at all, and every
// source file is in an archive or a copy, or reported as not archived.
//
// The kill points: after K per-file progress lines of --verbose (the line comes before
// the file is added, so the kill lands while it is being read or compressed), K spread
// over the whole run, and now and then after a seeded random delay instead.

#include "engine/ArchiveRun.h"
#include "platform/FileSystem.h"
#include "settings/JobSettings.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef KELVANE_BATCH_BINARY

namespace kelvane::test {
namespace {

bool LongRun()
{
    const char *value = std::getenv("KELVANE_CRASH_LONG");
    return value && *value && std::string(value) != "0";
}

// Kills per mode: 25 + 25 in the full set, 6 + 6 in every test run.
int KillsPerMode()
{
    return LongRun() ? 25 : 6;
}

bool IsTemporary(const std::string &name)
{
    return name.rfind(platform::kTempPrefix, 0) == 0;
}

bool IsConflictArchiveName(const std::string &name)
{
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

// An archive without entries is 22 bytes that the test reader may refuse; Python's
// zipfile reads it.
bool EmptyZipIsValid(const std::string &path)
{
    const std::string command = "python3 -c \"import sys, zipfile; "
                                "z = zipfile.ZipFile(sys.argv[1]); "
                                "sys.exit(1 if z.testzip() or z.namelist() else 0)\" '"
        + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

struct Tally
{
    int kills = 0;
    int finishedFirst = 0; // the run ended before its kill point
    int killsLeavingTemporaries = 0;
    int killsLeavingFinishedOutputs = 0;
    int lineKills = 0;
    int delayKills = 0;
};

class KilledRuns : public ::testing::TestWithParam<bool>
{
protected:
    bool perName() const { return GetParam(); }

    TempDir tmp;
    std::string folder;
    std::string src;
    std::string out;
    std::map<std::string, std::string> sources;
    std::map<std::string, std::string> before; // target files that must stay as they are
    JobSettings settings;
    Tally tally;

    // Twenty files of 200 KB to 1.2 MB, text and random bytes, two sharing a base name,
    // two zip files; the target holds files that make conflicts.
    void Prepare(int n)
    {
        folder = tmp / ("k" + std::to_string(n));
        src = folder + "/Clips";
        out = folder + "/out";
        MakeDirs(src);
        MakeDirs(out);
        sources.clear();
        before.clear();
        std::mt19937 random(static_cast<unsigned>(1000 + n));
        std::vector<std::string> names = {"a.doc", "a.txt", "old.txt", "z1.zip", "z2.zip"};
        for (int i = static_cast<int>(names.size()); i < 20; ++i)
            names.push_back("f" + std::to_string(i) + (i % 3 == 0 ? ".bin" : ".txt"));
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::size_t size = 200000 + (i * 53731 + n * 7919) % 1000000;
            std::string content;
            content.reserve(size);
            if (i % 3 == 0) {
                while (content.size() < size)
                    content += static_cast<char>(random() & 0xff);
            } else {
                const std::string line = "run " + std::to_string(n) + " " + names[i] + " ";
                while (content.size() < size)
                    content += line + std::to_string(random() % 100000) + "\n";
            }
            WriteFile(src + "/" + names[i], content);
            sources[names[i]] = content;
        }
        before["old.zip"] = "earlier old.zip";
        before["z2.zip"] = "earlier z2.zip";
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
        ScopedCurrentDir here(folder);
        SaveSettings(settings);
    }

    bool Replaceable(const std::string &name) const
    {
        return name == "conflict.zip" || (!perName() && name == "Clips.zip");
    }

    // I1 to I4 (I4 strict or with leftovers allowed). Returns the source names found in
    // archives or copies, and counts the temporaries left.
    std::set<std::string> Check(bool strictTemporaries, int &temporaries)
    {
        temporaries = 0;
        for (const auto &[name, content] : sources)
            EXPECT_TRUE(ReadFile(src + "/" + name) == content) << "source changed: " << name;
        EXPECT_EQ(ListDir(src).size(), sources.size()) << "stray file in the source";

        std::set<std::string> accounted;
        for (const std::string &name : ListDir(out)) {
            const std::string path = out + "/" + name;
            if (IsTemporary(name)) {
                ++temporaries;
                EXPECT_FALSE(strictTemporaries) << "temporary left: " << name;
                continue;
            }
            const auto earlier = before.find(name);
            if (earlier != before.end()) {
                if (ReadFile(path) == earlier->second)
                    continue;
                EXPECT_TRUE(Replaceable(name)) << "earlier file changed: " << name;
                if (!Replaceable(name))
                    continue;
            }
            if (sources.count(name) && !Replaceable(name)) {
                EXPECT_TRUE(ReadFile(path) == sources[name]) << "copy differs: " << name;
                accounted.insert(name);
                continue;
            }
            const bool zipName = name.size() > 4 && name.substr(name.size() - 4) == ".zip";
            EXPECT_TRUE(zipName) << "unexpected file: " << name;
            if (!zipName)
                continue;
            const ZipContents zip = ReadZip(path);
            if (!zip.ok && zip.entries.empty() && EmptyZipIsValid(path))
                continue;
            EXPECT_TRUE(zip.ok) << name << ": " << zip.error;
            std::set<std::string> seen;
            for (const ZipEntry &entry : zip.entries) {
                const std::string base = entry.name.substr(entry.name.rfind('/') + 1);
                EXPECT_TRUE(sources.count(base)) << name << " holds " << entry.name;
                if (!sources.count(base))
                    continue;
                EXPECT_TRUE(entry.data == sources[base]) << name << ": " << entry.name;
                EXPECT_TRUE(seen.insert(base).second) << name << " holds twice " << base;
                if (!IsConflictArchiveName(name)) {
                    EXPECT_FALSE(IsZipExtension(SplitFileName(base).extension))
                        << name << " holds " << base;
                    const std::string home
                        = perName() ? SplitFileName(base).baseName + ".zip" : "Clips.zip";
                    EXPECT_EQ(name, home) << "holds " << base;
                }
                accounted.insert(base);
            }
        }
        return accounted;
    }

    // Every finished output of the killed run is an earlier file for the next run.
    void KeepFinishedOutputs()
    {
        bool any = false;
        for (const std::string &name : ListDir(out)) {
            if (IsTemporary(name) || Replaceable(name))
                continue;
            const std::string content = ReadFile(out + "/" + name);
            auto [at, added] = before.emplace(name, content);
            any = any || added;
        }
        tally.killsLeavingFinishedOutputs += any ? 1 : 0;
    }

    std::vector<std::string> Arguments(bool verbose) const
    {
        return {KELVANE_BATCH_BINARY, verbose ? "--verbose" : "--quiet", "--settings",
                folder + "/" + kSettingsFileName};
    }

    // Starts the batch program with its standard error on a pipe; returns the read end.
    pid_t Start(const std::vector<std::string> &args, int &errorFd)
    {
        std::vector<std::string> argStrings = args;
        std::vector<char *> argv;
        for (std::string &arg : argStrings)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        int pipeFds[2];
        EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
        const pid_t child = fork();
        if (child == 0) {
            dup2(devNull, 1);
            dup2(pipeFds[1], 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(devNull);
        close(pipeFds[1]);
        errorFd = pipeFds[0];
        return child;
    }

    // Kills a verbose run after `lines` progress lines, or after `delay` when lines is 0.
    void RunAndKill(int lines, std::chrono::microseconds delay)
    {
        int errorFd = -1;
        const pid_t child = Start(Arguments(true), errorFd);
        ASSERT_GT(child, 0);
        bool killed = false;
        if (lines > 0) {
            const std::string marker = "kelvane-batch: file ";
            std::string pending;
            int seen = 0;
            char buffer[4096];
            while (seen < lines) {
                const ssize_t n = read(errorFd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break; // the run ended first
                pending.append(buffer, static_cast<std::size_t>(n));
                std::size_t end;
                while (seen < lines && (end = pending.find('\n')) != std::string::npos) {
                    if (pending.rfind(marker, 0) == 0)
                        ++seen;
                    pending.erase(0, end + 1);
                }
            }
            if (seen >= lines)
                killed = kill(child, SIGKILL) == 0;
        } else {
            std::this_thread::sleep_for(delay);
            killed = kill(child, SIGKILL) == 0;
        }
        close(errorFd); // a run still writing gets SIGPIPE: it is killed either way
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ++tally.kills;
        if (!killed || !WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
            ++tally.finishedFirst;
    }

    // The same job to completion; returns its standard error.
    std::string RunToCompletion()
    {
        int errorFd = -1;
        const pid_t child = Start(Arguments(false), errorFd);
        EXPECT_GT(child, 0);
        std::string errors;
        char buffer[4096];
        ssize_t n;
        while ((n = read(errorFd, buffer, sizeof buffer)) != 0) {
            if (n > 0)
                errors.append(buffer, static_cast<std::size_t>(n));
            else if (errno != EINTR)
                break;
        }
        close(errorFd);
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        // Conflicts are reported (exit 1); nothing else may go wrong.
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status << "\n"
                                                                   << errors;
        return errors;
    }

    void Trial(int n, int lines, std::chrono::microseconds delay)
    {
        Prepare(n);
        RunAndKill(lines, delay);
        int temporaries = 0;
        {
            SCOPED_TRACE("after the kill");
            Check(false, temporaries);
        }
        tally.killsLeavingTemporaries += temporaries > 0 ? 1 : 0;
        KeepFinishedOutputs();

        const std::string errors = RunToCompletion();
        SCOPED_TRACE("after the second run");
        std::set<std::string> accounted = Check(true, temporaries);
        EXPECT_EQ(errors.find(kNotArchivedCaption), std::string::npos) << errors;
        for (const auto &source : sources) {
            if (errors.find(src + "/" + source.first + "\n") != std::string::npos)
                accounted.insert(source.first);
            EXPECT_TRUE(accounted.count(source.first)) << "lost: " << source.first;
        }
    }
};

TEST_P(KilledRuns, AnotherRunCleansUpAndCompletesTheJob)
{
    // A run of N files writes about N + conflicts progress lines; the line kills cover
    // 1 .. 20 (a run has at least 20) in steps of 7, so that they spread over the run.
    const int kills = KillsPerMode();
    std::mt19937 random(perName() ? 77u : 42u);
    for (int n = 0; n < kills && !HasFailure(); ++n) {
        const bool byDelay = n % 4 == 3;
        const int lines = byDelay ? 0 : 1 + (n * 7 + (perName() ? 3 : 0)) % 20;
        const std::chrono::microseconds delay(byDelay ? 500 + random() % 80000 : 0);
        SCOPED_TRACE("kill " + std::to_string(n) + ": "
                     + (byDelay ? "after " + std::to_string(delay.count()) + " us"
                                : "after " + std::to_string(lines) + " progress lines"));
        (byDelay ? tally.delayKills : tally.lineKills)++;
        Trial(n, lines, delay);
    }
    // The archives of every trial's final run: a sample of up to 20 of them through the
    // independent readers (the sources hold zip-named files that are not archives).
    std::vector<std::string> zips;
    for (int n = 0; n < kills; ++n) {
        const std::vector<std::string> trial
            = ZipsIn(tmp / ("k" + std::to_string(n)) + "/out", 1000);
        zips.insert(zips.end(), trial.begin(), trial.end());
    }
    EXPECT_GT(ExpectArchivesReadAlike(Spread(zips, 20)).size(), 0u);
    std::cout << (perName() ? "per-name" : "single") << ": " << tally.kills << " kills ("
              << tally.lineKills << " after progress lines, " << tally.delayKills
              << " after delays); runs that ended before their kill: " << tally.finishedFirst
              << "; kills leaving temporaries: " << tally.killsLeavingTemporaries
              << "; kills leaving finished outputs: " << tally.killsLeavingFinishedOutputs << "\n";
    RecordProperty("kills", tally.kills);
    RecordProperty("killsLeavingTemporaries", tally.killsLeavingTemporaries);
}

INSTANTIATE_TEST_SUITE_P(Modes, KilledRuns, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "PerName" : "Single";
                         });

} // namespace
} // namespace kelvane::test

#endif
