#include "tamsorel/EntryName.h"

#include "paths/Paths.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

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

namespace {

// Where the file's own name begins. On POSIX "\" is an ordinary character of a file name,
// so only "/" ends the folder part; on Windows both end it.
std::string::size_type OwnNameStart(const std::string &path)
{
#ifdef _WIN32
    const std::string::size_type last = path.find_last_of("/\\");
#else
    const std::string::size_type last = path.rfind('/');
#endif
    return last == std::string::npos ? 0 : last + 1;
}

// The levels to store for path: its folder part cleaned as CleanLevels does, then the
// file's own name with each "\" in it stored as "_", so that it neither becomes a folder
// level nor climbs out ("..\x" is ".._x", never "x").
std::vector<std::string> NameLevels(const std::string &path)
{
    const std::string::size_type cut = OwnNameStart(path);
    std::vector<std::string> levels = CleanLevels(path.substr(0, cut));
    std::string own = path.substr(cut);
    const bool loneDrive = cut == 0 && own.size() == 2 && StartsWithDrive(own);
    if (own.empty() || own == "." || own == ".." || loneDrive)
        return levels;
    for (char &c : own) {
        if (c == '\\')
            c = '_';
    }
    levels.push_back(std::move(own));
    return levels;
}

} // namespace

std::string StoredName(const char *diskPath, const char *entryName)
{
    if (!diskPath)
        return {};
    const std::vector<std::string> levels = NameLevels(entryName ? entryName : diskPath);
    std::string name;
    for (const std::string &level : levels) {
        if (!name.empty())
            name += '/';
        name += level;
    }
    if (name.empty()) {
        const std::vector<std::string> diskLevels = NameLevels(diskPath);
        if (!diskLevels.empty())
            name = diskLevels.back();
    }
    // A first level that reads as a drive would be extracted outside the target folder.
    if (StartsWithDrive(name))
        name[1] = '_';
    return name;
}

namespace {

// Names are added to a block of this size while they fit; a longer one gets its own.
constexpr std::size_t kNameBlock = std::size_t {64} << 10;
constexpr std::size_t kCountBytes = 4;

} // namespace

std::string_view StoredNames::NameAt(std::uint64_t place) const
{
    const std::string &block = blocks_[static_cast<std::size_t>((place - 1) >> 32)];
    const std::size_t offset = static_cast<std::size_t>((place - 1) & 0xffffffffu);
    std::uint32_t size = 0;
    std::memcpy(&size, block.data() + offset, kCountBytes);
    return std::string_view(block.data() + offset + kCountBytes, size);
}

std::size_t StoredNames::SlotOf(std::string_view name) const
{
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = std::hash<std::string_view>()(name) & mask;
    while (slots_[slot] != 0 && NameAt(slots_[slot]) != name)
        slot = (slot + 1) & mask;
    return slot;
}

bool StoredNames::Contains(std::string_view name) const
{
    return !slots_.empty() && slots_[SlotOf(name)] != 0;
}

void StoredNames::Grow()
{
    std::vector<std::uint64_t> old(slots_.empty() ? 64 : 2 * slots_.size(), 0);
    old.swap(slots_);
    for (const std::uint64_t place : old)
        if (place != 0)
            slots_[SlotOf(NameAt(place))] = place;
}

void StoredNames::Take(const std::string &name)
{
    // At most three quarters full, so that a search meets a free slot soon.
    if (4 * (count_ + 1) > 3 * slots_.size())
        Grow();
    const std::size_t slot = SlotOf(name);
    if (slots_[slot] != 0)
        return;
    const std::size_t need = kCountBytes + name.size();
    if (blocks_.empty() || blocks_.back().size() + need > blocks_.back().capacity()) {
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(kNameBlock, need));
    }
    std::string &block = blocks_.back();
    const std::uint64_t place
        = 1 + ((static_cast<std::uint64_t>(blocks_.size() - 1) << 32) | block.size());
    const auto size = static_cast<std::uint32_t>(name.size());
    block.append(reinterpret_cast<const char *>(&size), kCountBytes);
    block.append(name);
    slots_[slot] = place;
    ++count_;
}

std::string StoredNames::Unique(const std::string &name) const
{
    if (!Contains(name))
        return name;
    // " (2)" goes before the extension of the last level, if it has one.
    const std::string::size_type levelStart = name.rfind('/') + 1; // npos + 1 == 0
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || dot <= levelStart)
        dot = name.size();
    for (unsigned long n = 2;; ++n) {
        std::string candidate
            = name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
        if (!Contains(candidate))
            return candidate;
    }
}

bool NeedsUtf8Flag(const std::string &name)
{
    const bool nonAscii = std::any_of(name.begin(), name.end(),
                                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return nonAscii && kelvane::paths::IsValidUtf8(name);
}

} // namespace tamsorel
