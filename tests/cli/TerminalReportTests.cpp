#include "cli/TerminalReport.h"
#include "engine/RunMessages.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "tests/cli/CliTestUtil.h"

namespace kelvane::batch {
namespace {

using kelvane::test::CountOf;

RunReport Ended(long long counted, long long done, bool stopped = false)
{
    RunReport report;
    report.filesCounted = counted;
    report.filesDone = done;
    report.stopped = stopped;
    return report;
}

// A window whose time stands still until the test moves it.
struct Fixture
{
    explicit Fixture(ProgressStyle style) : window(JobSettings {}, err, style)
    {
        window.SetClock([this] { return now; });
    }
    // What the run does at its end: the reset; then the batch program hands the report on.
    void EndRun(const RunReport &report)
    {
        window.StopAnimation();
        window.CloseAnimation();
        window.RepaintAnimation();
        window.SetPos(0);
        window.SetStartCaption("START");
        window.Finish(report);
    }
    void Start(int total)
    {
        window.SetRange(0, total);
        window.SetStep(1);
    }
    void Steps(int n)
    {
        for (int i = 0; i < n; ++i)
            window.StepIt();
    }
    std::ostringstream err;
    double now = 100.0;
    TerminalReport window;
};

TEST(ProgressFormat, BarCountPercentSpeedAndTimeLeft)
{
    const std::string line = FormatProgressBar(5, 10, 2.0);
    EXPECT_EQ(line, "[############            ] 5/10  50%  2.5 files/s  ETA 0:02");
    EXPECT_EQ(FormatProgressBar(10, 10, 4.0), "[########################] 10/10 100%  2.5 files/s");
    // Too early for a speed.
    EXPECT_EQ(FormatProgressBar(1, 3, 0.1), "[########                ] 1/3  33%");
    EXPECT_EQ(FormatProgressBar(0, 3, 10.0), "[                        ] 0/3   0%");
}

TEST(ProgressFormat, UnknownOrExceededTotalShowsTheCountOnly)
{
    EXPECT_EQ(FormatProgressBar(7, 0, 0.0), "7 files");
    EXPECT_EQ(FormatProgressBar(12, 10, 6.0), "12 files  2.0 files/s");
}

TEST(ProgressFormat, Durations)
{
    EXPECT_EQ(FormatDuration(0), "0:00");
    EXPECT_EQ(FormatDuration(65.4), "1:05");
    EXPECT_EQ(FormatDuration(3725), "1:02:05");
    EXPECT_EQ(FormatDuration(-1), "0:00");
}

// The end line says how far the run came, also when it was stopped.
TEST(TerminalReport, SummaryIsOneLineAtStartAndOneAtEnd)
{
    const struct
    {
        int files;
        bool stopped;
        const char *text;
    } cases[] = {{3, false, "kelvane-batch: 3 files\nkelvane-batch: done, 3 of 3 files\n"},
                 {1, true, "kelvane-batch: 1 file\nkelvane-batch: stopped, 1 of 1 file\n"}};
    for (const auto &c : cases) {
        Fixture f(ProgressStyle::Summary);
        f.Start(c.files);
        f.Steps(c.files);
        f.EndRun(Ended(c.files, c.files, c.stopped));
        EXPECT_EQ(f.err.str(), c.text);
    }
}

TEST(TerminalReport, PositionFollowsStepsAndStepBack)
{
    // A zip copy that fails steps once and is stepped back; the next file steps again.
    Fixture f(ProgressStyle::None);
    f.Start(4);
    f.Steps(2);
    f.window.SetPos(f.window.GetPos() - 1);
    f.window.StepIt();
    EXPECT_EQ(f.window.GetPos(), 2);
    f.EndRun(Ended(4, 2));
    EXPECT_EQ(f.err.str(), "");
}

TEST(TerminalReport, ReportsComeFromTheReportAfterTheProgress)
{
    RunReport report = Ended(13, 13);
    report.foldersNotMade = {"/t/x"};
    report.conflictArchive = "/t/conflict.zip";
    report.conflictsArchived = 1;
    for (int i = 10; i < 22; ++i)
        report.notArchived.push_back("/s/f" + std::to_string(i));
    report.failure = "The run ended early: std::bad_alloc";
    std::string reports = "kelvane-batch: Unable to create subfolder\n/t/x\n"
                          "kelvane-batch: File name conflicts!\n"
        + ConflictMessageText(1, "/t/conflict.zip")
        + "\n"
          "kelvane-batch: Some files were not archived\n12 files could not be archived:\n";
    // Every file, not just the first ten that a message box has room for.
    for (const std::string &path : report.notArchived)
        reports += path + "\n";
    reports += "kelvane-batch: Archive run failed\nThe run ended early: std::bad_alloc\n";

    // The window's message boxes print nothing while the run goes on.
    Fixture summary(ProgressStyle::Summary);
    summary.window.SetRange(0, 13);
    summary.window.ShowMessage("text", "Caption");
    summary.EndRun(report);
    EXPECT_EQ(summary.err.str(),
              "kelvane-batch: 13 files\n" + reports + "kelvane-batch: done, 13 of 13 files\n");

    // On a terminal the bar's line is closed first.
    Fixture bar(ProgressStyle::Bar);
    bar.window.SetRange(0, 13);
    bar.EndRun(report);
    const std::string out = bar.err.str();
    const std::string end = "] 13/13 100%\n" + reports;
    ASSERT_GT(out.size(), end.size());
    EXPECT_EQ(out.substr(out.size() - end.size()), end);

    Fixture quiet(ProgressStyle::None);
    quiet.EndRun(report);
    EXPECT_EQ(quiet.err.str(), reports);
}

TEST(TerminalReport, BarIsRedrawnAtMostTenTimesASecond)
{
    Fixture f(ProgressStyle::Bar);
    f.Start(100);
    EXPECT_EQ(CountOf(f.err.str(), "\r"), 1); // the empty bar at the start
    f.Steps(50);
    EXPECT_EQ(CountOf(f.err.str(), "\r"), 1);
    f.now += 0.05;
    f.window.StepIt();
    EXPECT_EQ(CountOf(f.err.str(), "\r"), 1);
    f.now += 0.06;
    f.window.StepIt();
    EXPECT_EQ(CountOf(f.err.str(), "\r"), 2);
    EXPECT_NE(f.err.str().find(" 52/100  52%"), std::string::npos);

    f.now += 0.01;
    f.EndRun(Ended(100, 52));
    // The end always shows the last state, then closes the line; no summary on a terminal.
    const std::string out = f.err.str();
    EXPECT_EQ(CountOf(out, "\r"), 3);
    EXPECT_NE(out.rfind("\r[####"), std::string::npos);
    EXPECT_NE(out.find(" 52/100  52%", out.rfind('\r')), std::string::npos);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find("done"), std::string::npos);
}

TEST(TerminalReport, ShorterBarLineWipesTheLongerOneBefore)
{
    Fixture f(ProgressStyle::Bar);
    f.Start(10);
    f.now += 1;
    f.window.StepIt(); // with a speed and time left: long
    const std::size_t longLine = f.err.str().size() - f.err.str().rfind('\r');
    f.Steps(8);
    f.now += 1;
    f.window.StepIt(); // all done, no time left: short text, padded to the long one
    EXPECT_NE(f.err.str().find("10/10 100%", f.err.str().rfind('\r')), std::string::npos);
    const std::size_t shortLine = f.err.str().size() - f.err.str().rfind('\r');
    EXPECT_EQ(shortLine, longLine);
}

TEST(TerminalReport, PerFileStyleWritesALineForEveryStep)
{
    Fixture f(ProgressStyle::PerFile);
    f.Start(2);
    f.Steps(2);
    f.EndRun(Ended(2, 2));
    EXPECT_EQ(f.err.str(),
              "kelvane-batch: 2 files\n"
              "kelvane-batch: file 1 of 2\n"
              "kelvane-batch: file 2 of 2\n"
              "kelvane-batch: done, 2 of 2 files\n");
}

TEST(TerminalReport, TotalIsTheFullRangeBeyondSixteenBits)
{
    Fixture f(ProgressStyle::None);
    f.window.SetRange(0, 70000);
    EXPECT_EQ(f.window.Total(), 70000);
}

TEST(TerminalReport, SettingsAndStampAsGiven)
{
    JobSettings s;
    s.fileMask = "*.avi";
    s.skipConflicts = 1;
    std::ostringstream err;
    TerminalReport window(s, err, ProgressStyle::None);
    const JobSettings got = window.CurrentSettings();
    EXPECT_EQ(got.fileMask, "*.avi");
    EXPECT_EQ(got.skipConflicts, 1);
    EXPECT_EQ(got.sourceFolder, s.sourceFolder);
    window.SetRunStamp("_20040315_093000");
    EXPECT_EQ(window.RunStamp(), "_20040315_093000");
    EXPECT_FALSE(window.Running());
    EXPECT_FALSE(window.StopRequested());
}

} // namespace
} // namespace kelvane::batch
