#include "cli/TerminalReport.h"

#include "cli/BatchOptions.h"
#include "engine/RunMessages.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

namespace kelvane::batch {

namespace {

constexpr int kBarCells = 24;
// Before this much time has passed a speed would be mostly noise.
constexpr double kMinElapsedForSpeed = 0.5;

std::string FileCount(long long n)
{
    return std::to_string(n) + (n == 1 ? " file" : " files");
}

} // namespace

double SteadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string RedrawnLine(std::string line, std::size_t &width)
{
    const std::size_t drawn = line.size();
    if (drawn < width)
        line.append(width - drawn, ' '); // wipe the rest of a longer earlier line
    width = drawn;
    return "\r" + line;
}

std::string FormatDuration(double seconds)
{
    if (!(seconds >= 0) || seconds > 359999999.0)
        seconds = 0;
    const long long total = std::llround(seconds);
    const long long h = total / 3600;
    const long long m = (total / 60) % 60;
    const long long s = total % 60;
    char buffer[64];
    if (h > 0)
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", h, m, s);
    else
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", m, s);
    return buffer;
}

std::string FormatProgressBar(long long pos, long long total, double elapsedSeconds)
{
    std::string line;
    const bool knownTotal = total > 0 && pos >= 0 && pos <= total;
    if (knownTotal) {
        const long long filled = pos * kBarCells / total;
        line += '[';
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(kBarCells - filled), ' ');
        line += "] ";
        line += std::to_string(pos) + "/" + std::to_string(total);
        char percent[32];
        std::snprintf(percent, sizeof percent, " %3lld%%", pos * 100 / total);
        line += percent;
    } else {
        line += std::to_string(pos) + " files";
    }

    if (elapsedSeconds >= kMinElapsedForSpeed && pos > 0) {
        const double rate = static_cast<double>(pos) / elapsedSeconds;
        char speed[48];
        std::snprintf(speed, sizeof speed, "  %.1f files/s", rate);
        line += speed;
        if (knownTotal && pos < total)
            line += "  ETA " + FormatDuration(static_cast<double>(total - pos) / rate);
    }
    return line;
}

std::string ReportText(const RunReport &report)
{
    std::string text;
    const auto add = [&](const char *caption, const std::string &body) {
        text += std::string(kProgramName) + ": " + caption + "\n" + body;
        if (!body.empty() && body.back() != '\n')
            text += '\n';
    };
    if (!report.unreadableSource.empty())
        add(kUnreadableSourceCaption, report.unreadableSource + "\n" + report.unreadableReason);
    for (const std::string &folder : report.foldersNotMade)
        add(kNoSubfolderCaption, folder);
    if (!report.conflictArchive.empty())
        add(kConflictCaption,
            ConflictMessageText(report.conflictsArchived, report.conflictArchive));
    if (!report.notArchived.empty())
        add(kNotArchivedCaption,
            NotArchivedMessageText(report.notArchived, report.notArchived.size()));
    if (!report.failure.empty())
        add(kRunFailedCaption, report.failure);
    return text;
}

TerminalReport::TerminalReport(JobSettings settings, std::ostream &err, ProgressStyle style)
    : settings_(std::move(settings)), err_(err), style_(style), clock_(SteadySeconds)
{ }

void TerminalReport::SetClock(Clock clock)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = std::move(clock);
}

double TerminalReport::Now() const
{
    return clock_ ? clock_() : 0.0;
}

JobSettings TerminalReport::CurrentSettings()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

void TerminalReport::SetRunStamp(const std::string &stamp)
{
    std::lock_guard<std::mutex> lock(mutex_);
    runStamp_ = stamp;
}

std::string TerminalReport::RunStamp() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return runStamp_;
}

void TerminalReport::SetRange(int lower, int upper)
{
    std::lock_guard<std::mutex> lock(mutex_);
    total_ = static_cast<long long>(upper) - lower;
    if (total_ < 0)
        total_ = 0;
    ranged_ = true;
    startTime_ = Now();
    lastDraw_ = -1;
    if (style_ == ProgressStyle::Summary || style_ == ProgressStyle::PerFile)
        Emit(std::string(kProgramName) + ": " + FileCount(total_) + "\n");
    else if (style_ == ProgressStyle::Bar)
        ShowProgress(true);
}

void TerminalReport::SetStep(int step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = step;
}

void TerminalReport::StepIt()
{
    std::lock_guard<std::mutex> lock(mutex_);
    pos_ += step_;
    if (style_ == ProgressStyle::PerFile)
        Emit(std::string(kProgramName) + ": file " + std::to_string(pos_) + " of "
             + std::to_string(total_) + "\n");
    else
        ShowProgress(false);
}

int TerminalReport::GetPos()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(pos_);
}

void TerminalReport::SetPos(int pos)
{
    // Not drawn: a step back is followed by a step, and the reset's 0 belongs to no file.
    std::lock_guard<std::mutex> lock(mutex_);
    pos_ = pos;
}

void TerminalReport::ShowProgress(bool force)
{
    if (style_ != ProgressStyle::Bar || !ranged_)
        return;
    const double now = Now();
    if (!force && lastDraw_ >= 0 && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    Emit(RedrawnLine(FormatProgressBar(pos_, total_, now - startTime_), barWidth_));
}

void TerminalReport::Emit(const std::string &text)
{
    // One piece per write: a notice from the signal handler may then fall between two
    // lines, never into the middle of one.
    err_.write(text.data(), static_cast<std::streamsize>(text.size()));
    err_.flush();
}

void TerminalReport::Finish(const RunReport &report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool progress = ranged_ && style_ != ProgressStyle::None;
    if (progress && style_ == ProgressStyle::Bar) {
        pos_ = report.filesDone;
        ShowProgress(true);
        Emit("\n");
        barWidth_ = 0;
    }
    const std::string reports = ReportText(report);
    if (!reports.empty())
        Emit(reports);
    // On a terminal the bar says how far a complete run came.
    if (!progress || (style_ == ProgressStyle::Bar && !report.stopped))
        return;
    Emit(std::string(kProgramName) + (report.stopped ? ": stopped, " : ": done, ")
         + std::to_string(report.filesDone) + " of " + FileCount(report.filesCounted) + "\n");
}

long long TerminalReport::Total() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

} // namespace kelvane::batch
