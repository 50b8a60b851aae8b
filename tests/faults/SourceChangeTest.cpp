// Source files that change under the run: removed, cut to half or grown just before the
// run opens them and just before it first reads them (or copies them), at every such point
// of each scenario. Whatever the archive or copy holds must be one of the versions the
// file had, and a file that could not be taken must be reported (I1 to I5).

#include "tests/faults/FaultRun.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

namespace kelvane::test {

namespace {

enum class Change { Remove, Shrink, Grow };

// The changes' names, in the order of Change.
const char *const kChangeNames[] = {"removed", "cut to half", "grown"};

struct ChangePoint
{
    long call; // 1-based
    std::string name; // the source file
    std::string what; // "open", "first read"
};

// The calls of a clean run just before which a source file is opened or first read.
std::vector<ChangePoint> ChangePoints(const Scenario &scenario,
                                      const std::vector<TracedCall> &trace)
{
    const auto sourceName = [&](const std::string &path) -> std::string {
        for (const auto &[name, content] : scenario.sources) {
            const std::string tail = "src/" + name;
            if (path == tail
                || (path.size() > tail.size()
                    && path.compare(path.size() - tail.size() - 1, tail.size() + 1, "/" + tail)
                        == 0))
                return name;
        }
        return {};
    };
    std::vector<ChangePoint> points;
    std::string opened; // the source file opened last, until its first read
    for (std::size_t i = 0; i < trace.size(); ++i) {
        const TracedCall &call = trace[i];
        const long n = static_cast<long>(i) + 1;
        if (call.call == io::Call::Open && !call.changesStorage) {
            const std::string name = sourceName(call.path);
            if (!name.empty()) {
                points.push_back({n, name, "open"});
                opened = name;
            }
        } else if (!opened.empty()
                   && ((call.call == io::Call::Read && sourceName(call.path) == opened)
                       || call.call == io::Call::CopyFileRange)) {
            points.push_back({n, opened, "first read"});
            opened.clear();
        }
    }
    return points;
}

class SourceChanges : public ::testing::TestWithParam<Scenario>
{ };

TEST_P(SourceChanges, JustBeforeOpenAndRead)
{
    const Scenario &scenario = GetParam();
    SweepHook counter;
    counter.trace = true;
    {
        FaultRun run(scenario);
        run.Run(&counter);
        ASSERT_TRUE(run.Check().empty());
    }
    const std::vector<TracedCall> trace = counter.Trace();
    const std::vector<ChangePoint> points = ChangePoints(scenario, trace);
    // Every source file is opened at least once, and read (or copied) after that; but a
    // skipped conflict is never read.
    const std::size_t skipped = scenario.skipConflicts ? scenario.conflicting.size() : 0;
    ASSERT_GE(points.size(), 2 * (scenario.sources.size() - skipped));

    int runs = 0;
    for (const ChangePoint &point : points) {
        for (const Change change : {Change::Remove, Change::Shrink, Change::Grow}) {
            FaultRun run(scenario);
            const std::string path = run.SourcePath(point.name);
            const std::string original = scenario.sources.at(point.name);
            const std::string shrunk = original.substr(0, original.size() / 2);
            const std::string grown = original + "grown while the run was at it\n";
            SweepHook hook;
            hook.at = trace[static_cast<std::size_t>(point.call - 1)];
            hook.occurrence = Occurrence(trace, static_cast<std::size_t>(point.call - 1));
            hook.action = [&] {
                switch (change) {
                case Change::Remove:
                    ::unlink(path.c_str());
                    break;
                case Change::Shrink:
                    ::truncate(path.c_str(), static_cast<off_t>(shrunk.size()));
                    break;
                case Change::Grow:
                    WriteFile(path, grown);
                    break;
                }
            };
            if (change == Change::Remove)
                run.Removed(point.name);
            else
                run.AddVersion(point.name, change == Change::Shrink ? shrunk : grown);
            run.Run(&hook);
            ++runs;
            ASSERT_TRUE(hook.Fired()) << Describe(*hook.at) << " #" << hook.occurrence;
            const std::vector<std::string> broken = run.Check();
            std::string text;
            for (const std::string &line : broken)
                text += "\n    " + line;
            EXPECT_TRUE(broken.empty())
                << point.name << " " << kChangeNames[static_cast<int>(change)]
                << " just before its " << point.what << " (call " << point.call << "):" << text;
        }
    }
    std::cout << scenario.name << ": " << points.size() << " change points, " << runs << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Modes, SourceChanges, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) {
                             return info.param.name;
                         });

} // namespace
} // namespace kelvane::test
