// The portable half of the placement layer: temporary names, letter case, and the order
// of the steps that put a file in place. Everything that talks to the system is in NativeFiles.h.

#include "placement/Placement.h"

#include "io/Io.h"
#include "placement/NativeFiles.h"

#include <algorithm>
#include <utility>

namespace kelvane::placement {

namespace {

constexpr std::size_t kPrefixLength = sizeof kTempPrefix - 1;

// How often a new name is tried when the one drawn is taken (or was taken by a cleanup
// before it could be locked).
constexpr int kNameAttempts = 100;

std::string RandomName()
{
    unsigned char bytes[8];
    native::RandomBytes(bytes, sizeof bytes);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name(kTempPrefix);
    for (const unsigned char b : bytes) {
        name += kDigits[b >> 4];
        name += kDigits[b & 0x0F];
    }
    return name;
}

std::error_code Failure(std::errc reason)
{
    return std::make_error_code(reason);
}

// The last error, or reason when the call that failed left none.
std::error_code LastErrorOr(std::errc reason)
{
    const std::error_code error = native::LastError();
    return error ? error : Failure(reason);
}

// Keeps the reason when an operation on a file failed; done is passed on.
bool Outcome(bool done, bool open, std::error_code &error)
{
    if (!done)
        error = open ? LastErrorOr(std::errc::io_error) : Failure(std::errc::bad_file_descriptor);
    return done;
}

} // namespace

bool IsTempName(std::string_view name)
{
    return name.substr(0, kPrefixLength) == kTempPrefix;
}

FileIdentity IdentityOf(const std::string &path)
{
    return native::Identity(path);
}

bool FoldsCase(const std::string &folder)
{
#ifdef _WIN32
    (void)folder;
    return true; // as every Windows file system shows its names to programs
#else
    // A new file with a lower-case name, looked up by its upper-case spelling. The name is
    // random: nothing else stands at that spelling. (Found or not, not compared by inode:
    // exfat-fuse numbers one file anew for each spelling it is looked up by.)
    const TempFile probe = TempFile::CreateBeside(paths::JoinPath(folder, "probe"));
    if (!probe.IsOpen())
        return true;
    return !native::NameIsFree(paths::JoinPath(folder, FoldCase(paths::BaseNameOf(probe.Path()))));
#endif
}

std::string FoldCase(std::string_view name)
{
    return native::UpperCase(name);
}

bool Rename(const std::string &from, const std::string &to, Commit mode, std::error_code &error)
{
    error.clear();
    const auto failed = [&error](std::errc otherwise) {
        error = LastErrorOr(otherwise);
        return false;
    };
    if (mode == Commit::Replace)
        return native::RenameReplace(from, to) || failed(std::errc::io_error);
    switch (native::RenameNoReplace(from, to)) {
    case native::Renamed::Done:
        return true;
    case native::Renamed::Failed:
        return failed(std::errc::io_error);
    case native::Renamed::Unsupported:
        break;
    }
    // The file system has no way to refuse a taken name. Every placing of this program
    // takes the folder's lock around its check and its rename (a thread that holds it
    // already, PlaceFinishedFile's, keeps it), so none of them can come between the two.
    const FolderLock lock(paths::FolderOf(to));
    if (!native::NameIsFree(to))
        return failed(std::errc::file_exists);
    return native::RenameReplace(from, to) || failed(std::errc::io_error);
}

std::error_code RemoveFile(const std::string &path)
{
    return native::Remove(path) ? std::error_code() : LastErrorOr(std::errc::io_error);
}

std::error_code SyncFolder(const std::string &folder)
{
    return native::SyncFolder(folder.empty() ? std::string(1, paths::kNativeSeparator) : folder)
        ? std::error_code()
        : LastErrorOr(std::errc::io_error);
}

TempFile::~TempFile()
{
    Discard();
}

TempFile::TempFile(TempFile &&other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle))
    , path_(std::move(other.path_))
    , target_(std::move(other.target_))
    , error_(other.error_)
{ }

TempFile &TempFile::operator=(TempFile &&other) noexcept
{
    if (this != &other) {
        Discard();
        handle_ = std::exchange(other.handle_, kNoHandle);
        path_ = std::move(other.path_);
        target_ = std::move(other.target_);
        error_ = other.error_;
    }
    return *this;
}

TempFile TempFile::CreateBeside(const std::string &target)
{
    TempFile file;
    file.target_ = target;
    const std::string folder = paths::FolderOf(target);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = paths::JoinPath(folder, RandomName());
        const native::Handle handle = native::CreateNew(candidate);
        if (handle == kNoHandle) {
            file.error_ = LastErrorOr(std::errc::io_error);
            if (file.error_ == std::errc::file_exists)
                continue;
            return file;
        }
        if (native::LockNew(handle, candidate)) {
            file.handle_ = handle;
            file.path_ = std::move(candidate);
            file.error_.clear();
            return file;
        }
        // Taken by a cleanup before the lock, or not known to be ours: never left behind.
        native::Remove(candidate);
        native::Close(handle);
        file.error_ = Failure(std::errc::device_or_resource_busy);
    }
    return file;
}

bool TempFile::Write(const void *data, std::size_t size)
{
    return Outcome(IsOpen() && native::WriteAll(handle_, data, size), IsOpen(), error_);
}

bool TempFile::WriteAt(const void *data, std::size_t size, std::uint64_t offset)
{
    return Outcome(IsOpen() && native::WriteAllAt(handle_, data, size, offset), IsOpen(), error_);
}

bool TempFile::Sync()
{
    return Outcome(IsOpen() && native::Sync(handle_), IsOpen(), error_);
}

bool TempFile::Commit(placement::Commit mode, FolderSync sync)
{
    return CommitAs(target_, mode, sync);
}

bool TempFile::CommitAs(const std::string &name, placement::Commit mode, FolderSync sync)
{
    if (!IsOpen()) {
        error_ = Failure(std::errc::bad_file_descriptor);
        return false;
    }
    // The handle keeps the lock that guards the file from cleanups: it is closed only
    // once the file has its name or is gone.
    if (!Rename(path_, name, mode, error_)) {
        Discard();
        return false;
    }
    Close();
    path_.clear();
    if (sync == FolderSync::Now)
        SyncFolder(paths::FolderOf(name));
    return true;
}

void TempFile::Discard()
{
    if (!IsOpen())
        return;
    native::Remove(path_);
    Close();
    path_.clear();
}

void TempFile::Close()
{
    native::Close(handle_);
    handle_ = kNoHandle;
}

int RemoveLeftoverTemps(const std::string &folder)
{
    return native::RemoveLeftovers(folder.empty() ? std::string(1, paths::kNativeSeparator)
                                                  : folder);
}

std::error_code CopyFileNoReplace(const std::string &from, const std::string &to, FolderSync sync)
{
    const native::Handle source = native::OpenRegularForCopy(from);
    if (source == native::kNoHandle)
        return LastErrorOr(std::errc::invalid_argument);
    struct CloseSource
    {
        native::Handle handle;
        ~CloseSource() { native::Close(handle); }
    } closeSource {source};

    // A taken name is known before anything is copied.
    if (IdentityOf(to).exists)
        return Failure(std::errc::file_exists);
    TempFile copy = TempFile::CreateBeside(to);
    if (!copy.IsOpen())
        return copy.Error();
    native::CopyPermissions(source, copy.Handle());
    if (!native::CopyData(source, copy.Handle()))
        return LastErrorOr(std::errc::io_error); // the copy discards itself
    native::CopyTimes(source, copy.Handle());
    if (!copy.Sync() || !copy.Commit(Commit::NoReplace, sync))
        return copy.Error();
    return {};
}

std::error_code SaveFile(const std::string &path, std::string_view bytes)
{
    std::string target = path;
    std::error_code reason;
    const native::Standing standing = native::Examine(target, reason);
    if (standing == native::Standing::Refused)
        return reason;

    TempFile file = TempFile::CreateBeside(target);
    if (!file.IsOpen()) {
        // A folder the user may not write to can still hold a file that the user may: the
        // plain save that such a file was made for still works there. Only then: on a full
        // or failing disk, writing in place would risk the old file too.
        const bool folderRefused = file.Error() == std::errc::permission_denied
            || file.Error() == std::errc::operation_not_permitted;
        if (standing != native::Standing::Replaceable || !folderRefused)
            return file.Error();
        const native::Handle handle = native::OpenExistingForWriting(target);
        if (handle == native::kNoHandle)
            return file.Error();
        bool ok = native::WriteAll(handle, bytes.data(), bytes.size())
            && native::Truncate(handle, bytes.size()) && native::Sync(handle);
        const std::error_code error = ok ? std::error_code() : LastErrorOr(std::errc::io_error);
        native::Close(handle);
        return error;
    }
    if (standing == native::Standing::Replaceable && !native::KeepAttributes(file.Handle(), target))
        return LastErrorOr(std::errc::operation_not_permitted); // file discards itself
    if (!file.Write(bytes.data(), bytes.size()) || !file.Sync() || !file.Commit(Commit::Replace))
        return file.Error();
    return {};
}

namespace {

// The innermost FolderLock of the calling thread; each names the one it is nested in. A
// plain pointer: a thread-local object with a destructor can be destroyed after its
// storage is freed where thread-locals are emulated (mingw-w64), at every thread's end.
thread_local const FolderLock *t_innermostLock = nullptr;

} // namespace

FolderLock::FolderLock(const std::string &folder) : folder_(folder), enclosing_(t_innermostLock)
{
    t_innermostLock = this;
    for (const FolderLock *held = enclosing_; held != nullptr; held = held->enclosing_) {
        if (held->outer_ && held->folder_ == folder)
            return; // a lock of its own would wait for the one this thread holds
    }
    handle_ = native::LockFolder(folder);
    outer_ = true;
}

FolderLock::~FolderLock()
{
    t_innermostLock = enclosing_;
    if (outer_)
        native::UnlockFolder(handle_);
}

void FolderLock::Sync()
{
    native::SyncHandle(handle_);
}

} // namespace kelvane::placement
