#include "RawZip.h"

#include <cstdio>
#ifdef _WIN32
#include "tests/support/UnixShell.h"
#else
#include <sys/wait.h>
#endif

namespace tamsorel::test {

namespace {

class File
{
public:
    explicit File(const std::string &path) : f_(std::fopen(path.c_str(), "rb")) { }
    ~File()
    {
        if (f_)
            std::fclose(f_);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    bool ok() const { return f_ != nullptr; }
    std::int64_t size()
    {
        std::fseek(f_, 0, SEEK_END);
        return ftello(f_);
    }
    bool read(std::int64_t offset, std::size_t n, std::string &out)
    {
        out.assign(n, '\0');
        return fseeko(f_, offset, SEEK_SET) == 0 && std::fread(out.data(), 1, n, f_) == n;
    }

private:
    std::FILE *f_;
};

std::map<std::uint16_t, std::string> ParseExtra(const std::string &extra)
{
    std::map<std::uint16_t, std::string> fields;
    std::size_t pos = 0;
    while (pos + 4 <= extra.size()) {
        const auto id = static_cast<std::uint16_t>(LittleEndian(extra, pos, 2));
        const auto len = static_cast<std::size_t>(LittleEndian(extra, pos + 2, 2));
        fields[id] = extra.substr(pos + 4, len);
        pos += 4 + len;
    }
    return fields;
}

} // namespace

std::uint64_t LittleEndian(const std::string &data, std::size_t offset, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width && offset + i < data.size(); ++i)
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[offset + i])) << (8 * i);
    return v;
}

RawZip ReadRawZip(const std::string &path)
{
    RawZip zip;
    File file(path);
    if (!file.ok()) {
        zip.error = "cannot open";
        return zip;
    }
    const std::int64_t size = file.size();
    std::string buf;
    // No archive comment is written, so the end record is the last 22 bytes.
    if (size < 22 || !file.read(size - 22, 22, buf) || LittleEndian(buf, 0, 4) != 0x06054b50) {
        zip.error = "no end record at the end";
        return zip;
    }
    std::uint64_t count = LittleEndian(buf, 10, 2);
    std::uint64_t dirSize = LittleEndian(buf, 12, 4);
    std::uint64_t dirOffset = LittleEndian(buf, 16, 4);
    std::string locator;
    if (size >= 42 && file.read(size - 42, 20, locator)
        && LittleEndian(locator, 0, 4) == 0x07064b50) {
        std::string end64;
        if (!file.read(static_cast<std::int64_t>(LittleEndian(locator, 8, 8)), 56, end64)
            || LittleEndian(end64, 0, 4) != 0x06064b50) {
            zip.error = "zip64 locator points to no zip64 end record";
            return zip;
        }
        zip.zip64End = true;
        count = LittleEndian(end64, 32, 8);
        dirSize = LittleEndian(end64, 40, 8);
        dirOffset = LittleEndian(end64, 48, 8);
    }
    zip.entryCount = count;

    std::int64_t pos = static_cast<std::int64_t>(dirOffset);
    for (std::uint64_t i = 0; i < count; ++i) {
        RawEntry e;
        if (!file.read(pos, 46, buf) || LittleEndian(buf, 0, 4) != 0x02014b50) {
            zip.error = "bad central header " + std::to_string(i);
            return zip;
        }
        RawHeader &c = e.central;
        c.versionMadeBy = static_cast<std::uint16_t>(LittleEndian(buf, 4, 2));
        c.versionNeeded = static_cast<std::uint16_t>(LittleEndian(buf, 6, 2));
        c.flags = static_cast<std::uint16_t>(LittleEndian(buf, 8, 2));
        c.method = static_cast<std::uint16_t>(LittleEndian(buf, 10, 2));
        c.dosTime = static_cast<std::uint16_t>(LittleEndian(buf, 12, 2));
        c.dosDate = static_cast<std::uint16_t>(LittleEndian(buf, 14, 2));
        c.crc = static_cast<std::uint32_t>(LittleEndian(buf, 16, 4));
        c.compressedSize32 = static_cast<std::uint32_t>(LittleEndian(buf, 20, 4));
        c.size32 = static_cast<std::uint32_t>(LittleEndian(buf, 24, 4));
        const auto nameLen = static_cast<std::size_t>(LittleEndian(buf, 28, 2));
        const auto extraLen = static_cast<std::size_t>(LittleEndian(buf, 30, 2));
        const auto commentLen = static_cast<std::size_t>(LittleEndian(buf, 32, 2));
        c.externalAttributes = static_cast<std::uint32_t>(LittleEndian(buf, 38, 4));
        c.offset32 = static_cast<std::uint32_t>(LittleEndian(buf, 42, 4));
        std::string extra;
        if (!file.read(pos + 46, nameLen, c.name)
            || !file.read(pos + 46 + nameLen, extraLen, extra)) {
            zip.error = "truncated central header";
            return zip;
        }
        c.extra = ParseExtra(extra);
        pos += static_cast<std::int64_t>(46 + nameLen + extraLen + commentLen);

        e.offset = c.offset32;
        if (c.offset32 == 0xffffffffu) {
            // The zip64 field holds, in order, only the values whose 32-bit slot overflowed.
            std::size_t at = 0;
            if (c.size32 == 0xffffffffu)
                at += 8;
            if (c.compressedSize32 == 0xffffffffu)
                at += 8;
            e.offset = LittleEndian(c.extra[0x0001], at, 8);
        }
        if (!file.read(static_cast<std::int64_t>(e.offset), 30, buf)
            || LittleEndian(buf, 0, 4) != 0x04034b50) {
            zip.error = "bad local header for " + c.name;
            return zip;
        }
        RawHeader &l = e.local;
        l.versionNeeded = static_cast<std::uint16_t>(LittleEndian(buf, 4, 2));
        l.flags = static_cast<std::uint16_t>(LittleEndian(buf, 6, 2));
        l.method = static_cast<std::uint16_t>(LittleEndian(buf, 8, 2));
        l.dosTime = static_cast<std::uint16_t>(LittleEndian(buf, 10, 2));
        l.dosDate = static_cast<std::uint16_t>(LittleEndian(buf, 12, 2));
        l.crc = static_cast<std::uint32_t>(LittleEndian(buf, 14, 4));
        l.compressedSize32 = static_cast<std::uint32_t>(LittleEndian(buf, 18, 4));
        l.size32 = static_cast<std::uint32_t>(LittleEndian(buf, 22, 4));
        const auto localNameLen = static_cast<std::size_t>(LittleEndian(buf, 26, 2));
        const auto localExtraLen = static_cast<std::size_t>(LittleEndian(buf, 28, 2));
        const auto base = static_cast<std::int64_t>(e.offset);
        if (!file.read(base + 30, localNameLen, l.name)
            || !file.read(base + 30 + static_cast<std::int64_t>(localNameLen), localExtraLen,
                          extra)) {
            zip.error = "truncated local header";
            return zip;
        }
        l.extra = ParseExtra(extra);
        zip.entries.push_back(std::move(e));
    }
    if (pos != static_cast<std::int64_t>(dirOffset + dirSize)) {
        zip.error = "central directory size does not match its entries";
        return zip;
    }
    zip.ok = true;
    return zip;
}

std::string RunCommand(const std::string &command, int *status)
{
    std::string output;
#ifdef _WIN32 // Wine starts the Linux shell as a Unix program
    *status = kelvane::test::RunUnixShell(command, output);
    return output;
#else
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        *status = -1;
        return output;
    }
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    const int rc = ::pclose(pipe);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
#endif
}

std::string ShellQuote(const std::string &text)
{
#ifdef _WIN32 // the readers are Linux programs: they take Unix paths
    return kelvane::test::UnixShellQuote(text);
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

} // namespace tamsorel::test
