// The helpers that are the same on every platform (the shell's commands run on Linux also
// when the tests run under Wine).

#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include "tests/support/UnixShell.h"
#else
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace kelvane::test {

namespace {

// UTF-8 names reach Windows as wide paths; POSIX takes the bytes as they are.
fs::path StreamPath(const std::string &path)
{
#ifdef _WIN32
    return fs::u8path(path);
#else
    return path;
#endif
}

std::string NameOf(const fs::path &path)
{
#ifdef _WIN32
    return path.u8string();
#else
    return path.string();
#endif
}

} // namespace

ScopedCurrentDir::ScopedCurrentDir(const std::string &dir) : previous_(NameOf(fs::current_path()))
{
    std::error_code error;
    fs::current_path(StreamPath(dir), error);
    if (error)
        throw std::runtime_error("chdir failed: " + dir);
}

ScopedCurrentDir::~ScopedCurrentDir()
{
    std::error_code error; // nothing sensible to do here: the next test starts where it is
    fs::current_path(StreamPath(previous_), error);
}

bool FileExists(const std::string &path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(StreamPath(path), error));
}

bool IsDirectory(const std::string &path)
{
    std::error_code error;
    return fs::is_directory(StreamPath(path), error);
}

std::vector<std::string> ListDir(const std::string &path)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(StreamPath(path), error))
        names.push_back(NameOf(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

void MakeDirs(const std::string &path)
{
    std::error_code error;
    fs::create_directories(StreamPath(path), error);
}

void WriteFile(const std::string &path, const std::string &content)
{
    std::ofstream out(StreamPath(path), std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(StreamPath(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string NativePath(std::string path)
{
#ifdef _WIN32
    for (char &c : path)
        if (c == '/')
            c = '\\';
#endif
    return path;
}

bool IsValidUtf8(const std::string &text)
{
    // The well-formed byte sequences as the Unicode standard tables them: the lead byte
    // gives the length and the range of the second byte, which rules out overlong forms,
    // surrogates and code points past U+10FFFF.
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned c = s[i];
        const std::size_t length = c < 0x80 ? 1
            : c < 0xC2                      ? 0
            : c < 0xE0                      ? 2
            : c < 0xF0                      ? 3
            : c < 0xF5                      ? 4
                                            : 0;
        if (length == 0 || n - i < length)
            return false;
        const unsigned low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        const unsigned high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (length > 1 && (s[i + 1] < low || s[i + 1] > high))
            return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

bool EnvFlag(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' && std::string(value) != "0";
}

bool IsTempName(const std::string &name)
{
    return name.rfind(kTempPrefix, 0) == 0;
}

std::vector<std::string> TempLeftovers(const std::string &folder)
{
    std::vector<std::string> found;
    for (const std::string &name : ListDir(folder)) {
        const std::string path = folder + "/" + name;
        if (IsTempName(name))
            found.push_back(path);
        if (IsDirectory(path)) {
            const std::vector<std::string> below = TempLeftovers(path);
            found.insert(found.end(), below.begin(), below.end());
        }
    }
    return found;
}

std::string RunCommand(const std::string &command, int *status)
{
    std::string output;
#ifdef _WIN32 // Wine starts the Linux shell as a Unix program
    *status = RunUnixShell(command, output);
    return output;
#else
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int rc = ::pclose(pipe);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
#endif
}

std::string ShellQuote(const std::string &text)
{
#ifdef _WIN32 // the readers are Linux programs: a path with a drive goes as its Unix path
    if (text.size() > 2 && text[1] == ':' && (text[2] == '\\' || text[2] == '/'))
        return ShellQuote(UnixPath(text));
#endif
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::vector<std::string> ZipNames(const std::string &path)
{
    std::vector<std::string> names;
    for (const ZipEntry &e : ReadZip(path, false).entries)
        names.push_back(e.name);
    return names;
}

} // namespace kelvane::test
