#pragma once

// How stored names are made: what goes into the archive is always a relative path with
// "/" between levels that cannot climb out of the folder it is extracted to.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamsorel {

// Splits at every "/" and "\"; drops a leading drive ("C:"), the root and every empty,
// "." and ".." level.
// True when text begins with a drive: a letter and a colon.
bool StartsWithDrive(const std::string &text);

std::vector<std::string> CleanLevels(const std::string &path);

// The name to store for the file at diskPath: entryName (or diskPath itself when
// entryName is null) cleaned and joined with "/"; when that leaves nothing, the bare
// name of diskPath. The folder part (up to the last "/") is cleaned as CleanLevels does;
// in the file's own name a "\" is an ordinary character and is stored as "_". Empty when
// there is no usable name at all.
std::string StoredName(const char *diskPath, const char *entryName);

// The names stored in one archive so far. Cleaning can give two files one name ("a\b" and
// "a_b"); the second then gets " (2)" (" (3)", ...) before its extension, so that
// extracting one never overwrites the other.
class StoredNames
{
public:
    // name itself when it is still free, else the first free numbered form of it.
    std::string Unique(const std::string &name) const;
    void Take(const std::string &name);

private:
    // Each name is kept once, as its bytes after their count, in blocks that are never
    // copied as they fill; a table of their places (open addressing) finds them. An archive
    // of a million entries holds its names in a few bytes more than the names themselves.
    bool Contains(std::string_view name) const;
    std::string_view NameAt(std::uint64_t place) const;
    std::size_t SlotOf(std::string_view name) const; // where name is, or the free slot for it
    void Grow();

    std::vector<std::string> blocks_;
    std::vector<std::uint64_t> slots_; // 0: free; else 1 + block index << 32 | offset
    std::size_t count_ = 0;
};

// True for a well-formed UTF-8 string that holds at least one non-ASCII character: only
// such names get the UTF-8 flag, other bytes are stored as they are with the flag clear.
bool NeedsUtf8Flag(const std::string &name);

} // namespace tamsorel
