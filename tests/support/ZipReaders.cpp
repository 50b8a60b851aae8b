#include "tests/support/ZipReaders.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#ifdef _WIN32
#include "tests/support/UnixShell.h"
#else
#include <sys/wait.h>
#endif

namespace kelvane::test {

namespace {

std::string Quoted(const std::string &text)
{
#ifdef _WIN32 // the readers are Linux programs: they take Unix paths
    return UnixShellQuote(text);
#else
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
#endif
}

// Runs a shell command; returns its exit status and puts stdout and stderr in output.
int Shell(const std::string &command, std::string &output)
{
#ifdef _WIN32 // Wine starts the Linux shell as a Unix program
    return RunUnixShell(command + " 2>&1", output);
#else
    output.clear();
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string Verdict(const std::string &command)
{
    std::string output;
    const int status = Shell(command, output);
    return status == 0 ? std::string() : "exit " + std::to_string(status) + ": " + output;
}

std::string FromHex(const std::string &hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// Prints "name-hex data-hex" per entry; the raw name comes back from the decoded one by
// the code page zipfile used (UTF-8 with the flag, else cp437).
constexpr const char *kPythonReader = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad is not None:
        print('bad CRC', bad); sys.exit(2)
    for info in z.infolist():
        raw = info.orig_filename.encode('utf-8' if info.flag_bits & 0x800 else 'cp437')
        print(raw.hex(), z.read(info).hex())
)";

// Reads each archive named on the command line with every reader and prints, per archive:
// "archive", then "problem <hex text>" lines, then "entry n<name hex> <size> <crc> d<data
// hex>|-" lines. The tools run from here, so that a test starts one process, not several
// per archive.
constexpr const char *kAllReaders = R"(
import subprocess, sys, zipfile, zlib
LIMIT = int(sys.argv[1])
def run(*cmd):
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return p.returncode, p.stdout.decode('utf-8', 'replace')
def comparable(raw):  # a name every reader shows the same way
    return raw and all(0x20 < b < 0x7f for b in (raw[0], raw[-1])) and \
        all(0x20 <= b < 0x7f and b != 0x5c for b in raw)
for path in sys.argv[2:]:
    problems, entries, verdicts = [], [], []
    for cmd in (('7zz', 't', '-bd', '--', path), ('unzip', '-tq', path)):
        verdicts.append((cmd, run(*cmd)))
    try:
        with zipfile.ZipFile(path) as z:
            for info in z.infolist():
                raw = info.orig_filename.encode('utf-8' if info.flag_bits & 0x800 else 'cp437')
                size, parts = 0, []
                # zipfile checks the CRC of what it read against the stored one at the end
                # (and raises); for the data kept, the CRC is computed here once more.
                with z.open(info) as f:
                    while True:
                        chunk = f.read(1 << 22)
                        if not chunk:
                            break
                        size += len(chunk)
                        if info.file_size <= LIMIT:
                            parts.append(chunk)
                data = b''.join(parts) if info.file_size <= LIMIT else None
                crc = info.CRC if data is None else zlib.crc32(data)
                entries.append((raw, size, crc, data))
                if size != info.file_size:
                    problems.append('zipfile: %r gave %d bytes, %d recorded' % (raw, size, info.file_size))
    except Exception as e:
        problems.append('zipfile rejects it: %r' % (e,))
    for cmd, (code, text) in verdicts:
        # unzip warns (exit 1) about an archive without entries; the others accept it.
        empty = cmd[0] == 'unzip' and code == 1 and 'zipfile is empty' in text
        if code != 0 and not (empty and not problems and not entries):
            problems.append('%s rejects it (exit %d): %s' % (' '.join(cmd[:2]), code, text[-3000:]))
    seven = []
    code, text = run('7zz', 'l', '-slt', '-ba', '--', path)
    for block in text.split('\n\n'):
        fields = dict(l.split(' = ', 1) for l in block.splitlines() if ' = ' in l)
        if 'Path' in fields and fields.get('Folder', '-') != '+':
            seven.append((fields['Path'], int(fields.get('Size') or 0), int(fields.get('CRC') or '0', 16)))
    info = []
    code, text = run('unzip', '-v', path)
    lines = text.splitlines()
    rules = [i for i, l in enumerate(lines) if l.startswith('--------')]
    if len(rules) >= 2:
        for l in lines[rules[0] + 1:rules[1]]:
            f = l.split(None, 7)
            try:
                info.append((f[7] if len(f) > 7 else '', int(f[0]), int(f[6], 16)))
            except (ValueError, IndexError):
                problems.append('unzip -v says: %s' % l)
    if entries or not problems:
        mine = [(raw, size, crc) for raw, size, crc, _ in entries]
        for reader, theirs in (('7zz l', seven), ('unzip -v', info)):
            if len(theirs) != len(mine):
                problems.append('%s lists %d entries, zipfile %d' % (reader, len(theirs), len(mine)))
                continue
            for (raw, size, crc), (name, size2, crc2) in zip(mine, theirs):
                if (size, crc) != (size2, crc2):
                    problems.append('%s: %r has size %d CRC %08x, zipfile says %d %08x' % (reader, name, size2, crc2, size, crc))
                if comparable(raw) and name != raw.decode('ascii'):
                    problems.append('%s names %r what zipfile names %r' % (reader, name, raw))
    print('archive')
    for p in problems:
        print('problem', p.encode('utf-8', 'replace').hex())
    for raw, size, crc, data in entries:
        print('entry', 'n' + raw.hex(), size, crc, '-' if data is None else 'd' + data.hex())
)";

std::string ReadPrefix(const std::string &path, std::size_t size)
{
    std::string prefix(size, '\0');
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return {};
    prefix.resize(std::fread(&prefix[0], 1, size, file));
    std::fclose(file);
    return prefix;
}

bool HaveAllReaders()
{
    static const bool have = HaveTool("7zz") && HaveTool("unzip") && HaveTool("python3");
    return have;
}

} // namespace

bool HaveTool(const std::string &program)
{
    std::string output;
    return Shell("command -v " + Quoted(program), output) == 0;
}

std::string SevenZipTest(const std::string &zip)
{
    return Verdict("7zz t -bd -- " + Quoted(zip));
}

std::string UnzipTest(const std::string &zip)
{
    return Verdict("unzip -tq " + Quoted(zip));
}

PythonView PythonRead(const std::string &zip)
{
    PythonView view;
    std::string output;
    if (Shell("python3 -c " + Quoted(kPythonReader) + " " + Quoted(zip), output) != 0) {
        view.error = output;
        return view;
    }
    std::size_t pos = 0;
    while (pos < output.size()) {
        std::size_t end = output.find('\n', pos);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) {
            view.error = "unexpected line: " + line;
            return view;
        }
        view.entries.emplace_back(FromHex(line.substr(0, space)), FromHex(line.substr(space + 1)));
    }
    return view;
}

void ExpectReadersAgree(const std::string &zip,
                        const std::vector<std::pair<std::string, std::string>> &expected)
{
    SCOPED_TRACE("archive " + zip);
    for (const char *tool : {"7zz", "unzip", "python3"}) {
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " is not installed: the independent readers are left out";
    }
    EXPECT_EQ(SevenZipTest(zip), "");
    EXPECT_EQ(UnzipTest(zip), "");
    const PythonView view = PythonRead(zip);
    EXPECT_EQ(view.error, "");
    EXPECT_EQ(view.entries, expected);

    const ZipContents contents = ReadZip(zip);
    EXPECT_TRUE(contents.ok) << contents.error;
    ASSERT_EQ(contents.entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(contents.entries[i].data, expected[i].second) << i;
        // libarchive hands out a name it could not convert as empty.
        if (!contents.entries[i].name.empty()) {
            EXPECT_EQ(contents.entries[i].name, expected[i].first) << i;
        }
    }
}

std::vector<ReaderReport> ReadWithAllReaders(const std::vector<std::string> &zips)
{
    std::vector<ReaderReport> reports;
    if (zips.empty() || !HaveAllReaders())
        return reports;
    std::string command
        = "python3 -c " + Quoted(kAllReaders) + " " + std::to_string(kReaderDataLimit);
    for (const std::string &zip : zips)
        command += " " + Quoted(zip);
    std::string output;
    const int status = Shell(command, output);
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "archive" && reports.size() < zips.size()) {
            reports.push_back({zips[reports.size()], {}, {}});
        } else if (kind == "problem" && !reports.empty()) {
            std::string hex;
            fields >> hex;
            reports.back().problems.push_back(FromHex(hex));
        } else if (kind == "entry" && !reports.empty()) {
            std::string name, data;
            ReaderEntry entry;
            fields >> name >> entry.size >> entry.crc >> data;
            entry.name = FromHex(name.substr(1));
            entry.haveData = !data.empty() && data[0] == 'd';
            if (entry.haveData)
                entry.data = FromHex(data.substr(1));
            reports.back().entries.push_back(std::move(entry));
        } else {
            ADD_FAILURE() << "unexpected reader output: " << line;
        }
    }
    if (status != 0 || reports.size() != zips.size())
        ADD_FAILURE() << "the readers stopped (exit " << status << ") after " << reports.size()
                      << " of " << zips.size() << " archives: " << output.substr(0, 3000);
    return reports;
}

std::vector<std::string> ZipsIn(const std::string &folder, std::size_t limit)
{
    namespace fs = std::filesystem;
    std::vector<std::string> zips;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return zips;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string path = it->path().string();
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && path.size() >= 4
            && path.compare(path.size() - 4, 4, ".zip") == 0 && ReadPrefix(path, 2) == "PK")
            zips.push_back(path);
    }
    std::sort(zips.begin(), zips.end());
    return Spread(zips, limit);
}

std::vector<std::string> Spread(const std::vector<std::string> &paths, std::size_t limit)
{
    if (paths.size() <= limit)
        return paths;
    std::vector<std::string> sample;
    for (std::size_t i = 0; i < limit; ++i)
        sample.push_back(paths[i * paths.size() / limit]);
    return sample;
}

std::vector<ReaderReport> ExpectArchivesReadAlike(const std::vector<std::string> &zips)
{
    const std::vector<ReaderReport> reports = ReadWithAllReaders(zips);
    for (const ReaderReport &report : reports) {
        SCOPED_TRACE("archive " + report.zip);
        for (const std::string &problem : report.problems)
            ADD_FAILURE() << problem;
        const bool small = std::all_of(report.entries.begin(), report.entries.end(),
                                       [](const ReaderEntry &e) { return e.haveData; });
        // libarchive would hold every byte in memory; and it does not take an archive
        // without entries.
        if (!report.problems.empty() || !small || report.entries.empty())
            continue;
        const ZipContents contents = ReadZip(report.zip);
        // Outside a UTF-8 locale libarchive gives up on UTF-8 names; the other readers
        // have judged those.
        if (!contents.ok && contents.error.find("cannot be converted") != std::string::npos)
            continue;
        EXPECT_TRUE(contents.ok) << "libarchive rejects it: " << contents.error;
        if (!contents.ok)
            continue;
        EXPECT_EQ(contents.entries.size(), report.entries.size()) << "libarchive's entry count";
        for (std::size_t i = 0; i < std::min(contents.entries.size(), report.entries.size()); ++i) {
            EXPECT_EQ(contents.entries[i].data, report.entries[i].data)
                << "libarchive's data of entry " << i;
            if (!contents.entries[i].name.empty()) {
                EXPECT_EQ(contents.entries[i].name, report.entries[i].name)
                    << "libarchive's name of entry " << i;
            }
        }
    }
    return reports;
}

std::size_t ExpectFolderReadsAlike(const std::string &folder, std::size_t limit)
{
    return ExpectArchivesReadAlike(ZipsIn(folder, limit)).size();
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

} // namespace kelvane::test
