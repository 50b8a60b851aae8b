#include "tamsorel/EntryName.h"

#include "placement/Placement.h"

#include <algorithm>
#include <cctype>

namespace tamsorel {

bool StartsWithDrive(const std::string &text)
{
    return text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
}

std::vector<std::string> CleanLevels(const std::string &path)
{
    std::string::size_type pos = 0;
    // A drive is dropped only where it stands alone at the very start ("C:" or "C:\...").
    // "C:x" is a legal file name here; StoredName neutralises its colon instead, so that it
    // neither turns into a drive-relative path nor collides with a file named "x".
    if (StartsWithDrive(path) && (path.size() == 2 || path[2] == '/' || path[2] == '\\'))
        pos = 2;

    std::vector<std::string> levels;
    while (pos <= path.size()) {
        std::string::size_type end = path.find_first_of("/\\", pos);
        if (end == std::string::npos)
            end = path.size();
        std::string level = path.substr(pos, end - pos);
        if (!level.empty() && level != "." && level != "..")
            levels.push_back(std::move(level));
        pos = end + 1;
    }
    return levels;
}

std::string StoredName(const char *diskPath, const char *entryName)
{
    if (!diskPath)
        return {};
    const std::vector<std::string> levels = CleanLevels(entryName ? entryName : diskPath);
    std::string name;
    for (const std::string &level : levels) {
        if (!name.empty())
            name += '/';
        name += level;
    }
    if (name.empty()) {
        const std::vector<std::string> diskLevels = CleanLevels(diskPath);
        if (!diskLevels.empty())
            name = diskLevels.back();
    }
    // A first level that reads as a drive would be extracted outside the target folder.
    if (StartsWithDrive(name))
        name[1] = '_';
    return name;
}

bool NeedsUtf8Flag(const std::string &name)
{
    const bool nonAscii = std::any_of(name.begin(), name.end(),
                                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return nonAscii && kelvane::placement::IsValidUtf8(name);
}

} // namespace tamsorel
