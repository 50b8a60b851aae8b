// Two runs started at the same moment on the same source and target, many times over,
// with zip files among the sources and target files that make conflicts. After every
// trial the run invariants hold (tests/support/RunInvariants.h; a file may stand in two
// outputs, as one run makes a conflict of what the other placed first), no run reports a
// file as not archived (losing a name makes a conflict), and with threads each run's bar
// ends at its file count. Some pairs of runs must really have overlapped.

#include "engine/ArchiveRun.h"
#include "folders/FileSystem.h"
#include "settings/JobSettings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/RunInvariants.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kelvane::test {
namespace {

// Trials in every test run, or in the full set.
int Trials(int quick, int full)
{
    return EnvFlag("KELVANE_RACE_LONG") ? full : quick;
}

// Ordinary files (two sharing the base name "a"; "old" meets an earlier per-name archive)
// and zip files (z2.zip meets an earlier copy).
const std::vector<std::string> kOrdinary = {"a.doc", "a.txt", "b.txt", "c.dat", "d", "old.txt"};
const std::vector<std::string> kZips = {"z1.zip", "z2.zip"};

// One run's end of the bar, and where it began and ended its files on a clock that both
// runs of a trial advance (-1 when it never got there).
struct RunReport
{
    RunMessages messages;
    int positionAtEnd = -1;
    int upper = -1;
    int firstStep = -1;
    int end = -1;
};

// Outcomes counted over all trials, to show that the races really happened.
struct Tally
{
    int trials = 0;
    int lostNames = 0; // a run had more conflicts than the earlier files explain
    int alternativeConflictArchives = 0;
    int notArchivedReports = 0;
    int overlapping = 0; // trials whose runs were both between their first step and their end
};

class RaceTest : public ::testing::TestWithParam<bool>, protected SharedFolders
{
protected:
    bool perName() const { return GetParam(); }

    TempDir tmp;
    Tally tally;

    // Fresh folders for trial n; the files a few kilobytes each, different per file and
    // trial.
    void Prepare(int n)
    {
        std::map<std::string, std::string> files;
        std::size_t index = 0;
        for (const auto *names : {&kOrdinary, &kZips}) {
            for (const std::string &name : *names) {
                const std::string line = "trial " + std::to_string(n) + " file " + name + "\n";
                for (std::size_t i = 0; i < 100 + 60 * index; ++i)
                    files[name] += line;
                ++index;
            }
        }
        SharedFolders::Prepare(tmp / ("t" + std::to_string(n)), n, perName(), files);
    }

    // Conflicts that the earlier files explain: z2.zip, and old.txt in per-name mode.
    std::size_t ExpectedConflicts() const { return perName() ? 2 : 1; }

    void Check(const std::vector<RunReport> &reports)
    {
        ++tally.trials;
        const RunExpectations expected = Expected();
        std::vector<RunMessages> messages;
        for (const RunReport &report : reports)
            messages.push_back(report.messages);
        RunFindings found = CheckFolders(expected);
        CheckAccounted(expected, messages, false, found);
        for (const std::string &line : found.broken)
            ADD_FAILURE() << line;

        for (const RunReport &report : reports) {
            for (const auto &[path, count] : report.messages.conflictArchives) {
                if (count > ExpectedConflicts())
                    ++tally.lostNames;
                if (path.substr(path.rfind('/') + 1) != "conflict.zip")
                    ++tally.alternativeConflictArchives;
            }
            if (report.positionAtEnd >= 0) {
                EXPECT_EQ(report.positionAtEnd, report.upper) << "the bar ends off its count";
            }
            // Nothing in these trials can fail but the race for a name, and a run that
            // loses it files its files as conflicts.
            EXPECT_TRUE(report.messages.notArchived.empty()) << "reported as not archived";
            if (!report.messages.notArchived.empty())
                ++tally.notArchivedReports;
        }
        const RunReport &a = reports[0];
        const RunReport &b = reports[1];
        if (reports.size() == 2 && a.firstStep >= 0 && b.firstStep >= 0 && a.firstStep < b.end
            && b.firstStep < a.end)
            ++tally.overlapping;
    }

    void PrintTally(const char *how)
    {
        std::cout
            << how << (perName() ? " per-name" : " single") << ": " << tally.trials
            << " trials; conflict messages with more files than the earlier target files explain: "
            << tally.lostNames
            << "; conflict archives at an alternative name: " << tally.alternativeConflictArchives
            << "; runs reporting files not archived: " << tally.notArchivedReports
            << "; trials whose runs overlapped: " << tally.overlapping << "\n";
        RecordProperty("trials", tally.trials);
        RecordProperty("lostNames", tally.lostNames);
        RecordProperty("alternativeConflictArchives", tally.alternativeConflictArchives);
        RecordProperty("overlapping", tally.overlapping);
    }
};

// Two runs on threads of this process, each with its own window, let go together; one
// of them may then wait a little first, so that the runs meet at different stages. Every
// fifth trial the first run holds at its first file until the other has begun its files
// (or ended), so that runs overlap on any machine.
std::vector<RunReport> RunTwoThreads(const JobSettings &settings, int trial)
{
    static const int kStaggerMicroseconds[] = {0, 0, 300, 1000, 3000, 10000, 30000};
    const int stagger = kStaggerMicroseconds[trial % 7];
    const int later = trial % 2;
    const bool held = trial % 5 == 0;
    FakeWindow windows[2];
    std::vector<RunReport> reports(2);
    std::mutex mutex;
    std::condition_variable changed;
    int clock = 0; // advanced by every step and end of either run, under the mutex
    for (int i = 0; i < 2; ++i) {
        windows[i].settings = settings;
        FakeWindow &window = windows[i];
        RunReport &report = reports[i];
        RunReport &other = reports[1 - i];
        window.OnOperation([&, i](const std::string &op) {
            if (op != "StepIt" && op != "StopAnimation")
                return;
            std::unique_lock<std::mutex> lock(mutex);
            if (op == "StopAnimation") {
                report.positionAtEnd = window.Position();
                report.upper = window.Upper();
                report.end = ++clock;
            } else if (report.firstStep < 0) {
                report.firstStep = ++clock;
                if (held && i == 0)
                    changed.wait(lock, [&] { return other.firstStep >= 0 || other.end >= 0; });
            }
            changed.notify_all();
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
    for (int i = 0; i < 2; ++i)
        reports[i].messages = ReadRunMessages(windows[i].Messages());
    return reports;
}

TEST_P(RaceTest, TwoThreads)
{
    for (int n = 0; n < Trials(25, 200) && !HasFailure(); ++n) {
        Prepare(n);
        SCOPED_TRACE("trial " + std::to_string(n));
        Check(RunTwoThreads(settings, n));
    }
    PrintTally("threads");
    EXPECT_GT(tally.overlapping, 0) << "no two runs were ever at work together";
    // Every trial keeps its folder: a sample of up to 20 of all the archives the runs
    // wrote goes through the independent readers.
    EXPECT_GT(ExpectFolderReadsAlike(tmp.path(), 20), 0u);
}

#ifdef KELVANE_BATCH_BINARY

// Two batch processes on one settings file, both held at a gate until both exist.
std::vector<RunReport> RunTwoProcesses(const std::string &folder)
{
    const std::vector<std::string> args
        = {"--quiet", "--settings", folder + "/" + kSettingsFileName};
    int gate[2];
    EXPECT_EQ(pipe2(gate, O_CLOEXEC), 0);
    ChildProcess first(KELVANE_BATCH_BINARY, args, folder, 0, false, gate[0]);
    ChildProcess second(KELVANE_BATCH_BINARY, args, folder, 0, false, gate[0]);
    EXPECT_EQ(write(gate[1], "go", 2), 2);
    close(gate[0]);
    close(gate[1]);
    std::vector<RunReport> reports(2);
    ChildProcess *children[] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        const ChildResult result = children[i]->Finish();
        // There is always a conflict to report (the earlier z2.zip).
        EXPECT_TRUE(result.exited && result.status == 1) << "status " << result.status;
        reports[i].messages = ReadBatchMessages(result.err);
    }
    return reports;
}

TEST_P(RaceTest, TwoBatchProcesses)
{
    for (int n = 0; n < Trials(8, 50) && !HasFailure(); ++n) {
        Prepare(n);
        SCOPED_TRACE("trial " + std::to_string(n));
        Check(RunTwoProcesses(folder));
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
