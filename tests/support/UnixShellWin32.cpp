#include "tests/support/TestSupport.h"
#include "tests/support/UnixShell.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kelvane::test {

namespace {

// One argument of a Windows command line, as the C runtime splits it.
std::wstring QuotedArgument(const std::wstring &text)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

} // namespace

std::string UnixPath(const std::string &path)
{
    using Convert = char *(CDECL *)(LPCWSTR);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr)
        return path;
    char *unix = convert(std::filesystem::u8path(path).c_str());
    if (unix == nullptr)
        return path;
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

int RunUnixShell(const std::string &command, std::string &output)
{
    // Wine starts a Unix program without the pipes, the exit status and the wait a Windows
    // program gets: the shell reads the command from a file and leaves its output and status
    // in files of the test's own.
    output.clear();
    static std::atomic<unsigned> counter {0};
    const std::string base = std::filesystem::temp_directory_path().u8string() + "\\kelvane-shell-"
        + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + "-"
        + std::to_string(GetTickCount64());
    const std::string scriptFile = base + ".sh", outFile = base + ".out",
                      statusFile = base + ".status";
    std::error_code stale; // Wine's process ids repeat from one run to the next
    std::filesystem::remove(std::filesystem::u8path(statusFile), stale);
    {
        // Wine hands the shell a PATH of Windows folders; the Linux one came along beside it.
        std::ofstream script(std::filesystem::u8path(scriptFile), std::ios::binary);
        script << "PATH=\"${KELVANE_UNIX_PATH:-/usr/local/bin:/usr/bin:/bin}\"; export PATH\n(\n"
               << command << "\n) > " << ShellQuote(outFile) << "\necho $? > "
               << ShellQuote(statusFile + ".part") << "\nmv " << ShellQuote(statusFile + ".part")
               << " " << ShellQuote(statusFile) << "\n";
    }
    std::wstring line
        = L"sh " + QuotedArgument(std::filesystem::u8path(UnixPath(scriptFile)).wstring());
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    // The handle of a Unix program is signalled at once: its status file, written last,
    // tells when it is done (the test's own time limit covers a shell that never ends).
    std::error_code missing;
    while (!std::filesystem::exists(std::filesystem::u8path(statusFile), missing))
        Sleep(5);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    int status = -1;
    {
        std::ifstream out(std::filesystem::u8path(outFile), std::ios::binary);
        std::ostringstream text;
        text << out.rdbuf();
        output = text.str();
        std::ifstream statusIn(std::filesystem::u8path(statusFile));
        if (!(statusIn >> status))
            status = -1;
    }
    std::error_code error;
    for (const std::string &file : {scriptFile, outFile, statusFile})
        std::filesystem::remove(std::filesystem::u8path(file), error);
    return status;
}

} // namespace kelvane::test
