#include "cli/Verification.h"

#include "cli/BatchOptions.h"
#include "io/Io.h"
#include "paths/Paths.h"
#include "verify/StorageFile.h"
#include "verify/ZipCheck.h"

#include <string>
#include <vector>

namespace kelvane::batch {

namespace {

std::string Count(std::uint64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Whether a stored name ends in the name of the file added: its last level is the file's
// name (a "\" in it stored as "_"), or that name numbered (" (2)" before the extension)
// where an earlier entry took it.
bool NameFits(const std::string &stored, std::string bare)
{
    for (char &c : bare)
        if (c == '\\')
            c = '_';
    const std::string_view last = paths::BaseNameOf(stored);
    if (last == bare)
        return true;
    const std::size_t dot = bare.rfind('.');
    const std::string stem = dot == std::string::npos ? bare : bare.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : bare.substr(dot);
    const std::string numbered = stem + " (";
    const std::string closing = ")" + extension;
    return last.size() > numbered.size() + closing.size()
        && last.compare(0, numbered.size(), numbered) == 0
        && last.compare(last.size() - closing.size(), closing.size(), closing) == 0;
}

class Verifier
{
public:
    Verifier(std::ostream &err, ProgressStyle style, const std::atomic<bool> &stop)
        : err_(err), style_(style), stop_(stop), start_(SteadySeconds())
    { }

    VerifyOutcome Run(const RunReport &report)
    {
        outcome_.outputs = report.archivesPlaced.size() + report.copiesPlaced.size();
        for (const auto &sources : report.archiveSources)
            total_ += static_cast<long long>(sources.size());
        total_ += static_cast<long long>(report.copiesPlaced.size());
        Draw(true);
        for (std::size_t i = 0; i < report.archivesPlaced.size() && !outcome_.stopped; ++i) {
            static const std::vector<std::string> none;
            const std::vector<std::string> &sources
                = i < report.archiveSources.size() ? report.archiveSources[i] : none;
            const long long before = pos_;
            VerifyArchive(report.archivesPlaced[i], report.sourceFolder, sources);
            // An archive that failed part-way still moves the bar by all its files.
            pos_ = before + static_cast<long long>(sources.size());
        }
        for (std::size_t i = 0; i < report.copiesPlaced.size() && !outcome_.stopped; ++i) {
            VerifyCopy(report.copiesPlaced[i],
                       paths::JoinPath(report.sourceFolder,
                                       i < report.copySources.size() ? report.copySources[i]
                                                                     : std::string()));
            Step();
        }
        Draw(true);
        EndBarLine();
        Summarise();
        return outcome_;
    }

private:
    void VerifyArchive(const std::string &path, const std::string &folder,
                       const std::vector<std::string> &sources)
    {
        verify::StorageFile file;
        std::string error;
        if (!file.Open(path, error)) {
            Failed(path, "it cannot be read: " + error);
            return;
        }
        const verify::EntryCheck check = [&](const verify::EntryFacts &entry) -> std::string {
            Step();
            if (entry.index >= sources.size())
                return "it holds more entries than the " + Count(sources.size(), "file", "files")
                    + " the run added to it";
            const std::string source = paths::JoinPath(folder, sources[entry.index]);
            const std::string where
                = "entry " + std::to_string(entry.index + 1) + " (" + entry.name + ")";
            if (!NameFits(entry.name, sources[entry.index]))
                return where + " is not the file the run added there, " + source;
            struct stat status
            { };
            // A source that is gone cannot be compared; its data was checked all the same.
            if (io::Stat(source.c_str(), &status) == 0 && S_ISREG(status.st_mode)
                && static_cast<std::uint64_t>(status.st_size) != entry.size)
                return where + " holds " + std::to_string(entry.size) + " bytes, its source "
                    + source + " holds " + std::to_string(status.st_size);
            return {};
        };
        const verify::ZipCheckResult result = verify::CheckZip(file, check, &stop_);
        if (result.stopped) {
            outcome_.stopped = true;
            return;
        }
        if (result.ok && result.entries != sources.size()) {
            Failed(path,
                   "it holds " + Count(result.entries, "entry", "entries") + ", the run added "
                       + Count(sources.size(), "file", "files") + " to it");
            return;
        }
        if (!result.ok) {
            Failed(path, result.problem);
            return;
        }
        ++outcome_.archives;
        outcome_.entries += result.entries;
        if (style_ == ProgressStyle::PerFile)
            Emit(std::string(kProgramName) + ": verified " + path + " ("
                 + Count(result.entries, "entry", "entries") + ")\n");
    }

    void VerifyCopy(const std::string &path, const std::string &source)
    {
        verify::StorageFile copy;
        verify::StorageFile original;
        std::string error;
        if (!copy.Open(path, error)) {
            Failed(path, "it cannot be read: " + error);
            return;
        }
        if (!original.Open(source, error)) {
            Failed(path, "its source " + source + " cannot be read: " + error);
            return;
        }
        const verify::CompareResult result = verify::CompareInputs(copy, original, &stop_);
        if (result.stopped) {
            outcome_.stopped = true;
            return;
        }
        if (!result.problem.empty()) {
            Failed(path, result.problem + " (" + source + ")");
            return;
        }
        ++outcome_.copies;
        if (style_ == ProgressStyle::PerFile)
            Emit(std::string(kProgramName) + ": verified " + path + " (copy of " + source + ")\n");
    }

    void Failed(const std::string &path, const std::string &what)
    {
        ++outcome_.failed;
        EndBarLine();
        Emit(std::string(kProgramName) + ": " + kVerifyFailedCaption + "\n" + path + "\n" + what
             + "\n");
    }

    std::string Verified() const
    {
        std::string text = "verified " + Count(outcome_.archives, "archive", "archives") + " ("
            + Count(outcome_.entries, "entry", "entries") + ")";
        if (outcome_.copies > 0)
            text += " and " + Count(outcome_.copies, "zip copy", "zip copies");
        return text;
    }

    void Summarise()
    {
        const std::string prefix = std::string(kProgramName) + ": ";
        if (outcome_.stopped) {
            // Said even with --quiet: the user must know what was not checked.
            const std::size_t unchecked
                = outcome_.outputs - outcome_.archives - outcome_.copies - outcome_.failed;
            Emit(prefix + "verification stopped; " + Verified() + ", " + std::to_string(unchecked)
                 + " not checked\n");
        } else if (style_ != ProgressStyle::None) {
            Emit(prefix + Verified()
                 + (outcome_.failed ? "; " + std::to_string(outcome_.failed) + " failed" : "")
                 + "\n");
        }
    }

    void Step()
    {
        ++pos_;
        Draw(false);
    }

    // The run's bar goes on through the verification, on a line of its own.
    void Draw(bool force)
    {
        if (style_ != ProgressStyle::Bar)
            return;
        const double now = SteadySeconds();
        if (!force && now - lastDraw_ < kRedrawInterval)
            return;
        lastDraw_ = now;
        Emit(RedrawnLine("verifying " + FormatProgressBar(pos_, total_, now - start_), barWidth_));
    }

    void EndBarLine()
    {
        if (barWidth_ == 0)
            return;
        Emit("\n");
        barWidth_ = 0;
    }

    void Emit(const std::string &text)
    {
        err_.write(text.data(), static_cast<std::streamsize>(text.size()));
        err_.flush();
    }

    std::ostream &err_;
    const ProgressStyle style_;
    const std::atomic<bool> &stop_;
    const double start_;
    double lastDraw_ = -1;
    long long pos_ = 0;
    long long total_ = 0;
    std::size_t barWidth_ = 0;
    VerifyOutcome outcome_;
};

} // namespace

VerifyOutcome VerifyOutputs(const RunReport &report, std::ostream &err, ProgressStyle style,
                            const std::atomic<bool> &stop)
{
    return Verifier(err, style, stop).Run(report);
}

} // namespace kelvane::batch
