#include "engine/ArchiveRun.h"

#include "engine/ArchiveClosers.h"
#include "engine/OutputPlacement.h"
#include "placement/Placement.h"
#include "platform/FileSystem.h"
#include "platform/FolderSearch.h"
#include "tamsorel/tamsorel.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <set>
#include <vector>

#include <unistd.h>

namespace kelvane {

namespace {

// Open modes of the back end. The single and the conflict archive replace an older file
// at their name once they are complete; a per-name archive must never replace a file
// that appeared after the run found the name free.
constexpr int kReplaceMode = 0;
constexpr int kNeverReplaceMode = 1;

// Per-name archives closing at once at most, and the size up to which an archive's
// files count as small enough to close alongside many others. An archive of larger files
// may hold large buffers until its data is written: two of them close at once at most,
// so that one syncs while the next compresses (the back end's budget for bytes in flight
// allows for that and the archive being filled).
constexpr std::size_t kClosingAtOnce = 16;
constexpr std::size_t kLargeClosingAtOnce = 2;
constexpr std::uint64_t kSmallArchive = std::uint64_t {1} << 20;

// A copy or an archive still being written, perhaps by another run.
bool IsTemporaryName(const std::string &name)
{
    return name.compare(0, sizeof platform::kTempPrefix - 1, platform::kTempPrefix) == 0;
}

bool IsDotEntry(const std::string &name)
{
    return name == "." || name == "..";
}

// Whether a search entry is one of the files a run takes.
bool IsSourceFile(const platform::DirEntry &entry)
{
    return !IsDotEntry(entry.name) && !entry.isDirectory && !IsTemporaryName(entry.name);
}

// A file of the source folder as the run handles it.
struct SourceFile
{
    std::string path; // source folder joined with the name
    std::string name; // bare name, the entry name when paths are not stored
};

struct MapEntry
{
    std::string archivePath;
    SourceFile file;
};

// The files that did not reach an archive, each once, in the order they were found.
class NotArchived
{
public:
    void Add(const std::string &path)
    {
        if (seen_.insert(path).second)
            paths_.push_back(path);
    }
    bool Empty() const { return paths_.empty(); }

    std::string MessageText() const
    {
        std::string text = std::to_string(paths_.size()) + " files could not be archived:\n";
        const std::size_t listed = std::min(paths_.size(), kNotArchivedListed);
        for (std::size_t i = 0; i < listed; ++i)
            text += paths_[i] + "\n";
        if (paths_.size() > listed)
            text += "...\n";
        return text;
    }

private:
    std::set<std::string> seen_;
    std::vector<std::string> paths_;
};

// One archive of the back end and the files added to it so far, so that a close that
// fails can name every file it lost. Closed on destruction if still open.
class OpenArchive
{
public:
    explicit OpenArchive(NotArchived &notArchived) : notArchived_(notArchived) { }
    ~OpenArchive() { Close(); }
    OpenArchive(const OpenArchive &) = delete;
    OpenArchive &operator=(const OpenArchive &) = delete;

    void Open(const std::string &path, int mode)
    {
        path_ = path;
        handle_ = ArchiveOpen(path.c_str(), mode);
    }
    const std::string &Path() const { return path_; }
    bool IsOpen() const { return handle_ != nullptr; }
    const std::vector<SourceFile> &Added() const { return added_; }

    // Hands the archive over to be closed elsewhere, with the files added to it.
    ArchiveHandle Detach(std::vector<SourceFile> &added)
    {
        added = std::move(added_);
        added_.clear();
        ArchiveHandle handle = handle_;
        handle_ = nullptr;
        return handle;
    }

    // A null handle (the open failed) adds nothing and reports failure.
    void Add(const SourceFile &file, bool storePath)
    {
        const char *entryName = storePath ? nullptr : file.name.c_str();
        if (ArchiveAddFile(handle_, file.path.c_str(), nullptr, 0, entryName))
            added_.push_back(file);
        else
            notArchived_.Add(file.path);
    }

    // True when the archive was open and is now complete at its name. When the close
    // fails, the files added are reported as not archived.
    bool Close()
    {
        if (!handle_)
            return false;
        const bool closed = ArchiveClose(&handle_);
        handle_ = nullptr;
        if (!closed) {
            for (const SourceFile &file : added_)
                notArchived_.Add(file.path);
        }
        added_.clear();
        return closed;
    }

private:
    NotArchived &notArchived_;
    std::string path_;
    ArchiveHandle handle_ = nullptr;
    std::vector<SourceFile> added_;
};

// The state of ProcessFiles once the output folder is ready.
class Passes
{
public:
    Passes(RunWindow &window, const JobSettings &settings, const RunPaths &paths,
           const FileIdentity &olderConflictArchive)
        : window_(window)
        , progress_(window.Progress())
        , paths_(paths)
        , olderConflictArchive_(olderConflictArchive)
        , singleMode_(settings.keepIndividual == 0)
        , skipConflicts_(settings.skipConflicts != 0)
        , storePath_(settings.storePathInZip != 0)
    { }

    // Each pass returns false when a stop request ended the run.
    bool Enumerate(const std::vector<platform::DirEntry> &entries);
    bool PerNamePass();
    bool ConflictPass();

    void ReportNotArchived()
    {
        if (!notArchived_.Empty())
            window_.ShowMessage(notArchived_.MessageText(), kNotArchivedCaption);
    }

private:
    bool StopRequested() { return window_.StopRequested().load(); }
    void AddConflict(const SourceFile &file) { conflicts_.push_back(file); }
    void Close(OpenArchive &archive)
    {
        if (archive.Close())
            placed_.insert(archive.Path());
    }
    // Takes the outcome of a per-name archive's close: its files are placed, or lost.
    void SettlePerName(const std::string &path, bool closed, const std::vector<SourceFile> &added);
    bool FillConflictArchive(OpenArchive &archive);

    RunWindow &window_;
    ProgressDisplay &progress_;
    const RunPaths &paths_;
    // What stood at the conflict archive's name when the run began: the one file there
    // that the conflict archive may replace.
    const FileIdentity olderConflictArchive_;
    const bool singleMode_;
    const bool skipConflicts_;
    const bool storePath_;
    NotArchived notArchived_;
    std::vector<MapEntry> archiveMap_;
    std::vector<SourceFile> conflicts_;
    // Everything this run has put in the output folder so far. A later output of the
    // run at one of these names must not replace it.
    std::set<std::string> placed_;
};

bool Passes::Enumerate(const std::vector<platform::DirEntry> &entries)
{
    OpenArchive single(notArchived_);
    if (singleMode_)
        single.Open(paths_.singleArchive, kReplaceMode);

    for (const platform::DirEntry &entry : entries) {
        if (StopRequested())
            return false; // the single archive is closed on the way out
        if (!IsSourceFile(entry))
            continue;

        const NameParts parts = SplitFileName(entry.name);
        const SourceFile file {platform::JoinPath(paths_.sourceFolder, entry.name), entry.name};
        if (IsZipExtension(parts.extension)) {
            progress_.StepIt();
            const std::string copyTarget = platform::JoinPath(paths_.outputFolder, entry.name);
            // The single archive, put in place after this pass, would replace the copy: its
            // name counts as taken.
            const bool taken = singleMode_ && copyTarget == paths_.singleArchive;
            if (!taken && platform::CopyFileNoReplace(file.path, copyTarget)) {
                placed_.insert(copyTarget);
            } else if (skipConflicts_ && !taken && !IdentityOf(copyTarget).exists) {
                // No conflict at all: the copy failed (a full disk, a source that went).
                // Skipping it like a conflict would lose the file without a word.
                notArchived_.Add(file.path);
            } else {
                AddConflict(file);
                // It is stepped again when the conflict archive takes it.
                if (!skipConflicts_)
                    progress_.SetPos(progress_.GetPos() - 1);
            }
        } else if (!singleMode_) {
            archiveMap_.push_back(
                {platform::JoinPath(paths_.outputFolder, parts.baseName + ".zip"), file});
        } else {
            progress_.StepIt();
            single.Add(file, storePath_);
        }
    }
    Close(single);
    return true;
}

bool Passes::PerNamePass()
{
    // Equal paths keep the search order of their files.
    std::stable_sort(archiveMap_.begin(), archiveMap_.end(),
                     [](const MapEntry &a, const MapEntry &b) {
                         return ArchivePathLess(a.archivePath, b.archivePath);
                     });

    OpenArchive current(notArchived_);
    // Archives closing in the background while the next ones are filled, oldest first.
    // Their outcomes are taken in that order, on this thread.
    struct Closing
    {
        std::string path;
        std::vector<SourceFile> files;
        std::uint64_t bytes = 0;
        ArchiveClosers::Ticket ticket = nullptr;
    };
    std::deque<Closing> closing;
    ArchiveClosers closers(kClosingAtOnce);
    const auto settleOldest = [&] {
        const Closing &oldest = closing.front();
        SettlePerName(oldest.path, closers.Wait(oldest.ticket), oldest.files);
        closing.pop_front();
    };
    const auto settleAll = [&] {
        while (!closing.empty())
            settleOldest();
    };
    const auto handOver = [&] {
        if (!current.IsOpen())
            return;
        Closing next;
        next.path = current.Path();
        ArchiveHandle handle = current.Detach(next.files);
        for (const SourceFile &file : next.files)
            next.bytes += platform::FileSize(file.path);
        // Small archives close many at a time, so that their syncs reach the disk together.
        const auto isLarge = [](const Closing &c) { return c.bytes > kSmallArchive; };
        for (;;) {
            const bool anyLarge
                = isLarge(next) || std::any_of(closing.begin(), closing.end(), isLarge);
            if (closing.size() < (anyLarge ? kLargeClosingAtOnce : kClosingAtOnce))
                break;
            settleOldest();
        }
        next.ticket = closers.Start(handle);
        if (next.ticket) {
            closing.push_back(std::move(next));
        } else {
            settleAll();
            SettlePerName(next.path, ArchiveClose(&handle), next.files);
        }
    };

    std::string openPath;
    for (const MapEntry &entry : archiveMap_) {
        if (StopRequested()) {
            settleAll();
            return false; // a close that fails now reports its files as not archived
        }
        if (entry.archivePath != openPath) {
            handOver();
            // An archive of that name from an earlier run: never add to it or replace it.
            // The open path stays, so the other files of this name meet the same test.
            if (platform::CanOpenForReading(entry.archivePath)) {
                AddConflict(entry.file);
                if (skipConflicts_)
                    progress_.StepIt();
                continue;
            }
            current.Open(entry.archivePath, kNeverReplaceMode);
            openPath = entry.archivePath;
        }
        progress_.StepIt();
        current.Add(entry.file, storePath_);
    }
    handOver();
    settleAll();
    return true;
}

void Passes::SettlePerName(const std::string &path, bool closed,
                           const std::vector<SourceFile> &lost)
{
    if (closed) {
        placed_.insert(path);
        return;
    }
    if (lost.empty())
        return;
    // The name was free when the archive was opened; if something is there now, another
    // run has put its archive there meanwhile. This run lost the race for the name, and
    // its files are conflicts, like those of an archive found there before.
    if (!IdentityOf(path).exists) {
        for (const SourceFile &file : lost)
            notArchived_.Add(file.path);
        return;
    }
    for (const SourceFile &file : lost)
        AddConflict(file);
    // They were stepped before their adds, and are stepped again when the conflict
    // archive takes them.
    if (!skipConflicts_)
        progress_.SetPos(progress_.GetPos() - static_cast<int>(lost.size()));
}

bool Passes::FillConflictArchive(OpenArchive &archive)
{
    for (const SourceFile &file : conflicts_) {
        if (StopRequested())
            return false;
        progress_.StepIt();
        archive.Add(file, storePath_);
    }
    return true;
}

bool Passes::ConflictPass()
{
    if (skipConflicts_ || conflicts_.empty())
        return true;

    OpenArchive archive(notArchived_);
    // An output of this run at that name (a single archive of a source folder named
    // "conflict", a per-name archive "conflict.zip") is never replaced: the back end's
    // close fails, and the files are reported as not archived.
    if (placed_.count(paths_.conflictArchive)) {
        archive.Open(paths_.conflictArchive, kNeverReplaceMode);
        const bool completed = FillConflictArchive(archive);
        archive.Close();
        return completed;
    }

    // The archive is finished under a private name of this run, and only then put at its
    // name: the file found there when the run began is replaced, but not a conflict
    // archive that another run put there meanwhile, which may hold other files. The
    // private name is an empty temporary file's name with ".zip" added; the empty file
    // stays open and locked until the archive has left the private name, so that another
    // run's cleanup of leftovers keeps the finished archive too.
    placement::TempFile reserved = placement::TempFile::CreateBeside(paths_.conflictArchive);
    const std::string privatePath = reserved.IsOpen() ? reserved.Path() + ".zip" : std::string();
    archive.Open(privatePath, kReplaceMode); // no name: no archive, every add fails
    const bool completed = FillConflictArchive(archive);
    const std::vector<SourceFile> added = archive.Added();
    std::string placedAt;
    if (archive.Close())
        placedAt = PlaceFinishedFile(privatePath, paths_.conflictArchive, olderConflictArchive_);
    else if (!privatePath.empty())
        placement::RemoveFile(privatePath);
    reserved.Discard();
    if (placedAt.empty()) {
        for (const SourceFile &file : added)
            notArchived_.Add(file.path);
    } else if (completed && !added.empty()) {
        // Only the files really in the archive are counted; the others are named in the
        // "not archived" message that follows.
        window_.ShowMessage(ConflictMessageText(added.size(), placedAt), kConflictCaption);
    }
    return completed;
}

void ReportUnreadableSource(RunWindow &window, const std::string &folder, int error)
{
    window.ShowMessage(folder + "\n" + std::strerror(error), kUnreadableSourceCaption);
}

} // namespace

long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask)
{
    const platform::FolderSearch search = platform::SearchFolderChecked(folder, mask);
    // Files that could not be seen cannot be archived: a partial count would pass over
    // them in silence.
    const long long count = search.error
        ? 0
        : std::count_if(search.entries.begin(), search.entries.end(), IsSourceFile);
    ProgressDisplay &progress = window.Progress();
    progress.SetRange(0, static_cast<int>(std::min<long long>(count, INT_MAX)));
    progress.SetStep(1);
    if (search.error)
        ReportUnreadableSource(window, folder, search.error);
    return count;
}

int ProcessFiles(RunWindow &window, const JobSettings &settings, const std::string &runStamp)
{
    const RunPaths paths = DeriveRunPaths(settings, runStamp);

    // The snapshot of the source folder is taken before anything is written, so that a
    // target inside the source folder never feeds the run its own output.
    const platform::FolderSearch search
        = platform::SearchFolderChecked(paths.sourceFolder, paths.fileMask);
    if (search.error) {
        ReportUnreadableSource(window, paths.sourceFolder, search.error);
        return 0;
    }
    const std::vector<platform::DirEntry> &entries = search.entries;
    const FileIdentity olderConflictArchive = IdentityOf(paths.conflictArchive);

    CreateTargetPath(window, settings.targetFolder);

    if (settings.createSubFolder && !platform::CreateDirectoryLevel(paths.outputFolder)
        && platform::SearchFolder(paths.outputFolder, "*.*").empty()) {
        window.ShowMessage(paths.outputFolder, kNoSubfolderCaption);
        return 0;
    }

    // Leftovers of runs that were killed while writing here; never a file that a live run
    // is still writing (it holds a lock on it), and nothing the user is told about.
    platform::RemoveLeftoverTemps(paths.outputFolder);

    Passes passes(window, settings, paths, olderConflictArchive);
    if (passes.Enumerate(entries) && passes.PerNamePass())
        passes.ConflictPass();
    // The back end syncs each archive, not the folder: one sync here makes every new name
    // durable at the cost of one, not one per archive.
    platform::SyncFolder(paths.outputFolder);
    passes.ReportNotArchived();
    return 0;
}

void ResetAfterRun(RunWindow &window)
{
    window.StopAnimation();
    window.CloseAnimation();
    window.RepaintAnimation();
    window.Progress().SetPos(0);
    window.SetStartCaption("START");
}

int ArchiveRun(RunWindow &window)
{
    window.Running().store(true);
    try {
        const JobSettings settings = window.CurrentSettings();
        const std::string stamp = MakeRunStamp();
        window.SetRunStamp(stamp);
        const std::string folder = platform::NativeFolder(settings.sourceFolder);
        if (CountMatchingFiles(window, folder, settings.fileMask) >= 1)
            ProcessFiles(window, settings, stamp);
    } catch (const std::exception &error) {
        // Out of memory, most likely. The window must still be put back and the flag
        // cleared, or the program could never start another run.
        window.ShowMessage(std::string("The run ended early: ") + error.what(),
                           "Archive run failed");
    }
    ResetAfterRun(window);
    window.Running().store(false);
    return 0;
}

} // namespace kelvane
