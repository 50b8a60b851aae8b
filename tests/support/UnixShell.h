#pragma once

// Windows test programs under Wine: the Linux readers (Python's zipfile, unzip, 7-Zip) are
// started from inside the test through /bin/sh, which Wine runs as a Unix program.

#include <string>

namespace kelvane::test {

// Runs command with /bin/sh -c; returns its exit status (-1 when it could not be started)
// and puts its standard output (and what the command sends there) in output.
int RunUnixShell(const std::string &command, std::string &output);

// The Unix path of a Windows path ("Z:\tmp\a.zip" gives "/tmp/a.zip"); path itself when
// it has none.
std::string UnixPath(const std::string &path);

} // namespace kelvane::test
