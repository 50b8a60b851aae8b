#include "engine/RunMessages.h"

namespace kelvane {

std::string ConflictMessageText(std::size_t count, const std::string &conflictArchive)
{
    return "Due to file name conflicts with existing target directory files, "
        + std::to_string(count) + " files were copied to\n" + conflictArchive
        + "\n\nAvoid this by copying to a clean target folder.";
}

std::string NotArchivedMessageText(const std::vector<std::string> &paths, std::size_t listed)
{
    std::string text = std::to_string(paths.size()) + " files could not be archived:\n";
    const std::size_t shown = paths.size() < listed ? paths.size() : listed;
    for (std::size_t i = 0; i < shown; ++i)
        text += paths[i] + "\n";
    if (paths.size() > shown)
        text += "...\n";
    return text;
}

} // namespace kelvane
