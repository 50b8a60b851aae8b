// The portable half of the placement layer: temporary names, letter case, the order of the
// steps that put a file in place, and every file operation that is the same on each
// platform, over io/Io.h. What differs per platform is behind NativeFiles.h.

#include "placement/Placement.h"

#include "io/Io.h"
#include "placement/NativeFiles.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace kelvane::placement {

namespace {

constexpr std::size_t kPrefixLength = sizeof kTempPrefix - 1;

} // namespace

namespace native {

std::error_code LastError()
{
    return std::error_code(errno, std::generic_category());
}

std::string OwnerOf(const std::string &name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= kPrefixLength)
        return {};
    return name.substr(0, dot);
}

bool IsHeld(int dirFd, const std::string &name)
{
    const int fd = io::OpenRegularAt(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = io::Flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    io::Close(fd);
    return held;
}

} // namespace native

namespace {

using native::Fd;
using native::SameFile;

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

// Creates a new file at path that must not exist yet, open for reading and writing.
// kNoHandle on failure; an existing name fails with std::errc::file_exists.
native::Handle CreateNew(const std::string &path)
{
    // The usual 0666 less the umask, as for any new file the user makes.
    const int fd = io::Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd < 0 ? native::kNoHandle : fd;
}

// Takes the writer's lock on a new temporary at path. False when the file is no longer the
// one at path (a cleanup took it before the lock): the caller removes and retries.
bool LockNew(native::Handle handle, const std::string &path)
{
    if (io::Flock(Fd(handle), LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK; // no locks on this file system: written unguarded
    struct stat held;
    struct stat named;
    return io::Fstat(Fd(handle), &held) == 0 && io::Lstat(path.c_str(), &named) == 0
        && SameFile(held, named);
}

void CloseFile(native::Handle handle)
{
    if (handle != native::kNoHandle)
        io::Close(Fd(handle));
}

bool RenameReplace(const std::string &from, const std::string &to)
{
    return io::Rename(from.c_str(), to.c_str()) == 0;
}

// True when nothing at all stands at path (a link, a folder or a file of another kind
// takes the name). False otherwise, with the last error file_exists when something stands
// there, or the reason the name could not be looked up.
bool NameIsFree(const std::string &path)
{
    struct stat status;
    if (io::Lstat(path.c_str(), &status) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT;
}

// Copies from the source's current position to its end.
bool CopyData(native::Handle from, native::Handle to)
{
    // copy_file_range lets the file system share or offload the data; where it cannot
    // (other file system, unsupported, pseudo files that report size 0, Windows), plain
    // read and write carry on from the same offsets.
    for (;;) {
        const ssize_t copied = io::CopyFileRange(Fd(from), Fd(to), std::size_t {1} << 30);
        if (copied > 0 || (copied < 0 && errno == EINTR))
            continue;
        break; // end of file, or not possible here: read and write report real errors
    }
    std::vector<char> buffer(std::size_t {1} << 17);
    for (;;) {
        const ssize_t got = io::Read(Fd(from), buffer.data(), buffer.size());
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!io::WriteAll(Fd(to), buffer.data(), static_cast<std::size_t>(got)))
            return false;
    }
}

} // namespace

bool IsTempName(std::string_view name)
{
    return name.substr(0, kPrefixLength) == kTempPrefix;
}

FileIdentity IdentityOf(const std::string &path)
{
    // The same numbers as io::Fstat gives an open file, so that the two compare.
    FileIdentity identity;
    struct stat status;
    if (io::Lstat(path.c_str(), &status) == 0) {
        identity.exists = true;
        identity.device = static_cast<unsigned long long>(status.st_dev);
        identity.inode = static_cast<unsigned long long>(status.st_ino);
    }
#ifdef _WIN32
    else {
        // Something that cannot be opened at all (in use without sharing) still takes the
        // name.
        unsigned long attributes = 0;
        identity.exists = io::Attributes(path.c_str(), &attributes) == 0;
    }
#endif
    return identity;
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
    return !NameIsFree(paths::JoinPath(folder, FoldCase(paths::BaseNameOf(probe.Path()))));
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
        return RenameReplace(from, to) || failed(std::errc::io_error);
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
    if (!NameIsFree(to))
        return failed(std::errc::file_exists);
    return RenameReplace(from, to) || failed(std::errc::io_error);
}

std::error_code RemoveFile(const std::string &path)
{
    return io::Unlink(path.c_str()) == 0 ? std::error_code() : LastErrorOr(std::errc::io_error);
}

std::error_code SyncFolder(const std::string &folder)
{
    return native::SyncFolder(paths::FolderOrRoot(folder)) ? std::error_code()
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
        const native::Handle handle = CreateNew(candidate);
        if (handle == kNoHandle) {
            file.error_ = LastErrorOr(std::errc::io_error);
            if (file.error_ == std::errc::file_exists)
                continue;
            return file;
        }
        if (LockNew(handle, candidate)) {
            file.handle_ = handle;
            file.path_ = std::move(candidate);
            file.error_.clear();
            return file;
        }
        // Taken by a cleanup before the lock, or not known to be ours: never left behind.
        io::Unlink(candidate.c_str());
        CloseFile(handle);
        file.error_ = Failure(std::errc::device_or_resource_busy);
    }
    return file;
}

bool TempFile::Write(const void *data, std::size_t size)
{
    return Outcome(IsOpen() && io::WriteAll(Fd(handle_), data, size), IsOpen(), error_);
}

bool TempFile::WriteAt(const void *data, std::size_t size, std::uint64_t offset)
{
    return Outcome(IsOpen() && io::PWriteAll(Fd(handle_), data, size, static_cast<off_t>(offset)),
                   IsOpen(), error_);
}

bool TempFile::Sync()
{
    return Outcome(IsOpen() && io::Fsync(Fd(handle_)) == 0, IsOpen(), error_);
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
    io::Unlink(path_.c_str());
    Close();
    path_.clear();
}

void TempFile::Close()
{
    CloseFile(handle_);
    handle_ = kNoHandle;
}

int RemoveLeftoverTemps(const std::string &folder)
{
    return native::RemoveLeftovers(paths::FolderOrRoot(folder));
}

std::error_code CopyFileNoReplace(const std::string &from, const std::string &to, FolderSync sync)
{
    // Without waiting: a FIFO or a device is refused.
    const int source = io::OpenRegular(from.c_str(), O_RDONLY);
    if (source < 0)
        return LastErrorOr(std::errc::invalid_argument);
    struct CloseSource
    {
        int fd;
        ~CloseSource() { io::Close(fd); }
    } closeSource {source};

    // A taken name is known before anything is copied.
    if (IdentityOf(to).exists)
        return Failure(std::errc::file_exists);
    TempFile copy = TempFile::CreateBeside(to);
    if (!copy.IsOpen())
        return copy.Error();
    native::CopyPermissions(source, copy.Handle());
    if (!CopyData(source, copy.Handle()))
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
        // Written in place, without cutting it first, then made exactly as long as bytes.
        const int fd = io::OpenRegular(target.c_str(), O_WRONLY | O_NOFOLLOW);
        if (fd < 0)
            return file.Error();
        const bool ok = io::WriteAll(fd, bytes.data(), bytes.size())
            && io::Ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && io::Fsync(fd) == 0;
        const std::error_code error = ok ? std::error_code() : LastErrorOr(std::errc::io_error);
        io::Close(fd);
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
