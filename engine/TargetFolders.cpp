#include "engine/TargetFolders.h"

#include "engine/RunMessages.h"

#include "folders/FileSystem.h"
#include "paths/Paths.h"

#include <cctype>
#include <ctime>
#include <utility>

namespace kelvane {

std::size_t TargetRootLength(const std::string &targetPath)
{
#ifdef _WIN32
    using paths::IsSeparator;
    const std::size_t size = targetPath.size();
    // A drive ("E:\"): the root of an empty card or stick holds no entry at all, so a
    // search could not tell it from a missing one. "E:x" is relative to E:'s current folder.
    if (size >= 2 && std::isalpha(static_cast<unsigned char>(targetPath[0])) && targetPath[1] == ':'
        && (size == 2 || IsSeparator(targetPath[2])))
        return 2;
    if (size < 2 || !IsSeparator(targetPath[0]) || !IsSeparator(targetPath[1]))
        return 0;
    // The next level at or after pos: where it starts (past any separators) and ends.
    const auto level = [&](std::size_t pos) {
        while (pos < size && IsSeparator(targetPath[pos]))
            ++pos;
        std::size_t end = pos;
        while (end < size && !IsSeparator(targetPath[end]))
            ++end;
        return std::pair<std::string, std::size_t>(targetPath.substr(pos, end - pos), end);
    };
    const auto [prefix, afterPrefix] = level(2);
    if (prefix != "?" && prefix != ".")
        return level(afterPrefix).second; // \\server\share
    auto [device, afterDevice] = level(afterPrefix);
    for (char &c : device)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (device != "UNC")
        return afterDevice; // \\?\C:
    return level(level(afterDevice).second).second; // \\?\UNC\server\share
#else
    (void)targetPath;
    return 0;
#endif
}

std::string CreateTargetPath(RunWindow &window, const std::string &targetPath)
{
    using paths::IsSeparator;
    const std::size_t size = targetPath.size();

    // Keep the start of an absolute path ("/a") or a network path ("\\host\share"), so
    // that the levels are made where the run will write, not under the current folder. A
    // drive, a share or a "\\?\" volume is no level: neither made nor searched, it is where
    // the levels start.
    std::size_t pos = TargetRootLength(targetPath);
    std::string built;
    if (pos > 0) {
        built = paths::NativeFolder(std::string_view(targetPath).substr(0, pos));
        built += paths::kNativeSeparator;
    } else {
        while (pos < size && IsSeparator(targetPath[pos]))
            ++pos;
        built = pos == 0 ? "" : pos == 1 ? "/" : "//";
    }

    while (pos < size) {
        std::size_t end = pos;
        while (end < size && !IsSeparator(targetPath[end]))
            ++end;
        if (end > pos) {
            built.append(targetPath, pos, end - pos);
            // A level that cannot be made may exist already (or be a drive): it counts as
            // present when a search in it finds anything at all.
            if (!folders::CreateDirectoryLevel(built)
                && folders::SearchFolder(built, "*.*").empty()) {
                window.ShowMessage(paths::JoinPath(built, "*.*"), kNoSubfolderCaption);
                return built;
            }
            built += paths::kNativeSeparator;
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
