// The portable half of the placement layer: names, paths, UTF-8, and the order of the
// steps that put a file in place. Everything that talks to the system is in NativeFiles.h.

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

// Paths in native form end a level only at a native separator: on POSIX a "\" is an
// ordinary character of a file name ("a\b.avi"), on Windows both end a level.
bool EndsLevel(char c)
{
    return c != '\0' && std::string_view(io::kPathSeparators).find(c) != std::string_view::npos;
}

} // namespace

bool IsTempName(std::string_view name)
{
    return name.substr(0, kPrefixLength) == kTempPrefix;
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

std::string NativeFolder(std::string_view folder)
{
    std::string native(folder);
    std::replace_if(native.begin(), native.end(), IsSeparator, kNativeSeparator);
    return native;
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::size_t end = folder.size();
    while (end > 0 && IsSeparator(folder[end - 1]))
        --end;
    std::string path(folder.substr(0, end));
    path += kNativeSeparator;
    path += name;
    return path;
}

std::string FolderOf(std::string_view path)
{
    std::size_t slash = path.size();
    while (slash > 0 && !EndsLevel(path[slash - 1]))
        --slash;
    if (slash == 0)
        return ".";
    std::size_t end = slash - 1;
    while (end > 0 && EndsLevel(path[end - 1]))
        --end; // "a//b" is in "a"
    return end == 0 ? std::string(path.substr(0, 1)) : std::string(path.substr(0, end));
}

std::string_view BaseNameOf(std::string_view path)
{
    std::size_t start = path.size();
    while (start > 0 && !EndsLevel(path[start - 1]))
        --start;
    return path.substr(start);
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range the second byte may take
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // no overlong forms
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    const auto second = static_cast<unsigned char>(text[at + 1]);
    if (second < low || second > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (next < 0x80 || next > 0xBF)
            return 0;
    }
    return length;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
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
    const TempFile probe = TempFile::CreateBeside(JoinPath(folder, "probe"));
    if (!probe.IsOpen())
        return true;
    return !native::NameIsFree(JoinPath(folder, FoldCase(BaseNameOf(probe.Path()))));
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
    const FolderLock lock(FolderOf(to));
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
    return native::SyncFolder(folder.empty() ? std::string(1, kNativeSeparator) : folder)
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
    const std::string folder = FolderOf(target);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = JoinPath(folder, RandomName());
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
        SyncFolder(FolderOf(name));
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
    return native::RemoveLeftovers(folder.empty() ? std::string(1, kNativeSeparator) : folder);
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
