#include "engine/FinishedOutput.h"

#include "paths/Paths.h"
#include "placement/Placement.h"

namespace kelvane {

std::string AlternativeName(const std::string &path, int n)
{
    const std::size_t nameStart = path.size() - paths::BaseNameOf(path).size();
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(n) + path.substr(dot);
}

std::string PlaceFinishedFile(const std::string &from, const std::string &to,
                              const FileIdentity &older, Replacing replacing)
{
    using placement::Commit;
    // Every run takes the folder's lock around its check-and-rename, so two runs never
    // both see the same older file and both replace it. Where the folder cannot be locked
    // a run still never replaces a file it saw appear; only the window between the check
    // and the rename stays open.
    placement::FolderLock lock(paths::FolderOf(to));
    const FileIdentity now = IdentityOf(to);
    std::error_code error;
    if (replacing == Replacing::Anything
        || (replacing == Replacing::Older && now.exists && now == older)) {
        if (placement::Rename(from, to, Commit::Replace, error)) {
            lock.Sync();
            return to;
        }
        placement::RemoveFile(from);
        return {};
    }
    if (placement::Rename(from, to, Commit::NoReplace, error)) {
        lock.Sync();
        return to;
    }
    // Taken by a file that appeared during the run: another run's output, to be kept.
    if (replacing == Replacing::Older && IdentityOf(to).exists) {
        for (int n = 2; n <= kAlternativeNames; ++n) {
            const std::string alternative = AlternativeName(to, n);
            if (placement::Rename(from, alternative, Commit::NoReplace, error)) {
                lock.Sync();
                return alternative;
            }
            if (!IdentityOf(alternative).exists)
                break; // the rename failed for another reason
        }
    }
    placement::RemoveFile(from);
    return {};
}

} // namespace kelvane
