#include "cli/Batch.h"

#include "cli/StopSignals.h"
#include "cli/Verification.h"
#include "engine/ArchiveRun.h"
#include "io/Io.h"
#include "paths/Paths.h"
#include "settings/JobSettings.h"
#include "settings/SettingsFile.h"

#include <unistd.h>

namespace kelvane::batch {

namespace {

constexpr const char *kSourceNotFoundCaption = "Source folder not found";

// True when path names a folder (a link to one counts).
bool IsFolder(const std::string &path)
{
    struct stat status;
    return io::Stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

ProgressStyle ChooseStyle(const BatchOptions &options, bool errIsTerminal)
{
    if (options.quiet)
        return ProgressStyle::None;
    if (options.verbose)
        return ProgressStyle::PerFile;
    return errIsTerminal ? ProgressStyle::Bar : ProgressStyle::Summary;
}

int ExitStatusFor(const RunReport &report)
{
    if (report.stopped)
        return kExitStopped;
    return report.HasReports() ? kExitReported : kExitClean;
}

int RunJob(TerminalReport &window, bool verify)
{
    RunReport report;
    report.keepSources = verify;
    ArchiveRun(window, report);
    window.Finish(report);
    const int status = ExitStatusFor(report);
    // A stopped run is not checked: the user asked for it to end.
    if (!verify || report.stopped)
        return status;
    const VerifyOutcome outcome
        = VerifyOutputs(report, window.Err(), window.Style(), window.StopRequested());
    if (outcome.stopped)
        return kExitStopped;
    return outcome.failed > 0 ? kExitReported : status;
}

int BatchMain(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
              bool errIsTerminal, bool handleSignals)
{
    const BatchOptions options = ParseArguments(args);
    switch (options.action) {
    case BatchOptions::Action::UsageError:
        err << kProgramName << ": " << options.error << '\n'
            << "Try '" << kProgramName << " --help'.\n"
            << std::flush;
        return kExitUsage;
    case BatchOptions::Action::Help:
        out << UsageText() << std::flush;
        return kExitClean;
    case BatchOptions::Action::Version:
        out << kVersionLine << '\n' << std::flush;
        return kExitClean;
    case BatchOptions::Action::Run:
        break;
    }

    JobSettings settings;
    if (options.hasSettingsPath) {
        // A file named on the command line must be there: running the defaults instead
        // would archive some other folder than the one the caller meant.
        if (!LoadSettingsFile(options.settingsPath, settings)) {
            err << kProgramName << ": cannot read settings file '" << options.settingsPath << "'\n"
                << std::flush;
            return kExitUsage;
        }
    } else {
        // As the window does: "kelvane.ini" in the current directory, the defaults without.
        LoadSettings(settings);
    }

    // A missing source folder (a card not inserted, a share not mounted, a typo) is no
    // empty run: a scheduled job would fail in silence every night. Nothing is created.
    // An empty setting names the root, as the search takes it.
    const std::string source = paths::NativeFolder(settings.sourceFolder);
    if (!IsFolder(paths::FolderOrRoot(source))) {
        err << kProgramName << ": " << kSourceNotFoundCaption << '\n'
            << source << '\n'
            << std::flush;
        return kExitReported;
    }

    const ProgressStyle style = ChooseStyle(options, errIsTerminal);
    TerminalReport window(settings, err, style);

    if (handleSignals) {
        SetStopNoticeFd(STDERR_FILENO, style == ProgressStyle::Bar);
        SetStopTarget(&window.StopRequested());
        if (!InstallStopSignals())
            err << kProgramName << ": warning: Ctrl+C may not stop the run cleanly\n" << std::flush;
    }
    const int status = RunJob(window, options.verify);
    if (handleSignals)
        SetStopTarget(nullptr); // the window is about to go away
    return status;
}

} // namespace kelvane::batch
