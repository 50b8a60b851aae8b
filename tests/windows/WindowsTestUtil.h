#pragma once

// Running kelvane-batch.exe from the tests under Wine; its settings: tests/cli/CliTestUtil.h.

#include "io/Win32.h"

#include <string>

namespace kelvane::test {

// Runs a program with arguments in a folder and returns its exit status; with output, its
// standard output and standard error go to that file.
inline DWORD RunProgram(const std::wstring &program, const std::wstring &arguments,
                        const std::string &folder, const std::string &output = {})
{
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!output.empty()) {
        SECURITY_ATTRIBUTES inherit {sizeof inherit, nullptr, TRUE};
        file = CreateFileW(io::WidePath(output).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 0xFFFFFFFF;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = file;
        startup.hStdError = file;
    }
    PROCESS_INFORMATION process {};
    const bool started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr,
                                        file != INVALID_HANDLE_VALUE, 0, nullptr,
                                        io::WidePath(folder).c_str(), &startup, &process);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!started)
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return status;
}

} // namespace kelvane::test
