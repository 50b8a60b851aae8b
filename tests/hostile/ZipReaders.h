#pragma once

// Independent readers of the archives a run writes: 7-Zip ("7zz t"), Info-ZIP ("unzip -t")
// and Python's zipfile, beside the libarchive reader of the shared helpers. Every one of
// them must accept an archive, and they must agree on its entries.

#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

// True when the program is on the PATH.
bool HaveTool(const std::string &program);

// Empty when "7zz t" accepts the archive, else its exit status and output.
std::string SevenZipTest(const std::string &zip);
// Empty when "unzip -t" accepts the archive, else its exit status and output.
std::string UnzipTest(const std::string &zip);

struct PythonView
{
    std::string error; // empty when every entry was read and its CRC checked
    // (stored name bytes, data) in archive order; names exactly as stored, whatever the
    // UTF-8 flag says.
    std::vector<std::pair<std::string, std::string>> entries;
};
PythonView PythonRead(const std::string &zip);

// Checks the archive with every reader (the test is skipped when one is not installed)
// and expects exactly these (stored name, data) entries, in this order. libarchive's
// names are compared where it can give them in this locale.
void ExpectReadersAgree(const std::string &zip,
                        const std::vector<std::pair<std::string, std::string>> &expected);

// True for well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(const std::string &text);

} // namespace kelvane::test
