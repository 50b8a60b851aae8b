#pragma once

// The run's hold on the back end's C interface (tamsorel.h): archives opened, filled and
// closed there, with the source files each one took, so that a failed close can name every
// file it lost. Internal to the engine.

#include "engine/ArchiveClosers.h"
#include "engine/FinishedOutput.h"
#include "paths/Paths.h"
#include "placement/Placement.h"
#include "tamsorel/tamsorel.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kelvane {

// Open modes of the back end. An archive that may replace an earlier file is finished
// under a private name (any mode serves there) and placed by the run; a per-name archive
// must never replace a file that appeared after the run found the name free.
inline constexpr int kReplaceMode = 0;
inline constexpr int kNeverReplaceMode = 1;

// A file of the source folder as the run handles it: the folder and the name are the
// run's (its paths and its snapshot of the folder), so that a million files cost no copies
// of them.
struct SourceFile
{
    const std::string *folder; // the source folder
    const std::string *name; // bare name, the entry name when paths are not stored

    const std::string &Name() const { return *name; }
    // The source folder joined with the name.
    std::string Path() const { return paths::JoinPath(*folder, *name); }
};

// The files that did not reach an output, each once, in the order they were found; kept
// in the run's report.
class NotArchived
{
public:
    explicit NotArchived(std::vector<std::string> &paths) : paths_(paths) { }

    void Add(const std::string &path)
    {
        if (seen_.insert(path).second)
            paths_.push_back(path);
    }
    void Add(const std::vector<SourceFile> &files)
    {
        for (const SourceFile &file : files)
            Add(file.Path());
    }

private:
    std::set<std::string> seen_;
    std::vector<std::string> &paths_;
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

    void Open(const std::string &path, int mode);
    const std::string &Path() const { return path_; }
    bool IsOpen() const { return handle_ != nullptr; }
    const std::vector<SourceFile> &Added() const { return added_; }
    // Room for that many files, taken at once rather than grown into.
    void Reserve(std::size_t files) { added_.reserve(files); }

    // Hands the archive over to be closed elsewhere, with the files added to it.
    ArchiveHandle Detach(std::vector<SourceFile> &added);

    // A null handle (the open failed) adds nothing and reports failure.
    void Add(const SourceFile &file, bool storePath);

    // True when the archive was open and is now complete at its name. When the close
    // fails, the files added are reported as not archived.
    bool Close();

private:
    NotArchived &notArchived_;
    std::string path_;
    ArchiveHandle handle_ = nullptr;
    std::vector<SourceFile> added_;
};

// An archive that is finished under a private name of this run, beside the name it is
// meant for, and put at that name only once the run knows what it may replace there.
// The private name is an empty temporary file's name with ".zip" added; the empty file
// stays open and locked until the archive has left the private name, so that another
// run's cleanup of leftovers keeps the finished archive too. An archive that is never
// placed (the run ended on an exception) is removed.
class PrivateArchive
{
public:
    PrivateArchive(NotArchived &notArchived, std::string finalPath);
    ~PrivateArchive();
    PrivateArchive(const PrivateArchive &) = delete;
    PrivateArchive &operator=(const PrivateArchive &) = delete;

    void Add(const SourceFile &file, bool storePath) { archive_.Add(file, storePath); }
    void Reserve(std::size_t files) { archive_.Reserve(files); }
    std::size_t FilesAdded() const { return archive_.Added().size(); }

    // Closes the archive and puts it at its name as `replacing` allows (`older`: the file
    // found there when the run began). Returns the path it got; empty when it could not
    // be completed or was dropped, and its files are then reported as not archived.
    std::string Place(Replacing replacing, const FileIdentity &older,
                      std::vector<SourceFile> &added);

private:
    NotArchived &notArchived_;
    OpenArchive archive_;
    const std::string finalPath_;
    placement::TempFile reserved_; // the empty file whose name gives the private name
    std::string privatePath_;
};

// Per-name archives closing on threads of their own while the next ones are filled, so
// that their syncs reach the disk together. Their outcomes are taken oldest first, on the
// run's thread, by `settle`.
class PerNameClosing
{
public:
    using Settle = std::function<void(const std::string &path, bool closed,
                                      const std::vector<SourceFile> &files)>;

    explicit PerNameClosing(Settle settle);

    // Starts closing the archive, if open, once fewer closes than allowed are going on.
    void HandOver(OpenArchive &archive);

    // Waits for every close handed over and takes its outcome.
    void SettleAll();

private:
    struct Closing
    {
        std::string path;
        std::vector<SourceFile> files;
        std::uint64_t bytes = 0;
        ArchiveClosers::Ticket ticket = nullptr;
    };

    // Many small archives close at once, but only a few large ones.
    std::size_t AllowedAtOnce(const Closing &next) const;
    void SettleOldest();

    ArchiveClosers closers_;
    std::deque<Closing> closing_;
    Settle settle_;
};

} // namespace kelvane
