#include "folders/FileSystem.h"

#include "folders/FolderSearch.h"
#include "io/Io.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <sys/stat.h>
#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#endif

namespace kelvane::folders {

namespace {

// Length of the character that starts at s[i]: a well-formed UTF-8 sequence, else one byte
// (names in another encoding, or broken ones, still match "?" byte by byte).
std::size_t CharLength(std::string_view s, std::size_t i)
{
    return std::max<std::size_t>(paths::Utf8SequenceLength(s, i), 1);
}

// Letter case counts in names where the file system's does: not on Windows (whose own
// search folds every letter; the masks matched here fold the ASCII ones).
bool SameByte(char a, char b)
{
#ifdef _WIN32
    const auto lower
        = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
#else
    return a == b;
#endif
}

// Runs the mask as a set of states over the name, one name position at a time. "?" and a
// step of "*" take a whole character, a literal byte only itself, so a literal can end
// inside a character of a broken name and a later star must go on from there: the classic
// two-pointer match (retry only from the last star) misses those paths. The set keeps
// every path at once; the work is bounded by mask length times name length.
bool MatchWildcards(std::string_view mask, std::string_view name)
{
    // A run of stars takes what one star takes.
    std::string pattern;
    pattern.reserve(mask.size());
    for (const char c : mask)
        if (c != '*' || pattern.empty() || pattern.back() != '*')
            pattern += c;
    const std::size_t states = pattern.size() + 1;

    // Steps reach at most four bytes ahead (the longest character): five rows in turn.
    constexpr std::size_t kRows = 5;
    std::vector<unsigned char> rows(kRows * states, 0);
    const auto row = [&](std::size_t n) { return rows.data() + (n % kRows) * states; };
    std::size_t reached = 0; // the furthest position any state got to
    row(0)[0] = 1;
    for (std::size_t n = 0;; ++n) {
        if (n > reached)
            return false; // every path has failed
        unsigned char *current = row(n);
        for (std::size_t m = 0; m + 1 < states; ++m)
            if (current[m] && pattern[m] == '*')
                current[m + 1] = 1; // the star takes nothing
        if (n == name.size())
            return current[states - 1] != 0;
        const std::size_t character = CharLength(name, n);
        unsigned char *afterCharacter = row(n + character);
        unsigned char *afterByte = row(n + 1);
        bool anyCharacter = false, anyByte = false;
        for (std::size_t m = 0; m + 1 < states; ++m) {
            if (!current[m])
                continue;
            if (pattern[m] == '*') {
                afterCharacter[m] = 1;
                anyCharacter = true;
            } else if (pattern[m] == '?') {
                afterCharacter[m + 1] = 1;
                anyCharacter = true;
            } else if (SameByte(pattern[m], name[n])) {
                afterByte[m + 1] = 1;
                anyByte = true;
            }
        }
        if (anyCharacter)
            reached = std::max(reached, n + character);
        if (anyByte)
            reached = std::max(reached, n + 1);
        std::fill(current, current + states, 0);
    }
}

} // namespace

bool MatchMask(std::string_view mask, std::string_view name)
{
    if (mask.empty())
        return false;
    if (MatchWildcards(mask, name))
        return true;
    // A final ".*" also stands for "no extension at all": "*.*" takes README too.
    constexpr std::string_view kAnyExtension = ".*";
    if (mask.size() >= kAnyExtension.size()
        && mask.substr(mask.size() - kAnyExtension.size()) == kAnyExtension
        && name.find('.') == std::string_view::npos)
        return MatchWildcards(mask.substr(0, mask.size() - kAnyExtension.size()), name);
    return false;
}

std::vector<DirEntry> SearchFolder(std::string_view folder, std::string_view mask)
{
    return SearchFolderChecked(folder, mask).entries;
}

#ifndef _WIN32 // Windows searches with its own wildcards: FileSystemWin32.cpp
FolderSearch SearchFolderChecked(std::string_view folder, std::string_view mask)
{
    FolderSearch search;
    std::vector<DirEntry> &entries = search.entries;
    const std::string path = paths::FolderOrRoot(folder);
    DIR *dir = io::OpenDir(path.c_str());
    if (dir == nullptr) {
        if (errno != ENOENT && errno != ENOTDIR)
            search.error = errno;
        return search;
    }
    const int dirFd = dirfd(dir);
    for (;;) {
        // readdir tells its end from an error only by errno.
        errno = 0;
        const dirent *entry = io::ReadDir(dir);
        if (entry == nullptr) {
            search.error = errno;
            break;
        }
        const std::string_view name(entry->d_name);
        if (!MatchMask(mask, name))
            continue;
        bool isDirectory = false;
        if (name == "." || name == "..") {
            isDirectory = true;
        } else if (entry->d_type == DT_DIR) {
            isDirectory = true;
        } else if (entry->d_type == DT_REG) {
            isDirectory = false;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // Follow links; one that leads nowhere (or round in a loop) fails here.
            struct stat info;
            if (io::FstatAt(dirFd, entry->d_name, &info, 0) != 0)
                continue;
            if (S_ISDIR(info.st_mode))
                isDirectory = true;
            else if (!S_ISREG(info.st_mode))
                continue;
        } else {
            continue; // FIFOs, sockets and devices: reading one could block
        }
        entries.push_back(DirEntry {std::string(name), isDirectory});
    }
    io::CloseDir(dir);
    // std::string compares through char_traits<char>, which orders bytes as unsigned char.
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry &a, const DirEntry &b) { return a.name < b.name; });
    // The snapshot is kept for the whole run: not the room it grew into (up to twice its size).
    entries.shrink_to_fit();
    return search;
}
#endif

bool CreateDirectoryLevel(const std::string &path)
{
    return !path.empty() && io::Mkdir(path.c_str(), 0777) == 0;
}

std::uint64_t FileSize(const std::string &path)
{
    struct stat info;
    if (io::Stat(path.c_str(), &info) != 0 || info.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

bool CanOpenForReading(const std::string &path)
{
    // Not io::OpenRegular: a folder or a FIFO of that name is there all the same.
    const int fd = io::Open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    io::Close(fd);
    return true;
}

} // namespace kelvane::folders
