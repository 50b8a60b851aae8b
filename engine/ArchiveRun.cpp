#include "engine/ArchiveRun.h"

#include "engine/BackEndArchives.h"
#include "engine/FinishedOutput.h"
#include "engine/RunMessages.h"
#include "engine/RunNames.h"
#include "engine/TargetFolders.h"
#include "folders/FileSystem.h"
#include "folders/FolderSearch.h"
#include "paths/Paths.h"
#include "placement/Placement.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <optional>
#include <set>
#include <vector>

namespace kelvane {

namespace {

bool IsDotEntry(const std::string &name)
{
    return name == "." || name == "..";
}

// Whether a search entry is one of the files a run takes.
bool IsSourceFile(const folders::DirEntry &entry)
{
    // A temporary is a copy or an archive still being written, perhaps by another run.
    return !IsDotEntry(entry.name) && !entry.isDirectory && !placement::IsTempName(entry.name);
}

struct MapEntry
{
    std::string archivePath;
    SourceFile file;
};

// The progress bar as the run moves it, with the report's count of files done kept in
// step: every counted file moves both on by one in the end.
class FilesDone
{
public:
    FilesDone(ProgressDisplay &progress, long long &done) : progress_(progress), done_(done) { }

    // A file is about to reach its end.
    void Step()
    {
        progress_.StepIt();
        ++done_;
    }
    // Files stepped already that will be stepped again where they end (the conflict pass).
    void StepBack(int files)
    {
        progress_.SetPos(progress_.GetPos() - files);
        done_ -= files;
    }

private:
    ProgressDisplay &progress_;
    long long &done_;
};

// What an archive that may replace an earlier one (the single archive, the conflict
// archive) may take the place of: an archive that was stopped, or that holds no file,
// never replaces anything, so that it never costs the user a complete earlier archive.
Replacing ReplacingFor(bool completed, std::size_t filesAdded, Replacing whenFull)
{
    return completed && filesAdded > 0 ? whenFull : Replacing::Nothing;
}

// Archives the files of one run's snapshot of the source folder into its output folder,
// which is ready: copies, the single or the per-name archives, then the conflict archive.
// What it does goes into the run's report as it happens.
class Archiver
{
public:
    Archiver(RunWindow &window, const JobSettings &settings, const RunPaths &paths,
             const FileIdentity &olderConflictArchive, RunReport &report)
        : window_(window)
        , progress_(window.Progress(), report.filesDone)
        , paths_(paths)
        , olderConflictArchive_(olderConflictArchive)
        , singleMode_(settings.keepIndividual == 0)
        , skipConflicts_(settings.skipConflicts != 0)
        , storePath_(settings.storePathInZip != 0)
        , report_(report)
        , notArchived_(report.notArchived)
        , names_(placement::FolderNames::Of(paths.outputFolder))
    { }

    // Each returns false when a stop request ended the run.
    bool CopyZipsAndFillSingleArchive(const std::vector<folders::DirEntry> &entries);
    bool FillPerNameArchives();
    bool PackConflicts();

    void ReportNotArchived()
    {
        if (!report_.notArchived.empty())
            window_.ShowMessage(NotArchivedMessageText(report_.notArchived), kNotArchivedCaption);
    }

private:
    bool StopRequested() { return window_.StopRequested().load(); }
    void CopyZipFile(const SourceFile &file);
    void AddConflict(const SourceFile &file)
    {
        conflicts_.push_back(file);
        report_.conflicts.push_back(file.Path());
    }
    void ArchivePlaced(const std::string &path, const std::vector<SourceFile> &added)
    {
        Take(path);
        report_.archivesPlaced.push_back(path);
        if (report_.keepSources) {
            std::vector<std::string> &sources = report_.archiveSources.emplace_back();
            sources.reserve(added.size());
            for (const SourceFile &file : added)
                sources.push_back(file.Name()); // bare names: short ones take no heap
        }
    }
    // Names are compared as the output folder compares them: "Clip.zip" and "clip.zip"
    // are one name where it folds case.
    void Take(const std::string &path) { taken_.insert(names_.Key(path)); }
    bool IsTaken(const std::string &path) const { return taken_.count(names_.Key(path)) != 0; }
    // Takes the outcome of a per-name archive's close: its files are placed, or lost.
    void SettlePerName(const std::string &path, bool closed, const std::vector<SourceFile> &added);

    RunWindow &window_;
    FilesDone progress_;
    const RunPaths &paths_;
    // What stood at the conflict archive's name when the run began: the one file there
    // that the conflict archive may replace.
    const FileIdentity olderConflictArchive_;
    const bool singleMode_;
    const bool skipConflicts_;
    const bool storePath_;
    RunReport &report_;
    NotArchived notArchived_;
    std::vector<MapEntry> archiveMap_;
    std::vector<SourceFile> conflicts_;
    const placement::FolderNames names_;
    // The keys of every name this run has put in the output folder so far, or given to a
    // per-name archive that is still closing. A later output of the run at one of them
    // must not replace that one, nor take the name before it.
    std::set<std::string> taken_;
};

// Takes the snapshot's files in search order: zip files are copied as they are; other
// files go into the single archive, or in per-name mode into the archive map.
bool Archiver::CopyZipsAndFillSingleArchive(const std::vector<folders::DirEntry> &entries)
{
    std::optional<PrivateArchive> single;
    if (singleMode_) {
        single.emplace(notArchived_, paths_.singleArchive);
        single->Reserve(entries.size());
    }

    bool completed = true;
    for (const folders::DirEntry &entry : entries) {
        if (StopRequested()) {
            completed = false;
            break;
        }
        if (!IsSourceFile(entry))
            continue;
        const NameParts parts = SplitFileName(entry.name);
        const SourceFile file {&paths_.sourceFolder, &entry.name};
        if (IsZipExtension(parts.extension)) {
            CopyZipFile(file);
        } else if (single) {
            progress_.Step();
            single->Add(file, storePath_);
        } else {
            archiveMap_.push_back(
                {paths::JoinPath(paths_.outputFolder, parts.baseName + ".zip"), file});
        }
    }

    if (single) {
        // Without time stamps every run's single archive has the same name: a complete one
        // replaces the earlier run's.
        std::vector<SourceFile> added;
        const std::string placedAt
            = single->Place(ReplacingFor(completed, single->FilesAdded(), Replacing::Anything),
                            FileIdentity {}, added);
        if (!placedAt.empty())
            ArchivePlaced(placedAt, added);
    }
    return completed;
}

void Archiver::CopyZipFile(const SourceFile &file)
{
    progress_.Step();
    const std::string copyTarget = paths::JoinPath(paths_.outputFolder, file.Name());
    // The single archive, put in place after the copies, would replace the copy: its name
    // counts as taken.
    const bool taken = singleMode_ && names_.Same(copyTarget, paths_.singleArchive);
    // The run syncs the output folder once, at its end.
    const std::error_code error = taken
        ? std::make_error_code(std::errc::file_exists)
        : placement::CopyFileNoReplace(file.Path(), copyTarget, placement::FolderSync::Later);
    if (!error) {
        Take(copyTarget);
        report_.copiesPlaced.push_back(copyTarget);
        if (report_.keepSources)
            report_.copySources.push_back(file.Name());
    } else if (skipConflicts_ && error != std::errc::file_exists) {
        // No conflict at all: the copy failed (a full disk, a source that went). Skipping
        // it like a conflict would lose the file without a word.
        notArchived_.Add(file.Path());
    } else {
        AddConflict(file);
        if (!skipConflicts_)
            progress_.StepBack(1);
    }
}

bool Archiver::FillPerNameArchives()
{
    // Equal paths keep the search order of their files.
    std::stable_sort(archiveMap_.begin(), archiveMap_.end(),
                     [](const MapEntry &a, const MapEntry &b) {
                         return ArchivePathLess(a.archivePath, b.archivePath);
                     });

    OpenArchive current(notArchived_);
    PerNameClosing closing(
        [this](const std::string &path, bool closed, const std::vector<SourceFile> &files) {
            SettlePerName(path, closed, files);
        });
    std::string openPath;
    for (const MapEntry &entry : archiveMap_) {
        if (StopRequested()) {
            closing.SettleAll();
            // Closed here: a close that fails reports its files as not archived, for no
            // conflict pass follows.
            std::vector<SourceFile> added;
            if (report_.keepSources)
                added = current.Added();
            if (current.Close())
                ArchivePlaced(current.Path(), added);
            return false;
        }
        if (entry.archivePath != openPath) {
            closing.HandOver(current);
            // An archive of that name from an earlier run, or one of this run whose name
            // differs only in letter case where the folder folds case (the first in the
            // order has it, even while it is still closing): never add to it or replace it.
            // The open path stays, so the other files of this name meet the same test.
            if (IsTaken(entry.archivePath) || folders::CanOpenForReading(entry.archivePath)) {
                AddConflict(entry.file);
                if (skipConflicts_)
                    progress_.Step();
                continue;
            }
            current.Open(entry.archivePath, kNeverReplaceMode);
            openPath = entry.archivePath;
            Take(openPath);
        }
        progress_.Step();
        current.Add(entry.file, storePath_);
    }
    closing.HandOver(current);
    closing.SettleAll();
    return true;
}

void Archiver::SettlePerName(const std::string &path, bool closed,
                             const std::vector<SourceFile> &lost)
{
    if (closed) {
        ArchivePlaced(path, lost); // closed: none lost, these are its files
        return;
    }
    if (lost.empty())
        return;
    // The name was free when the archive was opened; if something is there now, another
    // run has put its archive there meanwhile. This run lost the race for the name, and
    // its files are conflicts, like those of an archive found there before.
    if (!IdentityOf(path).exists) {
        notArchived_.Add(lost);
        return;
    }
    for (const SourceFile &file : lost)
        AddConflict(file);
    // They were stepped before their adds, and are stepped again when the conflict
    // archive takes them.
    if (!skipConflicts_)
        progress_.StepBack(static_cast<int>(lost.size()));
}

bool Archiver::PackConflicts()
{
    if (skipConflicts_ || conflicts_.empty())
        return true;

    PrivateArchive archive(notArchived_, paths_.conflictArchive);
    bool completed = true;
    for (const SourceFile &file : conflicts_) {
        if (StopRequested()) {
            completed = false;
            break;
        }
        progress_.Step();
        archive.Add(file, storePath_);
    }

    // The file found at the name when the run began may be replaced, but not a conflict
    // archive that another run put there meanwhile, which may hold other files, nor an
    // output of this run (a single archive of a source folder named "conflict", a
    // per-name archive "conflict.zip").
    const std::size_t packed = archive.FilesAdded();
    const bool ownOutput = IsTaken(paths_.conflictArchive);
    const Replacing replacing
        = ownOutput ? Replacing::Nothing : ReplacingFor(completed, packed, Replacing::Older);
    std::vector<SourceFile> added;
    const std::string placedAt = archive.Place(replacing, olderConflictArchive_, added);
    if (placedAt.empty())
        return completed;
    ArchivePlaced(placedAt, added);
    if (completed && packed > 0) {
        // Only the files really in the archive are counted; the others are named in the
        // "not archived" message that follows.
        report_.conflictArchive = placedAt;
        report_.conflictsArchived = packed;
        window_.ShowMessage(ConflictMessageText(packed, placedAt), kConflictCaption);
    }
    return completed;
}

void ReportUnreadableSource(RunWindow &window, RunReport &report, const std::string &folder,
                            int error)
{
    report.unreadableSource = folder;
    report.unreadableReason = std::strerror(error);
    window.ShowMessage(folder + "\n" + report.unreadableReason, kUnreadableSourceCaption);
}

} // namespace

long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask,
                             RunReport &report)
{
    const folders::FolderSearch search = folders::SearchFolderChecked(folder, mask);
    // Files that could not be seen cannot be archived: a partial count would pass over
    // them in silence.
    const long long count = search.error
        ? 0
        : std::count_if(search.entries.begin(), search.entries.end(), IsSourceFile);
    ProgressDisplay &progress = window.Progress();
    progress.SetRange(0, static_cast<int>(std::min<long long>(count, INT_MAX)));
    progress.SetStep(1);
    if (search.error)
        ReportUnreadableSource(window, report, folder, search.error);
    return count;
}

long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask)
{
    RunReport report;
    return CountMatchingFiles(window, folder, mask, report);
}

void ProcessFiles(RunWindow &window, const JobSettings &settings, const std::string &runStamp,
                  RunReport &report)
{
    const RunPaths paths = DeriveRunPaths(settings, runStamp);

    // The snapshot of the source folder is taken before anything is written, so that a
    // target inside the source folder never feeds the run its own output.
    const folders::FolderSearch search
        = folders::SearchFolderChecked(paths.sourceFolder, paths.fileMask);
    if (search.error) {
        ReportUnreadableSource(window, report, paths.sourceFolder, search.error);
        return;
    }
    const std::vector<folders::DirEntry> &entries = search.entries;
    const FileIdentity olderConflictArchive = IdentityOf(paths.conflictArchive);
    if (report.keepSources)
        report.sourceFolder = paths.sourceFolder;

    const std::string levelNotMade = CreateTargetPath(window, settings.targetFolder);
    if (!levelNotMade.empty())
        report.foldersNotMade.push_back(levelNotMade);

    if (settings.createSubFolder && !folders::CreateDirectoryLevel(paths.outputFolder)
        && folders::SearchFolder(paths.outputFolder, "*.*").empty()) {
        report.foldersNotMade.push_back(paths.outputFolder);
        window.ShowMessage(paths.outputFolder, kNoSubfolderCaption);
        return;
    }

    // Leftovers of runs that were killed while writing here; never a file that a live run
    // is still writing (it holds a lock on it), and nothing the user is told about.
    placement::RemoveLeftoverTemps(paths.outputFolder);

    Archiver archiver(window, settings, paths, olderConflictArchive, report);
    // Each step ends the run when a stop request came during it.
    const bool completed = archiver.CopyZipsAndFillSingleArchive(entries)
        && archiver.FillPerNameArchives() && archiver.PackConflicts();
    report.stopped = !completed;
    // The back end syncs each archive and CopyZipFile each copy, not the folder: one sync
    // here makes every new name durable at the cost of one, not one per output.
    placement::SyncFolder(paths.outputFolder);
    archiver.ReportNotArchived();
}

void ResetAfterRun(RunWindow &window)
{
    window.StopAnimation();
    window.CloseAnimation();
    window.RepaintAnimation();
    window.Progress().SetPos(0);
    window.SetStartCaption("START");
}

void ArchiveRun(RunWindow &window, RunReport &report)
{
    window.Running().store(true);
    try {
        const JobSettings settings = window.CurrentSettings();
        const std::string stamp = MakeRunStamp();
        window.SetRunStamp(stamp);
        const std::string folder = paths::NativeFolder(settings.sourceFolder);
        report.filesCounted = CountMatchingFiles(window, folder, settings.fileMask, report);
        if (report.filesCounted >= 1)
            ProcessFiles(window, settings, stamp, report);
    } catch (const std::exception &error) {
        // Out of memory, most likely. The window must still be put back and the flag
        // cleared, or the program could never start another run.
        report.failure = std::string("The run ended early: ") + error.what();
        window.ShowMessage(report.failure, kRunFailedCaption);
    }
    ResetAfterRun(window);
    window.Running().store(false);
}

void ArchiveRun(RunWindow &window)
{
    RunReport report;
    ArchiveRun(window, report);
}

} // namespace kelvane
