// The placement layer's file operations that are POSIX's own (NativeFiles.h). Every call
// that reaches the file system goes through io/Io.h, so that tests can watch and fail it.

#include "placement/NativeFiles.h"

#include "io/Io.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

namespace kelvane::placement::native {

namespace {

// Opens folder itself, for its lock, its sync or its listing.
int OpenFolder(const std::string &folder)
{
    return io::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Removes one candidate if it is a leftover. The lock is taken before anything is
// decided, and the name is checked to still stand for the locked file: a writer that
// renamed its file meanwhile released the lock only after the rename.
bool RemoveIfLeftover(int dirFd, const std::string &name)
{
    struct stat named;
    if (io::FstatAt(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(named.st_mode))
        return false;
    const int fd = io::OpenRegularAt(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat held;
    if (io::Flock(fd, LOCK_EX | LOCK_NB) == 0 && io::Fstat(fd, &held) == 0) {
        const std::string owner = OwnerOf(name);
        // The owner is checked after this file's lock: a writer removes its owner only
        // after this file has left its name, which the check below then sees.
        if ((owner.empty() || !IsHeld(dirFd, owner))
            && io::FstatAt(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && SameFile(held, named))
            removed = io::UnlinkAt(dirFd, name.c_str(), 0) == 0;
    }
    io::Close(fd); // releases the lock
    return removed;
}

// Reads the link at path; false when it cannot.
bool ReadLink(const std::string &path, std::size_t sizeHint, std::string &target)
{
    target.assign(sizeHint > 0 ? sizeHint + 1 : 256, '\0');
    for (;;) {
        const ssize_t n = io::ReadLink(path.c_str(), target.data(), target.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return !target.empty();
        }
        target.resize(target.size() * 2); // the link grew since it was examined
    }
}

} // namespace

void RandomBytes(unsigned char *buffer, std::size_t size)
{
    if (getrandom(buffer, size, GRND_NONBLOCK) == static_cast<ssize_t>(size))
        return;
    // No entropy yet (very early boot): uniqueness is all that matters, and the exclusive
    // creation guards against a clash anyway.
    static std::atomic<unsigned long long> counter {0};
    unsigned long long value = static_cast<unsigned long long>(
                                   std::chrono::steady_clock::now().time_since_epoch().count())
        ^ (static_cast<unsigned long long>(getpid()) << 40);
    for (std::size_t i = 0; i < size; ++i) {
        if (i % sizeof value == 0)
            value ^= ++counter * 0x9E3779B97F4A7C15ULL;
        buffer[i] = static_cast<unsigned char>(value >> (8 * (i % sizeof value)));
    }
}

Renamed RenameNoReplace(const std::string &from, const std::string &to)
{
    if (io::RenameNoReplace(from.c_str(), to.c_str()) == 0)
        return Renamed::Done;
    // The flag not understood by this file system (FUSE, NFS, older CIFS) or this kernel.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return Renamed::Failed;
    // A hard link refuses a taken name just as well.
    if (io::Link(from.c_str(), to.c_str()) == 0) {
        io::Unlink(from.c_str()); // should this fail, the file is in place all the same
        return Renamed::Done;
    }
    // No hard links here (exFAT, FAT, SMB through FUSE): EPERM is what link(2) says for
    // that, and from a FUSE file system without the call, ENOSYS; EOPNOTSUPP from others.
    // The file is this process's own new temporary with one name, so neither EPERM (no
    // protected or immutable file) nor EMLINK (a second name is all that is asked) can
    // mean anything else.
    if (errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP || errno == EMLINK)
        return Renamed::Unsupported;
    return Renamed::Failed;
}

std::string UpperCase(std::string_view name)
{
    // Unicode's simple upper case, as the C.UTF-8 locale has it (wchar_t holds the code
    // point), whatever the process's own locale; ASCII alone where that locale is missing.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t {});
    std::string upper;
    upper.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = paths::Utf8SequenceLength(name, at);
        if (length <= 1) {
            const char c = name[at++];
            upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            continue;
        }
        static constexpr unsigned char kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
        auto code
            = static_cast<std::uint32_t>(static_cast<unsigned char>(name[at]) & kLeadBits[length]);
        for (std::size_t k = 1; k < length; ++k)
            code = code << 6 | (static_cast<unsigned char>(name[at + k]) & 0x3F);
        at += length;
        if (utf8 != locale_t {})
            code = static_cast<std::uint32_t>(towupper_l(static_cast<wint_t>(code), utf8));
        // Upper case never leaves the range of valid characters; its UTF-8 may be of
        // another length ("ı" and "I").
        if (code < 0x80) {
            upper += static_cast<char>(code);
        } else if (code < 0x800) {
            upper += static_cast<char>(0xC0 | code >> 6);
            upper += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            upper += static_cast<char>(0xE0 | code >> 12);
            upper += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            upper += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            upper += static_cast<char>(0xF0 | code >> 18);
            upper += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            upper += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            upper += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return upper;
}

bool SyncFolder(const std::string &folder)
{
    const int fd = OpenFolder(folder);
    if (fd < 0)
        return false;
    const bool synced = io::Fsync(fd) == 0;
    const int error = errno;
    io::Close(fd);
    errno = error;
    return synced;
}

int RemoveLeftovers(const std::string &folder)
{
    const int dirFd = OpenFolder(folder);
    if (dirFd < 0)
        return 0;
    std::vector<std::string> candidates;
    const int listFd = io::DupCloexec(dirFd); // the listing's own, closed with it
    DIR *dir = listFd >= 0 ? io::FdOpenDir(listFd) : nullptr;
    if (dir == nullptr && listFd >= 0)
        io::Close(listFd);
    if (dir != nullptr) {
        while (const dirent *entry = io::ReadDir(dir)) {
            if (IsTempName(entry->d_name)
                && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN))
                candidates.emplace_back(entry->d_name);
        }
        io::CloseDir(dir);
    }
    int removed = 0;
    for (const std::string &name : candidates)
        removed += RemoveIfLeftover(dirFd, name) ? 1 : 0;
    io::Close(dirFd);
    return removed;
}

void CopyPermissions(Handle from, Handle to)
{
    struct stat source;
    // A file system that cannot hold them (FAT) still gets the data.
    if (io::Fstat(Fd(from), &source) == 0)
        io::Fchmod(Fd(to), source.st_mode & 0777);
}

void CopyTimes(Handle from, Handle to)
{
    struct stat source;
    if (io::Fstat(Fd(from), &source) == 0) {
        const timespec times[2] = {source.st_atim, source.st_mtim};
        io::Futimens(Fd(to), times);
    }
}

Standing Examine(std::string &path, std::error_code &reason)
{
    // Saving over a link writes through it; the link itself stays.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (io::Lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT)
                return Standing::Absent; // a new file will be made there
            reason = LastError();
            return Standing::Refused;
        }
        if (!S_ISLNK(status.st_mode)) {
            // Only a regular file is replaced, and only one the user may write: a file made
            // read-only stays as it is.
            if (!S_ISREG(status.st_mode)) {
                reason = std::make_error_code(std::errc::invalid_argument);
                return Standing::Refused;
            }
            if (io::FaccessAt(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
                reason = LastError();
                return Standing::Refused;
            }
            return Standing::Replaceable;
        }
        std::string target;
        if (!ReadLink(path, static_cast<std::size_t>(status.st_size), target)) {
            reason = std::make_error_code(std::errc::invalid_argument);
            return Standing::Refused;
        }
        path = target[0] == '/' ? target : paths::JoinPath(paths::FolderOf(path), target);
    }
    reason = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return Standing::Refused;
}

bool KeepAttributes(Handle handle, const std::string &old)
{
    struct stat status;
    if (io::Stat(old.c_str(), &status) != 0)
        return false;
    if (status.st_uid != ::geteuid() || status.st_gid != ::getegid()) {
        // Keeps the owner where the process may (as root); otherwise the saver owns it.
        [[maybe_unused]] const int ignored = io::Fchown(Fd(handle), status.st_uid, status.st_gid);
    }
    return io::Fchmod(Fd(handle), status.st_mode & 07777) == 0;
}

Handle LockFolder(const std::string &folder)
{
    const int fd = OpenFolder(folder);
    if (fd < 0)
        return kNoHandle;
    io::FlockWithin(fd, LOCK_EX, kFolderLockWaitMilliseconds);
    return fd;
}

void UnlockFolder(Handle handle)
{
    if (handle != kNoHandle)
        io::Close(Fd(handle)); // releases the lock
}

bool SyncHandle(Handle handle)
{
    return handle != kNoHandle && io::Fsync(Fd(handle)) == 0;
}

} // namespace kelvane::placement::native
