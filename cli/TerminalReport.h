#pragma once

#include "engine/RunReport.h"
#include "engine/RunWindow.h"
#include "settings/JobSettings.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

namespace kelvane::batch {

// How progress is shown on standard error.
enum class ProgressStyle {
    None, // nothing but the reports
    Summary, // one line at the start and one at the end
    Bar, // a bar redrawn in place with \r, for a terminal
    PerFile, // one line per file, for logs
};

// One line of the progress bar: bar, count/total, percent, speed and time left. total 0
// means the total is unknown. No line end, no \r.
std::string FormatProgressBar(long long pos, long long total, double elapsedSeconds);

// A bar is redrawn at most this often (seconds); drawing every step would slow a run of
// many small files down to the terminal's speed.
inline constexpr double kRedrawInterval = 0.1;

// Seconds on a steady clock, for the bar's timing.
double SteadySeconds();

// What redraws a bar's line in place: "\r" and line, padded with spaces over the rest of
// a longer line drawn before (width long); width becomes line's.
std::string RedrawnLine(std::string line, std::size_t &width);

// Seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string FormatDuration(double seconds);

// What the run told its user, as the window's message boxes would show it: for each
// report a line with the program's name and the caption, then the text. The list of files
// not archived is complete (a message box shows only the first few).
std::string ReportText(const RunReport &report);

// What stands in for the run's window on a terminal, no window at all: it reports the
// progress on standard error as the run goes, and what the run reported once it has ended
// (Finish). Every call comes from the thread that runs the
// archive run and is done before it returns; a mutex makes the object safe to look at
// from another thread too.
class TerminalReport : public RunWindow, public ProgressDisplay
{
public:
    using Clock = std::function<double()>; // seconds, monotonic

    TerminalReport(JobSettings settings, std::ostream &err, ProgressStyle style);

    // For tests: where the time comes from (a steady clock by default).
    void SetClock(Clock clock);

    // RunWindow
    ProgressDisplay &Progress() override { return *this; }
    void StopAnimation() override { }
    void CloseAnimation() override { }
    void RepaintAnimation() override { }
    void SetStartCaption(const std::string &) override { }
    // Nothing is printed here: the reports come from the run's report, at the end.
    void ShowMessage(const std::string &, const std::string &) override { }
    std::atomic<bool> &Running() override { return running_; }
    std::atomic<bool> &StopRequested() override { return stopRequested_; }
    JobSettings CurrentSettings() override;
    void SetRunStamp(const std::string &stamp) override;

    // ProgressDisplay
    void SetRange(int lower, int upper) override;
    void SetStep(int step) override;
    void StepIt() override;
    int GetPos() override;
    void SetPos(int pos) override;

    // Called once the run is over, with its report: the bar's line is closed, the reports
    // are printed, then the summary line.
    void Finish(const RunReport &report);

    long long Total() const;
    std::string RunStamp() const;
    // Where and how the window writes, for what follows the run (its verification).
    std::ostream &Err() const { return err_; }
    ProgressStyle Style() const { return style_; }

private:
    void ShowProgress(bool force); // mutex held
    void Emit(const std::string &text); // mutex held
    double Now() const;

    mutable std::mutex mutex_;
    JobSettings settings_;
    std::ostream &err_;
    ProgressStyle style_;
    Clock clock_;
    std::atomic<bool> running_ {false};
    std::atomic<bool> stopRequested_ {false};
    std::string runStamp_;

    long long total_ = 0;
    long long pos_ = 0;
    int step_ = 10; // a progress bar's step until told otherwise
    bool ranged_ = false;
    double startTime_ = 0;
    double lastDraw_ = -1;
    std::size_t barWidth_ = 0; // length of the bar line last drawn
};

} // namespace kelvane::batch
