#include "RawZip.h"

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

// The fields both headers hold, in the same order from "version needed" to the extra
// field's length; the central header's "version made by" puts them 2 bytes further on.
void ReadSharedFields(const std::string &buf, std::size_t shift, RawHeader &h, std::size_t &nameLen,
                      std::size_t &extraLen)
{
    const auto at = [&](std::size_t offset, std::size_t width) {
        return LittleEndian(buf, offset + shift, width);
    };
    h.versionNeeded = static_cast<std::uint16_t>(at(4, 2));
    h.flags = static_cast<std::uint16_t>(at(6, 2));
    h.method = static_cast<std::uint16_t>(at(8, 2));
    h.dosTime = static_cast<std::uint16_t>(at(10, 2));
    h.dosDate = static_cast<std::uint16_t>(at(12, 2));
    h.crc = static_cast<std::uint32_t>(at(14, 4));
    h.compressedSize32 = static_cast<std::uint32_t>(at(18, 4));
    h.size32 = static_cast<std::uint32_t>(at(22, 4));
    nameLen = static_cast<std::size_t>(at(26, 2));
    extraLen = static_cast<std::size_t>(at(28, 2));
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
    File file(path);
    if (!file.ok()) {
        RawZip zip;
        zip.error = "cannot open";
        return zip;
    }
    return ReadRawZip(static_cast<std::uint64_t>(file.size()),
                      [&](std::uint64_t offset, std::size_t n, std::string &out) {
                          return file.read(static_cast<std::int64_t>(offset), n, out);
                      });
}

RawZip ReadRawZip(std::uint64_t archiveSize, const ReadAt &readAt)
{
    RawZip zip;
    const auto size = static_cast<std::int64_t>(archiveSize);
    struct
    {
        const ReadAt &readAt;
        bool read(std::int64_t offset, std::size_t n, std::string &out) const
        {
            return offset >= 0 && readAt(static_cast<std::uint64_t>(offset), n, out);
        }
    } file {readAt};
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
        std::size_t nameLen, extraLen;
        ReadSharedFields(buf, 2, c, nameLen, extraLen);
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

        // The zip64 field holds, in order, only the values whose 32-bit slot overflowed.
        e.size = c.size32;
        e.compressedSize = c.compressedSize32;
        e.offset = c.offset32;
        const auto zip64 = c.extra.find(0x0001);
        std::size_t at = 0;
        for (std::uint64_t *value : {&e.size, &e.compressedSize, &e.offset}) {
            if (*value == 0xffffffffu && zip64 != c.extra.end()) {
                *value = LittleEndian(zip64->second, at, 8);
                at += 8;
            }
        }
        if (!file.read(static_cast<std::int64_t>(e.offset), 30, buf)
            || LittleEndian(buf, 0, 4) != 0x04034b50) {
            zip.error = "bad local header for " + c.name;
            return zip;
        }
        RawHeader &l = e.local;
        std::size_t localNameLen, localExtraLen;
        ReadSharedFields(buf, 0, l, localNameLen, localExtraLen);
        const auto base = static_cast<std::int64_t>(e.offset);
        if (!file.read(base + 30, localNameLen, l.name)
            || !file.read(base + 30 + static_cast<std::int64_t>(localNameLen), localExtraLen,
                          extra)) {
            zip.error = "truncated local header";
            return zip;
        }
        l.extra = ParseExtra(extra);
        e.dataOffset = e.offset + 30 + localNameLen + localExtraLen;
        zip.entries.push_back(std::move(e));
    }
    if (pos != static_cast<std::int64_t>(dirOffset + dirSize)) {
        zip.error = "central directory size does not match its entries";
        return zip;
    }
    zip.ok = true;
    return zip;
}

} // namespace tamsorel::test
