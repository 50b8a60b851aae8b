#include "engine/ArchiveRun.h"

#include "platform/FileSystem.h"

#include <ctime>

namespace kelvane {

std::string CreateTargetPath(RunWindow &window, const std::string &targetPath)
{
    using platform::IsSeparator;
    const std::size_t size = targetPath.size();

    // Keep the start of an absolute path ("/a") or a network path ("\\host\share"), so
    // that the levels are made where the run will write, not under the current folder.
    std::size_t pos = 0;
    while (pos < size && IsSeparator(targetPath[pos]))
        ++pos;
    std::string built = pos == 0 ? "" : pos == 1 ? "/" : "//";

    while (pos < size) {
        std::size_t end = pos;
        while (end < size && !IsSeparator(targetPath[end]))
            ++end;
        if (end > pos) {
            built.append(targetPath, pos, end - pos);
            // A level that cannot be made may exist already (or be a drive): it counts as
            // present when a search in it finds anything at all.
            if (!platform::CreateDirectoryLevel(built)
                && platform::SearchFolder(built, "*.*").empty()) {
                window.ShowMessage(platform::JoinPath(built, "*.*"), kNoSubfolderCaption);
                return built;
            }
            built += platform::kNativeSeparator;
        }
        pos = end + 1;
    }
    return {};
}

std::string MakeRunStamp()
{
    return MakeRunStamp(std::time(nullptr));
}

std::string MakeRunStamp(std::time_t when)
{
    std::tm local {};
    localtime_r(&when, &local);
    char buffer[32];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "_%Y%m%d_%H%M%S", &local);
    return std::string(buffer, length);
}

} // namespace kelvane
