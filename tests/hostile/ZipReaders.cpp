#include "tests/hostile/ZipReaders.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

namespace kelvane::test {

namespace {

std::string Quoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs a shell command; returns its exit status and puts stdout and stderr in output.
int Shell(const std::string &command, std::string &output)
{
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
