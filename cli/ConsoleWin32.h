#pragma once

// Windows only: what kelvane-batch.exe writes, as its reader gets it. Inside, every text is
// UTF-8; a console is given it as UTF-16 (WriteConsoleW), so that any name shows whatever
// the console's code page; a file or a pipe gets the UTF-8 bytes through the C runtime's
// stream (in text mode: a line ends in CR LF).

#include <cstdio>
#include <streambuf>
#include <string>

#include <windows.h>

namespace kelvane::batch {

class ConsoleOutput : public std::streambuf
{
public:
    // std: STD_OUTPUT_HANDLE or STD_ERROR_HANDLE; file: the C stream on the same handle.
    ConsoleOutput(DWORD std, std::FILE *file);

    // True when the handle is a console (GetConsoleMode succeeds on it).
    bool IsConsole() const { return console_; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char *text, std::streamsize size) override;
    int sync() override;

private:
    HANDLE handle_;
    std::FILE *file_;
    bool console_;
    std::string pending_; // written at the next flush; on a console, a split character waits
};

} // namespace kelvane::batch
