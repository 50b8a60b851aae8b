// The exported C interface: an archive is written to a temporary file beside its final
// name and put in place only when it is complete, so that a reader never sees half an
// archive and a failed archive never replaces an older one.

#include "tamsorel/tamsorel.h"

#include "io/Io.h"
#include "tamsorel/EntryName.h"
#include "tamsorel/Pipeline.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>
#endif

struct TamsorelArchive
{
    std::string path;
    std::string tempPath;
    int fd = -1;
    dev_t device = 0; // of the temporary file, so that it is never added to itself
    ino_t inode = 0;
    int mode = 0;
    bool failed = false;
    std::unique_ptr<tamsorel::ArchivePipeline> pipeline;

    ~TamsorelArchive()
    {
        pipeline.reset(); // its threads write to fd until they are joined
        if (fd >= 0)
            kelvane::io::Close(fd);
    }
};

namespace {

constexpr int kModeReplace = 0;
constexpr int kModeNoReplace = 1;
constexpr const char *kTempPrefix = ".kelvane-tmp-";

std::string RandomSuffix()
{
    static constexpr char kChars[]
        = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[12];
#ifdef _WIN32
    const bool got = false; // std::random_device asks the system there
#else
    const bool got = ::getrandom(bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes);
#endif
    if (!got) {
        std::random_device device;
        for (unsigned char &b : bytes)
            b = static_cast<unsigned char>(device());
    }
    std::string suffix;
    for (unsigned char b : bytes)
        suffix += kChars[b % (sizeof kChars - 1)];
    return suffix;
}

// The folder part of path, with its final "/"; empty for a bare name.
std::string FolderOf(const std::string &path)
{
    const std::string::size_type slash = path.find_last_of(kelvane::io::kPathSeparators);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A run removes the temporary files of killed runs: those whose lock it can take. The
// writer holds the lock until the file is renamed or removed. False when a cleanup took the
// new file between its creation and the lock (it is gone, or about to be).
bool LockTemp(int fd, const std::string &tempPath)
{
    if (kelvane::io::Flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK; // a file system without locks: written unguarded
    struct stat held
    { };
    struct stat named
    { };
    return kelvane::io::Fstat(fd, &held) == 0 && kelvane::io::Lstat(tempPath.c_str(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Creates the temporary file (mode 0666 before the umask, like any new file), locked.
int CreateTemp(const std::string &folder, std::string &tempPath)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + kTempPrefix + RandomSuffix();
        const int fd
            = kelvane::io::Open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0 || LockTemp(fd, tempPath))
            return fd;
        // Taken by a cleanup, or not known to be ours and locked (a failed stat): either
        // way never left behind.
        kelvane::io::Unlink(tempPath.c_str());
        kelvane::io::Close(fd);
    }
    return -1;
}

// Moves the finished file to its name; with replace false an existing name makes it fail.
bool PlaceArchive(const std::string &tempPath, const std::string &path, bool replace)
{
    if (replace)
        return kelvane::io::Rename(tempPath.c_str(), path.c_str()) == 0;
    if (kelvane::io::RenameNoReplace(tempPath.c_str(), path.c_str()) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without renameat2 flags: a hard link also refuses an existing name.
    if (kelvane::io::Link(tempPath.c_str(), path.c_str()) != 0)
        return false;
    kelvane::io::Unlink(tempPath.c_str());
    return true;
}

bool AddFile(TamsorelArchive &archive, const char *diskPath, const struct tm *time,
             const char *entryName)
{
    tamsorel::EntryInfo info;
    info.name = tamsorel::StoredName(diskPath, entryName);
    if (info.name.empty())
        return false;
    tamsorel::FileSource source;
    if (!source.Open(diskPath))
        return false;
    // The archive's own temporary file would grow as fast as it is read, without end.
    if (source.Status().st_dev == archive.device && source.Status().st_ino == archive.inode)
        return false;
    info.mode = source.Status().st_mode & 07777;
    if (time)
        tamsorel::SetEntryTime(info, *time);
    else
        tamsorel::SetEntryTime(info, source.Status().st_mtime);
    switch (
        archive.pipeline->Add(info, source, static_cast<std::uint64_t>(source.Status().st_size))) {
    case tamsorel::ZipWriter::AddResult::Added:
        return true;
    case tamsorel::ZipWriter::AddResult::SourceFailed:
        return false;
    case tamsorel::ZipWriter::AddResult::WriteFailed:
        break;
    }
    archive.failed = true;
    return false;
}

} // namespace

ArchiveHandle ArchiveOpen(const char *path, int mode)
{
    if (!path || !*path || (mode != kModeReplace && mode != kModeNoReplace))
        return nullptr;
    try {
        auto archive = std::make_unique<TamsorelArchive>();
        archive->path = path;
        archive->mode = mode;
        archive->fd = CreateTemp(FolderOf(archive->path), archive->tempPath);
        if (archive->fd < 0)
            return nullptr;
        struct stat status
        { };
        if (kelvane::io::Fstat(archive->fd, &status) == 0) {
            archive->device = status.st_dev;
            archive->inode = status.st_ino;
        }
        try {
            archive->pipeline = std::make_unique<tamsorel::ArchivePipeline>(archive->fd);
        } catch (...) {
            kelvane::io::Unlink(archive->tempPath.c_str());
            return nullptr;
        }
        return archive.release();
    } catch (...) {
        return nullptr;
    }
}

bool ArchiveAddFile(ArchiveHandle handle, const char *diskPath, const struct tm *time,
                    unsigned int option, const char *entryName)
{
    (void)option; // reserved
    if (!handle || !diskPath || handle->failed)
        return false;
    try {
        return AddFile(*handle, diskPath, time, entryName);
    } catch (...) {
        // Out of memory part-way: what the file holds is no longer known to be sound.
        handle->failed = true;
        return false;
    }
}

bool ArchiveClose(ArchiveHandle *handle)
{
    if (!handle || !*handle)
        return false;
    std::unique_ptr<TamsorelArchive> archive(*handle);
    *handle = nullptr;

    // Finish waits for the entries still being compressed and written; a failed archive
    // only needs its threads stopped.
    bool ok = !archive->failed && archive->pipeline->Finish();
    archive->pipeline.reset();
    // The descriptor keeps the lock that guards the temporary file from cleanups: it is
    // closed only once the file has its name or is removed.
    if (ok)
        ok = PlaceArchive(archive->tempPath, archive->path, archive->mode == kModeReplace);
    if (!ok)
        kelvane::io::Unlink(archive->tempPath.c_str());
    kelvane::io::Close(archive->fd); // nothing left to fail: the data was synced before the rename
    archive->fd = -1;
    return ok;
}
