#pragma once

// How every file Kelvane writes into a user's folder (archives, copies of zip files, the
// settings file) is put there: written to a temporary beside its name, locked while it is
// written so that another run's cleanup of leftovers keeps it, synced, then committed
// under its name (without replacing, or replacing), and the folder synced, at once or by a
// caller that places many files (the run syncs its output folder once, at its end). A file
// that failed never takes a name, and a name that is not to be replaced never is. Beside
// that, temporary names and letter case, which depend on the file system.
//
// The interface is the same on every platform: Placement.cpp is written once, over what
// differs per platform (NativeFiles.h: PosixFiles.cpp, Win32Files.cpp). Paths are UTF-8 (on
// POSIX: the bytes the file system holds). The reason of a failure is a std::error_code
// from the platform's own error numbers: returned, or kept (TempFile::Error).

#include "paths/Paths.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace kelvane::placement {

// ---- Temporary names ----

// Name prefix of every temporary file the program makes, so that leftovers are known.
inline constexpr char kTempPrefix[] = ".kelvane-tmp-";

// True when the bare name begins with kTempPrefix.
bool IsTempName(std::string_view name);

// ---- Names that differ only in letter case ----

// Whether names in folder that differ only in letter case stand for one file: always on
// Windows; elsewhere (exFAT and FAT on Linux, for one) found by probing the folder. A
// folder that cannot be probed counts as folding: taking two names for one can at worst
// make a conflict, taking one name for two can cost a file.
bool FoldsCase(const std::string &folder);

// name in upper case, as a folder that folds case compares names: Unicode letters too,
// as the upcase tables of exFAT and NTFS fold them ("ü" and "Ü" are one name). Bytes that
// are not well-formed UTF-8 stay as they are.
std::string FoldCase(std::string_view name);

// How one folder compares names.
class FolderNames
{
public:
    explicit FolderNames(bool foldsCase) : foldsCase_(foldsCase) { }
    // Probes the folder (FoldsCase).
    static FolderNames Of(const std::string &folder)
    {
        return FolderNames(placement::FoldsCase(folder));
    }

    bool FoldsCase() const { return foldsCase_; }
    // The form under which the folder knows a name or a path in it: equal keys, one file.
    std::string Key(std::string_view name) const
    {
        return foldsCase_ ? FoldCase(name) : std::string(name);
    }
    bool Same(std::string_view a, std::string_view b) const { return Key(a) == Key(b); }

private:
    bool foldsCase_;
};

// ---- Which file a name stands for ----

// Which file a name stood for at some moment, so that an older file can be told from one
// put there since. Directories and links count as files here: any entry takes the name.
struct FileIdentity
{
    bool exists = false;
    unsigned long long device = 0; // volume
    unsigned long long inode = 0; // file on the volume

    bool operator==(const FileIdentity &other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

// The entry at path now (a link itself, not what it points to).
FileIdentity IdentityOf(const std::string &path);

// ---- Putting files in place ----

enum class Commit {
    // Fails (file_exists) when anything stands at the name; never replaces, on any file
    // system. It uses the strongest means the file system offers: a rename that refuses a
    // taken name; else a hard link, then the removal of the old name; else, where neither
    // exists (exFAT through FUSE, some network mounts), under the folder's lock (FolderLock),
    // a check that the name is free and a plain rename. That last way leaves a window open
    // to programs that do not take the lock: one may make the name between the check and
    // the rename.
    NoReplace,
    Replace, // replaces what stands at the name, in one step
};

// Whether a commit syncs the folder at once, or leaves that to a caller that places many
// files and syncs their folder once when done (SyncFolder).
enum class FolderSync { Now, Later };

// Gives the file at `from` the name `to` (both in one folder). True when it has the name;
// on failure `from` is left as it was and error says why.
bool Rename(const std::string &from, const std::string &to, Commit mode, std::error_code &error);

// Removes the file at path; the reason when it could not.
std::error_code RemoveFile(const std::string &path);

// Syncs the folder itself, so that the names made in it survive a power loss. A failure
// loses nothing already written, and is only reported.
std::error_code SyncFolder(const std::string &folder);

// A new, private file beside a target, locked from its creation until it has been
// committed or discarded, so that RemoveLeftoverTemps in another run keeps it. Move-only;
// a file neither committed nor discarded is discarded when the object goes away.
class TempFile
{
public:
    // The platform's own handle of the open file: a file descriptor on POSIX, a HANDLE on
    // Windows. For code that writes through a writer of its own.
    using NativeHandle = std::intptr_t;

    TempFile() = default; // no file
    ~TempFile();
    TempFile(TempFile &&other) noexcept;
    TempFile &operator=(TempFile &&other) noexcept;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // Creates an empty file with a new name beginning with kTempPrefix in the folder of
    // target, readable and writable by the process (new files' usual permissions apply).
    // IsOpen() tells whether it worked; Error() says why not.
    static TempFile CreateBeside(const std::string &target);

    bool IsOpen() const { return handle_ != kNoHandle; }
    const std::string &Path() const { return path_; } // the temporary's own path
    const std::string &Target() const { return target_; }
    NativeHandle Handle() const { return handle_; }
    // Why the last operation failed.
    std::error_code Error() const { return error_; }

    // Writes all of data at the current position, which moves past it.
    bool Write(const void *data, std::size_t size);
    // Writes all of data at offset, without moving the current position. Safe to call
    // from several threads at once for ranges that do not overlap.
    bool WriteAt(const void *data, std::size_t size, std::uint64_t offset);
    // Makes everything written so far durable.
    bool Sync();

    // Gives the file the name of its target (CommitAs: of name, in the same folder), then
    // syncs the folder unless told not to. Does not sync the file's data: call Sync first.
    // Either way the file is closed afterwards, and on failure it is removed: nothing is
    // left behind.
    bool Commit(placement::Commit mode, FolderSync sync = FolderSync::Now);
    bool CommitAs(const std::string &name, placement::Commit mode,
                  FolderSync sync = FolderSync::Now);
    // Removes the file and closes it.
    void Discard();

private:
    static constexpr NativeHandle kNoHandle = -1;
    void Close();

    NativeHandle handle_ = kNoHandle;
    std::string path_;
    std::string target_;
    std::error_code error_;
};

// Removes the leftovers in folder (one level): regular files whose names begin with
// kTempPrefix and that no live writer holds. A link, a folder or any other kind of entry
// is never touched, nor any name without the prefix. A temporary whose name is another
// temporary's name followed by an extension (".kelvane-tmp-x" and ".kelvane-tmp-x.zip")
// belongs to that one, and stays while that one is held. Returns how many were removed.
int RemoveLeftoverTemps(const std::string &folder);

// Copies a regular file (a link is followed) to `to`, never replacing anything there and
// never leaving a partial file at `to`: through a TempFile committed without replacing.
// A FIFO or a device is refused without waiting. The copy keeps the source's permissions
// and modification time where the file system of `to` can hold them. A taken name fails
// with file_exists. The folder is synced as `sync` says.
std::error_code CopyFileNoReplace(const std::string &from, const std::string &to,
                                  FolderSync sync = FolderSync::Now);

// Makes bytes the whole content of the file at path (a link there is followed and its
// target written; the link stays). Atomic: through a TempFile that replaces the old file,
// which keeps its permissions (and its owner where the process may set it). A file that
// exists but is not a regular file or may not be written is left alone. When no
// temporary can be made in the folder (one the user may not write to) but the file itself
// may be written, it is written in place instead: then a failure part-way can leave it
// cut short, as any program's plain save would. Nothing is left behind on failure.
std::error_code SaveFile(const std::string &path, std::string_view bytes);

// Holds an exclusive advisory lock on a folder while it lives, so that cooperating runs
// (and threads of one run) check a name and rename onto it as one step. A folder that
// cannot be locked is used without the lock; a lock held far longer than a rename takes
// (about two seconds) is not waited for. Locks do not nest: where the calling thread holds
// the folder's lock already (spelt the same), a second FolderLock of it takes nothing, for
// two locks of one process exclude each other as those of two processes do.
class FolderLock
{
public:
    explicit FolderLock(const std::string &folder);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    // Syncs the locked folder, as SyncFolder does.
    void Sync();

private:
    std::intptr_t handle_ = -1;
    bool outer_ = false; // this one took the lock (not nested in another of this thread)
    std::string folder_;
    const FolderLock *enclosing_ = nullptr; // the calling thread's lock held before this one
};

} // namespace kelvane::placement
