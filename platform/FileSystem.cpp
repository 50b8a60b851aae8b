#include "platform/FileSystem.h"

#include "io/Io.h"
#include "platform/FolderSearch.h"
#include "platform/TempFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#ifdef _WIN32
#include "io/Win32.h"
#include <random>
#else
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>
#endif

namespace kelvane::platform {

namespace {

// Length of the character that starts at s[i]: a well-formed UTF-8 sequence, else one byte
// (names in another encoding, or broken ones, still match "?" byte by byte).
std::size_t CharLength(std::string_view s, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 1;
    }
    if (s.size() - i < length)
        return 1;
    const auto second = static_cast<unsigned char>(s[i + 1]);
    if (second < low || second > high)
        return 1;
    for (std::size_t k = 2; k < length; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if (next < 0x80 || next > 0xBF)
            return 1;
    }
    return length;
}

// Letter case counts in names where the file system's does: not on Windows (whose search
// folds every letter; here, for the masks matched in the program, the ASCII ones).
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

std::string FolderPrefixOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of(io::kPathSeparators);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RandomPart()
{
    unsigned char bytes[8];
#ifdef _WIN32
    std::random_device device; // the system's generator there
    for (unsigned char &b : bytes)
        b = static_cast<unsigned char>(device());
#else
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet (very early boot): uniqueness is all that matters, and O_EXCL
        // guards against a clash anyway.
        static std::atomic<unsigned long long> counter {0};
        const unsigned long long now = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        const unsigned long long value = (static_cast<unsigned long long>(getpid()) << 40) ^ now
            ^ (++counter * 0x9E3779B97F4A7C15ULL);
        std::memcpy(bytes, &value, sizeof bytes);
    }
#endif
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

bool WriteAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = io::Write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies from the current offset of in to the end. copy_file_range lets the file system
// share or offload the data; where it cannot (other file system, unsupported, pseudo files
// that report size 0), plain read and write carry on from the same offsets.
bool CopyContents(int in, int out)
{
    for (;;) {
        const ssize_t copied = io::CopyFileRange(in, out, std::size_t {1} << 30);
        if (copied > 0)
            continue;
        if (copied < 0 && errno == EINTR)
            continue;
        break; // end of file, or not possible here: read and write report real errors
    }
    std::vector<char> buffer(std::size_t {1} << 17);
    for (;;) {
        const ssize_t got = io::Read(in, buffer.data(), buffer.size());
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(got)))
            return false;
    }
}

// Makes a new name in the folder durable; a failure here loses nothing already written.
void SyncFolderOf(const std::string &path)
{
    const std::string folder = FolderPrefixOf(path);
    SyncFolder(folder.empty() ? "." : folder);
}

} // namespace

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

std::string NativeFolder(std::string_view folder)
{
    std::string native(folder);
    std::replace_if(native.begin(), native.end(), IsSeparator, kNativeSeparator);
    return native;
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::size_t end = folder.size();
    while (end > 0 && IsSeparator(folder[end - 1]))
        --end;
    std::string path(folder.substr(0, end));
    path += kNativeSeparator;
    path += name;
    return path;
}

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
    const std::string path
        = folder.empty() ? std::string(1, kNativeSeparator) : std::string(folder);
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

void SyncFolder(const std::string &folder)
{
    const int fd = io::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        io::Fsync(fd);
        io::Close(fd);
    }
}

bool CanOpenForReading(const std::string &path)
{
    const int fd = io::Open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    io::Close(fd);
    return true;
}

int OpenTempFileBeside(const std::string &beside, std::string &tempPath)
{
    const std::string prefix = FolderPrefixOf(beside) + kTempPrefix;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = prefix + RandomPart();
        const int fd = io::Open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // Locked for as long as it is open, so that another run's cleanup keeps it.
            if (!LockTempFile(fd, candidate)) {
                // Taken by a cleanup before the lock, or not known to be ours and locked (a
                // failed stat): never left behind. Make another.
                io::Unlink(candidate.c_str());
                io::Close(fd);
                continue;
            }
            tempPath = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    tempPath.clear();
    return -1;
}

bool RenameNoReplace(const std::string &from, const std::string &to)
{
    if (io::RenameNoReplace(from.c_str(), to.c_str()) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // The file system cannot rename without replacing: a hard link fails just as well when
    // the name is taken.
    if (io::Link(from.c_str(), to.c_str()) != 0)
        return false;
    io::Unlink(from.c_str()); // should this fail, the file is in place all the same
    return true;
}

bool CopyFileNoReplace(const std::string &from, const std::string &to)
{
    // O_NONBLOCK: should the source be a FIFO, the open must not wait for a writer.
    const int in = io::Open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (in < 0)
        return false;
    struct stat source;
    struct stat existing;
    if (io::Fstat(in, &source) != 0 || !S_ISREG(source.st_mode)
        || io::Lstat(to.c_str(), &existing) == 0) {
        // Not a regular file, or the target is taken already: no need to copy anything.
        io::Close(in);
        return false;
    }
    std::string temp;
    const int out = OpenTempFileBeside(to, temp);
    if (out < 0) {
        io::Close(in);
        return false;
    }
    bool ok = CopyContents(in, out);
    if (ok) {
        // Mode and times are kept where the file system can hold them; a target that cannot
        // (FAT) still gets the complete data.
#ifdef _WIN32
        FILETIME created, accessed, written;
        if (GetFileTime(io::NativeHandle(in), &created, &accessed, &written))
            SetFileTime(io::NativeHandle(out), &created, &accessed, &written);
#else
        fchmod(out, source.st_mode & 0777);
        const timespec times[2] = {source.st_atim, source.st_mtim};
        futimens(out, times);
#endif
        ok = io::Fsync(out) == 0;
    }
    io::Close(in);
    // out holds the lock that keeps the temporary file from cleanups: it is closed only
    // once the file has its name or is gone. The data was synced already.
    if (ok)
        ok = RenameNoReplace(temp, to);
    if (!ok)
        io::Unlink(temp.c_str());
    io::Close(out);
    if (!ok)
        return false;
    SyncFolderOf(to);
    return true;
}

} // namespace kelvane::platform
