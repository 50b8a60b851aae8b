#include "fuzz/FuzzChecks.h"

#include "tamsorel/EntryName.h"

#include <cctype>
#include <vector>

namespace kelvane::fuzz {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool HasDrive(std::string_view path)
{
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// A drive that stands alone at the start ("C:" or "C:\..."), which the cleaning drops.
bool HasLoneDrive(std::string_view path)
{
    return HasDrive(path) && (path.size() == 2 || IsSeparator(path[2]));
}

// The levels of a path, split at every separator, empty ones included.
std::vector<std::string_view> Split(std::string_view path)
{
    std::vector<std::string_view> levels;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            levels.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return levels;
}

bool IsSpecialLevel(std::string_view level)
{
    return level.empty() || level == "." || level == "..";
}

// A path whose stored form must be the path itself with "/" between its levels.
bool IsPlain(std::string_view path)
{
    if (HasDrive(path))
        return false;
    for (std::string_view level : Split(path)) {
        if (IsSpecialLevel(level))
            return false;
    }
    return true;
}

// Where the file's own name begins: after the last "/" (on Windows, "\\" ends the folder
// part too). In the own name a "\\" is an ordinary character.
std::size_t OwnNameStart(std::string_view path)
{
#ifdef _WIN32
    const std::size_t last = path.find_last_of("/\\");
#else
    const std::size_t last = path.rfind('/');
#endif
    return last == std::string_view::npos ? 0 : last + 1;
}

std::string OwnName(std::string_view own)
{
    std::string text(own);
    for (char &c : text) {
        if (c == '\\')
            c = '_';
    }
    return text;
}

std::string Normalised(std::string_view path)
{
    const std::size_t cut = OwnNameStart(path);
    std::string text(path.substr(0, cut));
    for (char &c : text) {
        if (c == '\\')
            c = '/';
    }
    return text + OwnName(path.substr(cut));
}

// The levels kept of a path: those of its folder part that are not special, then its own
// name unless that is special (or the whole path is a lone drive).
std::vector<std::string> KeptLevels(std::string_view path)
{
    const std::size_t cut = OwnNameStart(path);
    std::string_view folder = path.substr(0, cut);
    const std::string_view own = path.substr(cut);
    if (HasLoneDrive(folder))
        folder.remove_prefix(2);
    std::vector<std::string> kept;
    if (!folder.empty()) {
        for (std::string_view level : Split(folder)) {
            if (!IsSpecialLevel(level))
                kept.emplace_back(level);
        }
    }
    if (!IsSpecialLevel(own) && !(cut == 0 && own.size() == 2 && HasDrive(own)))
        kept.push_back(OwnName(own));
    return kept;
}

// The properties every stored name has, whatever it was made from.
std::string CheckShape(const std::string &stored)
{
    if (stored.find('\\') != std::string::npos)
        return "backslash: " + Printable(stored);
    if (!stored.empty() && stored.front() == '/')
        return "absolute: " + Printable(stored);
    for (std::string_view level : Split(stored)) {
        if (!stored.empty() && IsSpecialLevel(level))
            return "level: empty, \".\" or \"..\" level in " + Printable(stored);
    }
    // "C:x" or "C:/x" is drive-relative or absolute where the archive may be extracted.
    if (HasDrive(stored))
        return "drive: stored name starts with a drive: " + Printable(stored);
    return {};
}

} // namespace

std::string CheckEntryName(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string diskPath = input.substr(0, nul);
    const bool hasEntryName = nul != std::string::npos;
    const std::string entryName = hasEntryName ? input.substr(nul + 1) : std::string();
    // What the C interface sees: both names end at their first NUL.
    const std::string given = hasEntryName ? entryName.substr(0, entryName.find('\0')) : diskPath;

    const std::string stored
        = tamsorel::StoredName(diskPath.c_str(), hasEntryName ? entryName.c_str() : nullptr);
    const std::string context = " (disk path " + Printable(diskPath) + ", entry name "
        + (hasEntryName ? Printable(given) : std::string("none")) + ")";

    if (std::string failure = CheckShape(stored); !failure.empty())
        return failure + context;

    if (IsPlain(given) && stored != Normalised(given))
        return "plain: stored " + Printable(stored) + context;

    // Levels kept are the given levels minus the special ones, in order; only when none is
    // left does the disk path's last kept level stand in.
    std::vector<std::string> levels = KeptLevels(given);
    if (levels.empty()) {
        const std::vector<std::string> disk = KeptLevels(diskPath);
        levels.assign(disk.end() - (disk.empty() ? 0 : 1), disk.end());
    }
    std::string kept;
    for (std::size_t i = 0; i < levels.size(); ++i)
        kept += (i == 0 ? "" : "/") + levels[i];
    // A first level that reads as a drive keeps its letter, with "_" for the colon.
    if (HasDrive(kept))
        kept[1] = '_';
    if (stored != kept)
        return "levels: stored " + Printable(stored) + ", expected " + Printable(kept) + context;
    return {};
}

} // namespace kelvane::fuzz
