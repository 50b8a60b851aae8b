// Batch runs killed (SIGKILL) at many points, in single and per-name mode, with zip files
// among the sources (copies) and earlier target files that make conflicts. After each
// kill the run invariants I1 to I4 hold (tests/support/RunInvariants.h), temporaries
// allowed; then the same job runs to completion, and all of them hold again (the files
// the killed run had finished count as earlier files), with no temporary left.
//
// The kill points: after K per-file progress lines of --verbose (the line comes before
// the file is added, so the kill lands while it is being read or compressed), K spread
// over the whole run, and now and then after a seeded random delay instead. A kill that
// comes after the run has ended tests nothing: the trial is made again with an earlier
// kill, until one lands.

#include "engine/ArchiveRun.h"
#include "folders/FileSystem.h"
#include "settings/JobSettings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunInvariants.h"
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

#include <unistd.h>

#ifdef KELVANE_BATCH_BINARY

namespace kelvane::test {
namespace {

// Kills per mode: 25 + 25 in the full set, 6 + 6 in every test run.
int KillsPerMode()
{
    return EnvFlag("KELVANE_CRASH_LONG") ? 25 : 6;
}

struct Tally
{
    int kills = 0; // that landed
    int tooLate = 0; // the run ended before its kill point
    int killsLeavingTemporaries = 0;
    int killsLeavingFinishedOutputs = 0;
    int lineKills = 0;
    int delayKills = 0;
};

class KilledRuns : public ::testing::TestWithParam<bool>, protected SharedFolders
{
protected:
    bool perName() const { return GetParam(); }

    TempDir tmp;
    Tally tally;

    // Twenty files of 200 KB to 1.2 MB, text and random bytes, two sharing a base name,
    // two zip files.
    void Prepare(int n, int attempt)
    {
        std::mt19937 random(static_cast<unsigned>(1000 + n));
        std::vector<std::string> names = {"a.doc", "a.txt", "old.txt", "z1.zip", "z2.zip"};
        for (int i = static_cast<int>(names.size()); i < 20; ++i)
            names.push_back("f" + std::to_string(i) + (i % 3 == 0 ? ".bin" : ".txt"));
        std::map<std::string, std::string> files;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::size_t size = 200000 + (i * 53731 + n * 7919) % 1000000;
            std::string content;
            content.reserve(size);
            if (i % 3 == 0) {
                content = RandomBytes(size, static_cast<unsigned>(random()));
            } else {
                const std::string line = "run " + std::to_string(n) + " " + names[i] + " ";
                while (content.size() < size)
                    content += line + std::to_string(random() % 100000) + "\n";
            }
            files[names[i]] = content;
        }
        SharedFolders::Prepare(tmp / ("k" + std::to_string(n) + "-" + std::to_string(attempt)), n,
                               perName(), files);
    }

    bool Replaceable(const std::string &name) const
    {
        return name == "conflict.zip" || (!perName() && name == "Clips.zip");
    }

    static void Report(const RunFindings &found)
    {
        for (const std::string &line : found.broken)
            ADD_FAILURE() << line;
    }

    // Every finished output of the killed run is an earlier file for the next run.
    void KeepFinishedOutputs()
    {
        bool any = false;
        for (const std::string &name : ListDir(out)) {
            if (IsTempName(name) || Replaceable(name))
                continue;
            const std::string content = ReadFile(out + "/" + name);
            auto [at, added] = before.emplace(name, content);
            any = any || added;
        }
        tally.killsLeavingFinishedOutputs += any ? 1 : 0;
    }

    std::vector<std::string> Arguments(bool verbose) const
    {
        return {verbose ? "--verbose" : "--quiet", "--settings", folder + "/" + kSettingsFileName};
    }

    // Kills a verbose run after `lines` progress lines, or after `delay` when lines is 0.
    // Returns whether the kill landed before the run had ended.
    bool RunAndKill(int lines, std::chrono::microseconds delay)
    {
        ChildProcess child(KELVANE_BATCH_BINARY, Arguments(true), folder);
        if (lines > 0) {
            const std::string marker = "kelvane-batch: file ";
            std::string line;
            for (int seen = 0; seen < lines && child.ReadErrLine(line);)
                seen += line.rfind(marker, 0) == 0 ? 1 : 0;
        } else {
            std::this_thread::sleep_for(delay);
        }
        child.Signal(SIGKILL);
        const ChildResult result = child.Finish();
        return !result.exited && result.signal == SIGKILL;
    }

    void Trial(int n, int lines, std::chrono::microseconds delay)
    {
        // A kill that came too late is made again, earlier, in fresh folders.
        for (int attempt = 0;; ++attempt) {
            Prepare(n, attempt);
            if (RunAndKill(lines, delay))
                break;
            ++tally.tooLate;
            ASSERT_LT(attempt, 8) << "no kill landed before the run ended";
            lines = lines > 0 ? lines / 2 : (attempt < 3 ? 0 : 1);
            delay /= 2;
        }
        ++tally.kills;
        RunFindings found;
        {
            SCOPED_TRACE("after the kill");
            found = CheckFolders(Expected(true));
            Report(found);
        }
        tally.killsLeavingTemporaries += found.temporaries > 0 ? 1 : 0;
        KeepFinishedOutputs();

        SCOPED_TRACE("after the second run");
        const ChildResult second = RunChild(KELVANE_BATCH_BINARY, Arguments(false), folder);
        // Conflicts are reported (exit 1); nothing else may go wrong.
        EXPECT_TRUE(second.exited && second.status == 1) << "status " << second.status << "\n"
                                                         << second.err;
        const RunMessages messages = ReadBatchMessages(second.err);
        EXPECT_TRUE(messages.notArchived.empty()) << second.err;
        const RunExpectations expected = Expected(false);
        found = CheckFolders(expected);
        CheckAccounted(expected, {messages}, false, found);
        Report(found);
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
    // The archives of every trial: a sample of up to 20 of them through the independent
    // readers (only files that begin as archives do: the sources' zip files are noise).
    EXPECT_GT(ExpectFolderReadsAlike(tmp.path(), 20), 0u);
    std::cout << (perName() ? "per-name" : "single") << ": " << tally.kills << " kills ("
              << tally.lineKills << " after progress lines, " << tally.delayKills
              << " after delays); kills made again as they came too late: " << tally.tooLate
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
