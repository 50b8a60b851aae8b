#pragma once

// Independent readers of the archives a run writes: 7-Zip ("7zz t"), Info-ZIP ("unzip -t")
// and Python's zipfile, beside the libarchive reader of the shared helpers. Every one of
// them must accept an archive, and they must agree on its entries.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

// Runs a shell command; returns its exit status (-1 when it did not exit) and puts its
// standard output and standard error in output.
int Shell(const std::string &command, std::string &output);

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

// One entry as Python's zipfile read it; the data only for entries up to kReaderDataLimit.
struct ReaderEntry
{
    std::string name; // stored name bytes
    std::uint64_t size = 0;
    std::uint32_t crc = 0; // of the data read, which zipfile also checked against the stored one
    bool haveData = false;
    std::string data;
};
constexpr std::uint64_t kReaderDataLimit = std::uint64_t {1} << 20;

struct ReaderReport
{
    std::string zip;
    // Every reader that rejects the archive and every disagreement between readers on the
    // entries (count, sizes, CRCs, names where all readers can show them).
    std::vector<std::string> problems;
    std::vector<ReaderEntry> entries;
};

// Reads every archive with "7zz t", "7zz l", "unzip -t", "unzip -v" and Python's zipfile,
// all from one python3 process. Empty when a reader is not installed.
std::vector<ReaderReport> ReadWithAllReaders(const std::vector<std::string> &zips);

// The ".zip" files in the folder and its subfolders that start with the zip signature
// "PK" (tests put stand-ins such as "earlier" in target folders), sorted by path; when
// there are more than limit of them, limit of them spread evenly over that order.
std::vector<std::string> ZipsIn(const std::string &folder, std::size_t limit);
// Up to limit of the paths, spread evenly over their order.
std::vector<std::string> Spread(const std::vector<std::string> &paths, std::size_t limit);

// Fails the test when a reader rejects one of the archives or the readers disagree on its
// entries, libarchive included (its data must equal zipfile's for entries up to the data
// limit). Returns the reports, for checks of the entries against what a test expects.
std::vector<ReaderReport> ExpectArchivesReadAlike(const std::vector<std::string> &zips);
// The same for the archives in a folder (a sample of up to limit of them); returns the
// number of archives checked.
std::size_t ExpectFolderReadsAlike(const std::string &folder, std::size_t limit = 20);

} // namespace kelvane::test
