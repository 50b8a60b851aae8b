// kelvane-batch: one archiving job without a window, for scheduled and scripted runs.
#include "cli/Batch.h"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef _WIN32
#include "cli/ConsoleWin32.h"
#include "io/Win32.h"

// The command line in UTF-16 (-municode), so that any path can be named; UTF-8 inside.
int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(kelvane::io::Utf8(argv[i]));
    kelvane::batch::ConsoleOutput out(STD_OUTPUT_HANDLE, stdout);
    kelvane::batch::ConsoleOutput err(STD_ERROR_HANDLE, stderr);
    std::streambuf *const oldOut = std::cout.rdbuf(&out);
    std::streambuf *const oldErr = std::cerr.rdbuf(&err);
    const int status = kelvane::batch::BatchMain(args, std::cout, std::cerr, err.IsConsole(), true);
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    return status;
}
#else
int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kelvane::batch::BatchMain(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1, true);
}
#endif
