#include "verify/ZipCheck.h"

#include "tamsorel/ZipLayout.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kelvane::verify {

namespace {

using namespace tamsorel::zip;

std::string Num(std::uint64_t n)
{
    return std::to_string(n);
}

bool Stopping(const std::atomic<bool> *stop)
{
    return stop && stop->load();
}

// One block of the input at a time, in an aligned buffer of its own.
class Cursor
{
public:
    explicit Cursor(BlockInput &input) : input_(input), storage_(kBlockSize + kBlockAlign)
    {
        const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
        block_ = storage_.data() + (kBlockAlign - address % kBlockAlign) % kBlockAlign;
    }

    // The bytes from offset to the end of its block (avail of them, at least one), or null
    // with error set.
    const unsigned char *At(std::uint64_t offset, std::size_t &avail, std::string &error)
    {
        if (offset >= input_.Size()) {
            error = "the archive ends at byte " + Num(input_.Size());
            return nullptr;
        }
        const std::uint64_t start = offset - offset % kBlockSize;
        if (!loaded_ || start != start_) {
            loaded_ = false;
            const std::int64_t got = input_.ReadBlock(start, block_, error);
            if (got < 0)
                return nullptr;
            start_ = start;
            length_ = static_cast<std::size_t>(got);
            loaded_ = true;
        }
        const std::size_t inBlock = static_cast<std::size_t>(offset - start_);
        if (inBlock >= length_) {
            error = "the file ends early: " + Num(start_ + length_) + " bytes could be read";
            return nullptr;
        }
        avail = length_ - inBlock;
        return block_ + inBlock;
    }

    bool Read(std::uint64_t offset, unsigned char *out, std::size_t size, std::string &error)
    {
        while (size > 0) {
            std::size_t avail = 0;
            const unsigned char *p = At(offset, avail, error);
            if (!p)
                return false;
            const std::size_t n = std::min(avail, size);
            std::memcpy(out, p, n);
            out += n;
            offset += n;
            size -= n;
        }
        return true;
    }

    bool ReadString(std::uint64_t offset, std::size_t size, std::string &out, std::string &error)
    {
        out.resize(size);
        return Read(offset, reinterpret_cast<unsigned char *>(&out[0]), size, error);
    }

private:
    BlockInput &input_;
    std::vector<unsigned char> storage_;
    unsigned char *block_ = nullptr;
    std::uint64_t start_ = 0;
    std::size_t length_ = 0;
    bool loaded_ = false;
};

// Sizes, CRC and offset of an entry as one header gives them, zip64 resolved.
struct Header
{
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0; // of the local header (central directory only)
    bool zip64 = false; // a zip64 field was there
};

// What a local and a central header share, from the flags to the extra field's length (at
// byte 6 of a local header, at byte 8 of a central one).
struct SharedFields
{
    Header header; // sizes as the 32-bit fields give them
    std::uint32_t compressed32 = 0;
    std::uint32_t size32 = 0;
    std::size_t nameLength = 0;
    std::size_t extraLength = 0;
};

SharedFields ReadSharedFields(const unsigned char *flagsAt)
{
    SharedFields f;
    f.header.flags = static_cast<std::uint16_t>(ReadLe(flagsAt, 2));
    f.header.method = static_cast<std::uint16_t>(ReadLe(flagsAt + 2, 2));
    f.header.crc = static_cast<std::uint32_t>(ReadLe(flagsAt + 8, 4));
    f.compressed32 = static_cast<std::uint32_t>(ReadLe(flagsAt + 12, 4));
    f.size32 = static_cast<std::uint32_t>(ReadLe(flagsAt + 16, 4));
    f.header.compressed = f.compressed32;
    f.header.size = f.size32;
    f.nameLength = static_cast<std::size_t>(ReadLe(flagsAt + 20, 2));
    f.extraLength = static_cast<std::size_t>(ReadLe(flagsAt + 22, 2));
    return f;
}

// Replaces the 32-bit fields holding the marker with the zip64 field's values, in the
// order the format gives them (size, compressed size, offset, disk).
bool ApplyZip64(const std::string &extra, Header &h, bool hasOffset, std::uint32_t size32,
                std::uint32_t compressed32, std::uint32_t offset32, std::string &error)
{
    const auto *p = reinterpret_cast<const unsigned char *>(extra.data());
    std::size_t at = 0;
    while (at + kExtraHeaderSize <= extra.size()) {
        const auto id = static_cast<std::uint16_t>(ReadLe(p + at, 2));
        const std::size_t length = static_cast<std::size_t>(ReadLe(p + at + 2, 2));
        if (at + kExtraHeaderSize + length > extra.size())
            break;
        if (id == kZip64ExtraId) {
            h.zip64 = true;
            std::size_t field = at + kExtraHeaderSize;
            const std::size_t end = field + length;
            const auto take = [&](std::uint64_t &value) {
                if (field + 8 > end)
                    return false;
                value = ReadLe(p + field, 8);
                field += 8;
                return true;
            };
            if ((size32 == kMax32 && !take(h.size))
                || (compressed32 == kMax32 && !take(h.compressed))
                || (hasOffset && offset32 == kMax32 && !take(h.offset))) {
                error = "its zip64 field is too short";
                return false;
            }
            return true;
        }
        at += kExtraHeaderSize + length;
    }
    if (size32 == kMax32 || compressed32 == kMax32 || (hasOffset && offset32 == kMax32)) {
        error = "a size or offset says \"see zip64\", but there is no zip64 field";
        return false;
    }
    return true;
}

struct Directory
{
    std::uint64_t count = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Finds the end record (and the zip64 one) and checks that the central directory lies
// right before them.
bool ReadDirectory(Cursor &cursor, std::uint64_t fileSize, Directory &dir, std::string &problem)
{
    const std::size_t tailSize
        = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEnd.fixedSize + 0xffff));
    std::string tail;
    std::string error;
    if (tailSize < kEnd.fixedSize
        || !cursor.ReadString(fileSize - tailSize, tailSize, tail, error)) {
        problem = "no end of central directory record (not a zip archive, or cut short)";
        if (!error.empty())
            problem += ": " + error;
        return false;
    }
    const auto *t = reinterpret_cast<const unsigned char *>(tail.data());
    std::size_t at = tailSize - kEnd.fixedSize + 1;
    bool found = false;
    while (at-- > 0) {
        if (ReadLe(t + at, 4) == kEnd.signature
            && at + kEnd.fixedSize + ReadLe(t + at + 20, 2) == tailSize) {
            found = true;
            break;
        }
    }
    if (!found) {
        problem = "no end of central directory record (not a zip archive, or cut short)";
        return false;
    }
    const unsigned char *end = t + at;
    const std::uint64_t endPos = fileSize - tailSize + at;
    if (ReadLe(end + 4, 2) != 0 || ReadLe(end + 6, 2) != 0
        || ReadLe(end + 8, 2) != ReadLe(end + 10, 2)) {
        problem = "the end record describes an archive split over several disks";
        return false;
    }
    dir.count = ReadLe(end + 10, 2);
    dir.size = ReadLe(end + 12, 4);
    dir.offset = ReadLe(end + 16, 4);
    std::uint64_t dirEnd = endPos;

    unsigned char locator[kZip64Locator.fixedSize];
    const bool hasLocator = endPos >= kZip64Locator.fixedSize
        && cursor.Read(endPos - kZip64Locator.fixedSize, locator, kZip64Locator.fixedSize, error)
        && ReadLe(locator, 4) == kZip64Locator.signature;
    if (hasLocator) {
        const std::uint64_t zip64At = ReadLe(locator + 8, 8);
        unsigned char rec[kZip64End.fixedSize];
        if (zip64At + kZip64End.fixedSize > endPos - kZip64Locator.fixedSize
            || !cursor.Read(zip64At, rec, kZip64End.fixedSize, error)
            || ReadLe(rec, 4) != kZip64End.signature) {
            problem
                = "the zip64 end record is not where its locator says (byte " + Num(zip64At) + ")";
            return false;
        }
        const std::uint64_t count = ReadLe(rec + 32, 8);
        const std::uint64_t size = ReadLe(rec + 40, 8);
        const std::uint64_t offset = ReadLe(rec + 48, 8);
        // A classic field holds the value itself or the marker that sends a reader here.
        if ((dir.count != kMax16 && dir.count != count) || (dir.size != kMax32 && dir.size != size)
            || (dir.offset != kMax32 && dir.offset != offset)) {
            problem = "the end record and the zip64 end record disagree";
            return false;
        }
        dir.count = count;
        dir.size = size;
        dir.offset = offset;
        dirEnd = zip64At;
    } else if (dir.count == kMax16 || dir.size == kMax32 || dir.offset == kMax32) {
        problem = "the end record says \"see zip64\", but there is no zip64 end record";
        return false;
    }
    if (dir.offset > dirEnd || dirEnd - dir.offset != dir.size) {
        problem = "the central directory (" + Num(dir.size) + " bytes at byte " + Num(dir.offset)
            + ") does not end where the end record begins (byte " + Num(dirEnd) + ")";
        return false;
    }
    return true;
}

class ZipChecker
{
public:
    ZipChecker(BlockInput &input, const std::atomic<bool> *stop)
        : input_(input), stop_(stop), central_(input), data_(input)
    { }

    ZipCheckResult Run(const EntryCheck &check)
    {
        Directory dir;
        if (!ReadDirectory(central_, input_.Size(), dir, result_.problem))
            return result_;
        dataLimit_ = dir.offset;
        std::uint64_t at = dir.offset;
        const std::uint64_t dirEnd = dir.offset + dir.size;
        for (std::uint64_t i = 0; i < dir.count; ++i) {
            EntryFacts facts;
            facts.index = i;
            if (!CheckEntry(at, dirEnd, facts)) {
                if (!result_.stopped)
                    result_.problem = "entry " + Num(i + 1) + " of " + Num(dir.count)
                        + (facts.name.empty() ? "" : " (" + facts.name + ")") + ": "
                        + result_.problem;
                return result_;
            }
            if (check) {
                const std::string differs = check(facts);
                if (!differs.empty()) {
                    result_.problem = differs;
                    return result_;
                }
            }
            ++result_.entries;
        }
        if (at != dirEnd) {
            result_.problem
                = "the central directory holds more than its " + Num(dir.count) + " entries";
            return result_;
        }
        result_.ok = true;
        return result_;
    }

private:
    bool Fail(std::string problem)
    {
        result_.problem = std::move(problem);
        return false;
    }

    // Reads the central record at `at` (moved past it), then the entry's local header and
    // data.
    bool CheckEntry(std::uint64_t &at, std::uint64_t dirEnd, EntryFacts &facts)
    {
        std::string error;
        unsigned char c[kCentralHeader.fixedSize];
        if (at + kCentralHeader.fixedSize > dirEnd
            || !central_.Read(at, c, kCentralHeader.fixedSize, error))
            return Fail("the central directory ends early");
        if (ReadLe(c, 4) != kCentralHeader.signature)
            return Fail("no central directory record at byte " + Num(at));
        const SharedFields fields = ReadSharedFields(c + 8);
        const std::size_t nameLength = fields.nameLength;
        const std::size_t extraLength = fields.extraLength;
        const std::size_t commentLength = static_cast<std::size_t>(ReadLe(c + 32, 2));
        const auto offset32 = static_cast<std::uint32_t>(ReadLe(c + 42, 4));
        Header central = fields.header;
        central.offset = offset32;
        const std::uint64_t recordEnd
            = at + kCentralHeader.fixedSize + nameLength + extraLength + commentLength;
        std::string extra;
        if (recordEnd > dirEnd
            || !central_.ReadString(at + kCentralHeader.fixedSize, nameLength, facts.name, error)
            || !central_.ReadString(at + kCentralHeader.fixedSize + nameLength, extraLength, extra,
                                    error))
            return Fail("the central directory ends early");
        at = recordEnd;
        if (!ApplyZip64(extra, central, true, fields.size32, fields.compressed32, offset32, error))
            return Fail("central directory: " + error);
        if (central.flags & kFlagEncrypted)
            return Fail("encrypted");
        if (central.method != kMethodStore && central.method != kMethodDeflate)
            return Fail("compression method " + Num(central.method)
                        + " is not one this check reads");
        facts.size = central.size;
        return CheckLocal(central, facts.name);
    }

    bool CheckLocal(const Header &central, const std::string &name)
    {
        std::string error;
        unsigned char l[kLocalHeader.fixedSize];
        if (central.offset + kLocalHeader.fixedSize > dataLimit_
            || !data_.Read(central.offset, l, kLocalHeader.fixedSize, error)
            || ReadLe(l, 4) != kLocalHeader.signature)
            return Fail("no local header at byte " + Num(central.offset));
        const SharedFields fields = ReadSharedFields(l + 6);
        Header local = fields.header;
        const std::size_t nameLength = fields.nameLength;
        const std::size_t extraLength = fields.extraLength;
        std::string localName;
        std::string extra;
        const std::uint64_t dataStart
            = central.offset + kLocalHeader.fixedSize + nameLength + extraLength;
        if (dataStart > dataLimit_
            || !data_.ReadString(central.offset + kLocalHeader.fixedSize, nameLength, localName,
                                 error)
            || !data_.ReadString(central.offset + kLocalHeader.fixedSize + nameLength, extraLength,
                                 extra, error))
            return Fail("its local header runs into the central directory");
        if (localName != name)
            return Fail("the local header names it \"" + localName + "\"");
        if (local.method != central.method)
            return Fail("the local header gives compression method " + Num(local.method)
                        + ", the central directory " + Num(central.method));
        if (!ApplyZip64(extra, local, false, fields.size32, fields.compressed32, 0, error))
            return Fail("local header: " + error);
        const bool descriptor = (local.flags & kFlagDescriptor) != 0;
        if (!descriptor && !SameFacts(local, central, "the local header"))
            return false;
        if (central.compressed > dataLimit_ - dataStart)
            return Fail("its data runs into the central directory");

        std::uint32_t crc = 0;
        std::uint64_t size = 0;
        if (!ReadData(central, dataStart, crc, size))
            return false;
        if (size != central.size)
            return Fail("the data holds " + Num(size) + " bytes, the central directory says "
                        + Num(central.size));
        if (crc != central.crc)
            return Fail("the data's CRC-32 is " + Hex(crc) + ", the central directory says "
                        + Hex(central.crc));
        return !descriptor || CheckDescriptor(central, dataStart + central.compressed, local.zip64);
    }

    static std::string Hex(std::uint32_t value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
        return text;
    }

    bool SameFacts(const Header &other, const Header &central, const char *where)
    {
        if (other.crc != central.crc)
            return Fail(std::string(where) + " gives CRC-32 " + Hex(other.crc)
                        + ", the central directory " + Hex(central.crc));
        if (other.compressed != central.compressed || other.size != central.size)
            return Fail(std::string(where) + " gives sizes " + Num(other.compressed) + "/"
                        + Num(other.size) + ", the central directory " + Num(central.compressed)
                        + "/" + Num(central.size));
        return true;
    }

    bool CheckDescriptor(const Header &central, std::uint64_t at, bool zip64)
    {
        std::string error;
        unsigned char d[24];
        const std::size_t width = zip64 ? 8 : 4;
        std::size_t length = 4 + 2 * width;
        if (at + 4 > dataLimit_ || !data_.Read(at, d, 4, error))
            return Fail("its data descriptor is missing");
        if (ReadLe(d, 4) == kDescriptorSignature)
            at += 4;
        if (at + length > dataLimit_ || !data_.Read(at, d, length, error))
            return Fail("its data descriptor is missing");
        Header h;
        h.crc = static_cast<std::uint32_t>(ReadLe(d, 4));
        h.compressed = ReadLe(d + 4, static_cast<int>(width));
        h.size = ReadLe(d + 4 + width, static_cast<int>(width));
        return SameFacts(h, central, "the data descriptor");
    }

    // The next piece of the entry's data: n bytes at `at` (at most left of them, at least
    // one), with at and left moved past them; null after a failure.
    const unsigned char *NextPiece(std::uint64_t &at, std::uint64_t &left, std::size_t &n)
    {
        std::string error;
        std::size_t avail = 0;
        const unsigned char *p = data_.At(at, avail, error);
        if (!p) {
            Fail("its data cannot be read: " + error);
            return nullptr;
        }
        n = static_cast<std::size_t>(std::min<std::uint64_t>(avail, left));
        at += n;
        left -= n;
        return p;
    }

    // Inflates or reads the entry's data, counting its bytes and their CRC-32.
    bool ReadData(const Header &central, std::uint64_t start, std::uint32_t &crc,
                  std::uint64_t &size)
    {
        uLong running = crc32(0, Z_NULL, 0);
        std::uint64_t left = central.compressed;
        std::uint64_t at = start;
        if (central.method == kMethodStore) {
            while (left > 0) {
                if (Stopping(stop_))
                    return Stopped();
                std::size_t n = 0;
                const unsigned char *p = NextPiece(at, left, n);
                if (!p)
                    return false;
                running = crc32(running, p, static_cast<uInt>(n));
                size += n;
            }
            crc = static_cast<std::uint32_t>(running);
            return true;
        }

        z_stream z {};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            return Fail("zlib could not start inflating");
        struct End
        {
            z_stream &z;
            ~End() { inflateEnd(&z); }
        } end {z};
        std::vector<unsigned char> out(std::size_t {64} << 10);
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (Stopping(stop_))
                return Stopped();
            if (z.avail_in == 0) {
                if (left == 0)
                    return Fail("its deflated data ends before the end of its stream");
                std::size_t n = 0;
                const unsigned char *p = NextPiece(at, left, n);
                if (!p)
                    return false;
                z.next_in = const_cast<Bytef *>(p);
                z.avail_in = static_cast<uInt>(n);
            }
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            status = inflate(&z, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return Fail(std::string("its deflated data is damaged (")
                            + (z.msg ? z.msg : "zlib error " + std::to_string(status)) + ")");
            const std::size_t produced = out.size() - z.avail_out;
            running = crc32(running, out.data(), static_cast<uInt>(produced));
            size += produced;
        }
        if (left != 0 || z.avail_in != 0)
            return Fail("its deflate stream ends " + Num(left + z.avail_in)
                        + " bytes before its compressed size");
        crc = static_cast<std::uint32_t>(running);
        return true;
    }

    bool Stopped()
    {
        result_.stopped = true;
        return false;
    }

    BlockInput &input_;
    const std::atomic<bool> *stop_;
    Cursor central_; // the central directory, read in step with the entries
    Cursor data_; // local headers and data
    std::uint64_t dataLimit_ = 0; // where the central directory begins
    ZipCheckResult result_;
};

} // namespace

ZipCheckResult CheckZip(BlockInput &input, const EntryCheck &check, const std::atomic<bool> *stop)
{
    return ZipChecker(input, stop).Run(check);
}

CompareResult CompareInputs(BlockInput &copy, BlockInput &source, const std::atomic<bool> *stop)
{
    CompareResult result;
    if (copy.Size() != source.Size()) {
        result.problem
            = "the copy holds " + Num(copy.Size()) + " bytes, its source " + Num(source.Size());
        return result;
    }
    Cursor a(copy);
    Cursor b(source);
    std::string error;
    for (std::uint64_t at = 0; at < copy.Size();) {
        if (Stopping(stop)) {
            result.stopped = true;
            return result;
        }
        std::size_t availA = 0;
        std::size_t availB = 0;
        const unsigned char *p = a.At(at, availA, error);
        if (!p) {
            result.problem = "the copy cannot be read: " + error;
            return result;
        }
        const unsigned char *q = b.At(at, availB, error);
        if (!q) {
            result.problem = "its source cannot be read: " + error;
            return result;
        }
        const std::size_t n = std::min(availA, availB);
        if (std::memcmp(p, q, n) != 0) {
            const std::size_t differs
                = static_cast<std::size_t>(std::mismatch(p, p + n, q).first - p);
            result.problem = "the copy differs from its source at byte " + Num(at + differs);
            return result;
        }
        at += n;
    }
    return result;
}

} // namespace kelvane::verify
