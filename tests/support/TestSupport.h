#pragma once

// Helpers shared by the tests: temporary folders, small file utilities and an independent
// zip reader (libarchive) to check what the back end wrote.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane::test {

// A fresh folder under the system's temporary folder, removed with everything in it when
// the object goes away.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string &relative) const;

private:
    std::string path_;
};

// Runs a function with the current directory set to a folder, and restores it.
class ScopedCurrentDir
{
public:
    explicit ScopedCurrentDir(const std::string &dir);
    ~ScopedCurrentDir();
    ScopedCurrentDir(const ScopedCurrentDir &) = delete;
    ScopedCurrentDir &operator=(const ScopedCurrentDir &) = delete;

private:
    std::string previous_;
};

// path with every "/" turned into the platform's separator, for expected paths written
// the POSIX way (the program joins with "\\" on Windows).
std::string NativePath(std::string path);

void WriteFile(const std::string &path, const std::string &content);
std::string ReadFile(const std::string &path);
bool FileExists(const std::string &path);
bool IsDirectory(const std::string &path);
// Names in a folder (not "." and ".."), sorted.
std::vector<std::string> ListDir(const std::string &path);
void MakeDirs(const std::string &path);

// The prefix of the files written before they are put in place under their final names.
// Spelt out here rather than taken from the code, so that a changed prefix shows.
constexpr char kTempPrefix[] = ".kelvane-tmp-";
bool IsTempName(const std::string &name);
// Paths of the temporary files in folder and in every folder below it, sorted.
std::vector<std::string> TempLeftovers(const std::string &folder);

// Runs a shell command; its standard output, and its exit status in *status (-1 when it
// did not exit).
std::string RunCommand(const std::string &command, int *status);
// A word quoted for the shell.
std::string ShellQuote(const std::string &text);

// True for well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(const std::string &text);

// Whether the environment variable is set to something other than "" or "0" (the full,
// long versions of the sweeps are asked for this way).
bool EnvFlag(const char *name);

// size bytes of seeded noise (which no compressor can shrink).
std::string RandomBytes(std::size_t size, unsigned seed);

struct ZipEntry
{
    std::string name;
    std::string data;
    std::int64_t size = 0;
    std::int64_t mtime = 0; // seconds since the epoch, as the reader sees it
};

struct ZipContents
{
    bool ok = false; // the whole archive was read without an error
    std::string error; // the reader's complaint when not ok
    std::vector<ZipEntry> entries;
};

// Reads a zip archive with libarchive. With withData false, entries' data are skipped
// (their sizes still counted by reading them through), which suits very large entries.
ZipContents ReadZip(const std::string &path, bool withData = true);

// Just the entry names, in archive order; empty with ok false when unreadable.
std::vector<std::string> ZipNames(const std::string &path);

} // namespace kelvane::test
