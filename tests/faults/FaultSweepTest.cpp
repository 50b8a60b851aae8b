// The fault sweep: for each scenario, a clean run traces the I/O calls; then the whole
// scenario runs again from fresh folders once for every call of that trace and every kind
// of fault, with that call failing (transient: that call alone; persistent: that call and
// every later call that changes what is stored, as on a full or broken disk), and I1 to I5
// are checked after each run. A call is named by what it is (the k-th fsync of temporary
// 2, say), not by its number, which the archives' closes on threads make vary. Every test run
// sweeps ENOSPC and EIO over every N and EFBIG and EACCES over every 7th; with KELVANE_FAULTS_LONG
// set (the "long" label) every kind goes over every N.

#include "tests/faults/FaultRun.h"
#include "tests/support/ZipReaders.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iostream>

namespace kelvane::test {
namespace {

bool LongRun()
{
    return EnvFlag("KELVANE_FAULTS_LONG");
}

struct FaultKind
{
    const char *name;
    int error;
    bool everyCall; // in every test run; the others every kSparseStride-th call there
    bool spareRemoval; // persistent: removing files still works (a full disk)
};

constexpr FaultKind kKinds[] = {
    {"ENOSPC", ENOSPC, true, true},
    {"EIO", EIO, true, false},
    {"EFBIG", EFBIG, false, true},
    {"EACCES", EACCES, false, false},
};
constexpr long kSparseStride = 7;
// Every so many fault points the archives are also read by 7-Zip, unzip and Python (each
// reading costs a few processes, more than the run itself).
long ExternalEvery()
{
    return LongRun() ? 50 : 150;
}
// Failures reported in full; the rest are counted.
constexpr int kFailuresShown = 15;

class FaultSweep : public ::testing::TestWithParam<Scenario>
{ };

TEST_P(FaultSweep, EveryCallFailing)
{
    const Scenario &scenario = GetParam();
    const bool external = HaveTool("7zz") && HaveTool("unzip") && HaveTool("python3");

    // The clean run: nothing broken, and the same calls every time.
    SweepHook counter;
    counter.trace = true;
    {
        FaultRun run(scenario);
        run.Run(&counter);
        const std::vector<std::string> broken = run.Check(external);
        ASSERT_TRUE(broken.empty()) << "clean run: " << broken.front();
    }
    const std::vector<TracedCall> trace = counter.Trace();
    const long calls = counter.Calls();
    ASSERT_GT(calls, 20);
    {
        SweepHook again;
        FaultRun run(scenario);
        run.Run(&again);
        ASSERT_EQ(again.Calls(), calls) << "the call count of a clean run changes";
    }

    const auto started = std::chrono::steady_clock::now();
    long runs = 0;
    int failures = 0;
    for (const FaultKind &kind : kKinds) {
        const long stride = kind.everyCall || LongRun() ? 1 : kSparseStride;
        for (const bool persistent : {false, true}) {
            for (long n = 1; n <= calls; n += stride) {
                const std::size_t index = static_cast<std::size_t>(n - 1);
                SweepHook hook;
                hook.at = trace[index];
                hook.occurrence = Occurrence(trace, index);
                hook.error = kind.error;
                hook.persistent = persistent;
                hook.spareRemoval = kind.spareRemoval;
                FaultRun run(scenario);
                run.Run(&hook);
                ++runs;
                const std::vector<std::string> broken
                    = run.Check(external && runs % ExternalEvery() == 0, hook.RemovalFailed());
                EXPECT_TRUE(hook.Fired())
                    << Describe(trace[index]) << " #" << hook.occurrence << " never came";
                if (broken.empty())
                    continue;
                if (++failures > kFailuresShown && !std::getenv("KELVANE_FAULTS_SHOW_ALL"))
                    continue;
                std::string text;
                for (const std::string &line : broken)
                    text += "\n    " + line;
                ADD_FAILURE() << kind.name << (persistent ? " persistent" : " transient") << " at "
                              << Describe(trace[index]) << " #" << hook.occurrence << " (call " << n
                              << " of " << calls << " in a clean run):" << text;
            }
        }
    }
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << scenario.name << ": " << calls << " I/O calls, " << runs << " faulty runs in "
              << seconds << " s, " << failures << " with broken invariants\n";
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweep, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) {
                             return info.param.name;
                         });

} // namespace
} // namespace kelvane::test
