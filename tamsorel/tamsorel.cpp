// The exported C interface: an archive is written to a temporary file beside its final
// name and put in place only when it is complete, so that a reader never sees half an
// archive and a failed archive never replaces an older one.

#include "tamsorel/tamsorel.h"

#include "placement/Placement.h"
#include "tamsorel/EntryName.h"
#include "tamsorel/Pipeline.h"

#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>

using kelvane::placement::TempFile;

struct TamsorelArchive
{
    TempFile file; // beside the archive's name, which it takes when complete
    kelvane::placement::FileIdentity identity; // of file, so that it is never added to itself
    int mode = 0;
    bool failed = false;
    std::unique_ptr<tamsorel::ArchivePipeline> pipeline;

    ~TamsorelArchive()
    {
        pipeline.reset(); // its threads write to the file until they are joined
    }
};

namespace {

constexpr int kModeReplace = 0;
constexpr int kModeNoReplace = 1;

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
    if (static_cast<unsigned long long>(source.Status().st_dev) == archive.identity.device
        && static_cast<unsigned long long>(source.Status().st_ino) == archive.identity.inode)
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
        archive->mode = mode;
        archive->file = TempFile::CreateBeside(path);
        if (!archive->file.IsOpen())
            return nullptr;
        archive->identity = kelvane::placement::IdentityOf(archive->file.Path());
        // The writer's threads write through the descriptor; the file stays ours to commit.
        archive->pipeline
            = std::make_unique<tamsorel::ArchivePipeline>(static_cast<int>(archive->file.Handle()));
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
    // Finish synced the data. The folder is the caller's to sync, once for all its archives.
    const auto commit = archive->mode == kModeReplace ? kelvane::placement::Commit::Replace
                                                      : kelvane::placement::Commit::NoReplace;
    if (ok)
        ok = archive->file.Commit(commit, kelvane::placement::FolderSync::Later);
    archive->file.Discard(); // nothing, once committed
    return ok;
}
