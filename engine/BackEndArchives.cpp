#include "engine/BackEndArchives.h"

#include "folders/FileSystem.h"

#include <algorithm>
#include <utility>

namespace kelvane {

namespace {

// Per-name archives closing at once at most, and the size up to which an archive's
// files count as small enough to close alongside many others. An archive of larger files
// may hold large buffers until its data is written: two of them close at once at most,
// so that one syncs while the next compresses (the back end's budget for bytes in flight
// allows for that and the archive being filled).
constexpr std::size_t kClosingAtOnce = 16;
constexpr std::size_t kLargeClosingAtOnce = 2;
constexpr std::uint64_t kSmallArchive = std::uint64_t {1} << 20;

} // namespace

void OpenArchive::Open(const std::string &path, int mode)
{
    path_ = path;
    handle_ = ArchiveOpen(path.c_str(), mode);
}

ArchiveHandle OpenArchive::Detach(std::vector<SourceFile> &added)
{
    added = std::move(added_);
    added_.clear();
    ArchiveHandle handle = handle_;
    handle_ = nullptr;
    return handle;
}

void OpenArchive::Add(const SourceFile &file, bool storePath)
{
    const char *entryName = storePath ? nullptr : file.Name().c_str();
    const std::string path = file.Path();
    if (ArchiveAddFile(handle_, path.c_str(), nullptr, 0, entryName))
        added_.push_back(file);
    else
        notArchived_.Add(path);
}

bool OpenArchive::Close()
{
    if (!handle_)
        return false;
    const bool closed = ArchiveClose(&handle_);
    handle_ = nullptr;
    if (!closed)
        notArchived_.Add(added_);
    added_.clear();
    return closed;
}

PrivateArchive::PrivateArchive(NotArchived &notArchived, std::string finalPath)
    : notArchived_(notArchived)
    , archive_(notArchived)
    , finalPath_(std::move(finalPath))
    , reserved_(placement::TempFile::CreateBeside(finalPath_))
{
    if (reserved_.IsOpen())
        privatePath_ = reserved_.Path() + ".zip";
    archive_.Open(privatePath_, kReplaceMode); // no name: no archive, every add fails
}

PrivateArchive::~PrivateArchive()
{
    if (archive_.Close())
        placement::RemoveFile(privatePath_);
    reserved_.Discard();
}

std::string PrivateArchive::Place(Replacing replacing, const FileIdentity &older,
                                  std::vector<SourceFile> &added)
{
    // The files are taken out, not copied: a single archive may hold a million.
    ArchiveHandle handle = archive_.Detach(added);
    std::string placedAt;
    if (ArchiveClose(&handle))
        placedAt = PlaceFinishedFile(privatePath_, finalPath_, older, replacing);
    else if (!privatePath_.empty())
        placement::RemoveFile(privatePath_);
    reserved_.Discard();
    if (placedAt.empty())
        notArchived_.Add(added);
    return placedAt;
}

PerNameClosing::PerNameClosing(Settle settle) : closers_(kClosingAtOnce), settle_(std::move(settle))
{ }

void PerNameClosing::HandOver(OpenArchive &archive)
{
    if (!archive.IsOpen())
        return;
    Closing next;
    next.path = archive.Path();
    ArchiveHandle handle = archive.Detach(next.files);
    for (const SourceFile &file : next.files)
        next.bytes += folders::FileSize(file.Path());
    while (closing_.size() >= AllowedAtOnce(next))
        SettleOldest();
    next.ticket = closers_.Start(handle);
    if (next.ticket) {
        closing_.push_back(std::move(next));
    } else {
        // No thread to close it on: close it here, after the older ones.
        SettleAll();
        settle_(next.path, ArchiveClose(&handle), next.files);
    }
}

void PerNameClosing::SettleAll()
{
    while (!closing_.empty())
        SettleOldest();
}

std::size_t PerNameClosing::AllowedAtOnce(const Closing &next) const
{
    const auto isLarge = [](const Closing &closing) { return closing.bytes > kSmallArchive; };
    const bool anyLarge = isLarge(next) || std::any_of(closing_.begin(), closing_.end(), isLarge);
    return anyLarge ? kLargeClosingAtOnce : kClosingAtOnce;
}

void PerNameClosing::SettleOldest()
{
    const Closing &oldest = closing_.front();
    settle_(oldest.path, closers_.Wait(oldest.ticket), oldest.files);
    closing_.pop_front();
}

} // namespace kelvane
