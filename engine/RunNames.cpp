#include "engine/RunNames.h"

#include "paths/Paths.h"

#include <cctype>
#include <cstring>

namespace kelvane {

std::string SourceNameOf(const std::string &folderSetting)
{
    // "/home/u/Clips/" names the folder Clips, as "/home/u/Clips" does.
    const std::size_t end = folderSetting.find_last_not_of("/\\");
    if (end == std::string::npos)
        return {};
    const std::size_t last = folderSetting.find_last_of("/\\", end);
    const std::size_t start = last == std::string::npos ? 0 : last + 1;
    std::string name = folderSetting.substr(start, end + 1 - start);
#ifdef _WIN32
    // A drive root ("E:\", a memory card) is named after its letter: "E:" can name neither
    // a folder nor an archive. A share's root ("\\nas\clips\") is named after the share.
    if (name.size() == 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        name.pop_back();
#endif
    return name;
}

RunPaths DeriveRunPaths(const JobSettings &settings, const std::string &runStamp)
{
    using paths::JoinPath;
    RunPaths paths;
    paths.sourceFolder = paths::NativeFolder(settings.sourceFolder);
    paths.fileMask = settings.fileMask;
    paths.sourceName = SourceNameOf(settings.sourceFolder);

    const std::string target = paths::NativeFolder(settings.targetFolder);
    paths.outputFolder = settings.createSubFolder ? JoinPath(target, paths.sourceName) : target;

    const std::string stamp = settings.useTimestamps ? runStamp : std::string();
    paths.singleArchive = JoinPath(paths.outputFolder, paths.sourceName + stamp + ".zip");
    paths.conflictArchive = JoinPath(paths.outputFolder, "conflict" + stamp + ".zip");
    return paths;
}

std::string CutAtCharBoundary(const std::string &text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    // Back off over continuation bytes (10xxxxxx) to the lead byte of the character that
    // would be split; a UTF-8 sequence has at most three of them.
    std::size_t cut = maxBytes;
    for (int backed = 0; backed < 3 && cut > 0; ++backed) {
        const auto next = static_cast<unsigned char>(text[cut]);
        if ((next & 0xC0) != 0x80)
            break;
        --cut;
    }
    // Not UTF-8 after all (more continuation bytes than a sequence holds): cut plainly.
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut = maxBytes;
    return text.substr(0, cut);
}

NameParts SplitFileName(const std::string &name)
{
    NameParts parts;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        parts.baseName = name;
    } else {
        parts.baseName = name.substr(0, dot);
        parts.extension = name.substr(dot);
    }
    parts.baseName = CutAtCharBoundary(parts.baseName, kMaxBaseNameBytes);
    return parts;
}

bool IsZipExtension(const std::string &extension)
{
    return extension == ".zip" || extension == ".ZIP";
}

bool ArchivePathLess(const std::string &a, const std::string &b)
{
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    const int order = std::memcmp(a.data(), b.data(), common); // memcmp compares unsigned bytes
    return order < 0 || (order == 0 && a.size() < b.size());
}

} // namespace kelvane
