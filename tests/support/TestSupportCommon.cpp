// The helpers that are the same on every platform (the shell's commands run on Linux also
// when the tests run under Wine).

#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#ifdef _WIN32
#include "tests/support/UnixShell.h"
#else
#include <sys/wait.h>
#endif

namespace kelvane::test {

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
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        std::size_t length;
        unsigned long cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            cp = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            cp = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3Fu);
        }
        static const unsigned long shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < shortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
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
#ifdef _WIN32 // the readers are Linux programs: they take Unix paths
    return UnixShellQuote(text);
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
