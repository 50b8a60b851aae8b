#include "tamsorel/ZipFormat.h"

#include <sys/stat.h>

#include <climits>

namespace tamsorel::zip {

namespace {

constexpr std::uint16_t kMadeByUnix = 3 << 8;
constexpr std::uint16_t kVersionStore = 10, kVersionDeflate = 20, kVersionZip64 = 45;

// An extra field this writer adds: its id and the size of its data.
struct Extra
{
    std::uint16_t id;
    std::size_t dataSize;
};
constexpr Extra kTimestamp {0x5455, 1 + 4}; // flags, modification time
constexpr std::uint8_t kTimestampHasMtime = 1;
constexpr Extra kLocalZip64 {kZip64ExtraId, 8 + 8}; // a local zip64 field holds both sizes
// The "growth hint" padding field of Open Packaging: readers skip it. Every local header
// without a zip64 field carries one of the same size, so that an entry whose sizes turn out
// to need 64 bits (the file grew while it was read, or deflate expanded it) gets its zip64
// field without moving its data.
constexpr Extra kPadding {0xa220, kLocalZip64.dataSize};
constexpr std::uint16_t kPaddingSignature = 0xa028;
constexpr std::size_t kLocalExtraSize
    = kExtraHeaderSize + kLocalZip64.dataSize + kExtraHeaderSize + kTimestamp.dataSize;

// The zip64 end record after its signature and its size field.
constexpr std::uint64_t kZip64EndRestSize = kZip64End.fixedSize - 4 - 8;
constexpr std::uint32_t kDisksInAll = 1;

class Writer
{
public:
    explicit Writer(std::vector<unsigned char> &out) : out_(out) { }
    void U8(std::uint64_t v) { AppendLe(out_, v, 1); }
    void U16(std::uint64_t v) { AppendLe(out_, v, 2); }
    void U32(std::uint64_t v) { AppendLe(out_, v, 4); }
    void U64(std::uint64_t v) { AppendLe(out_, v, 8); }
    void Bytes(const std::string &s) { out_.insert(out_.end(), s.begin(), s.end()); }
    void ExtraHeader(std::uint16_t id, std::size_t dataSize)
    {
        U16(id);
        U16(dataSize);
    }

private:
    std::vector<unsigned char> &out_;
};

std::uint32_t Clamp32(std::uint64_t v)
{
    return static_cast<std::uint32_t>(v < kMax32 ? v : kMax32);
}

// The extended timestamp holds a signed 32-bit time.
std::uint32_t UnixTime32(std::int64_t t)
{
    if (t < INT32_MIN)
        t = INT32_MIN;
    if (t > INT32_MAX)
        t = INT32_MAX;
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(t));
}

bool SizesNeed64(const EntryRecord &e)
{
    return e.size >= kMax32 || e.compressedSize >= kMax32;
}

std::uint16_t VersionNeeded(const EntryRecord &e)
{
    if (SizesNeed64(e) || e.offset >= kMax32)
        return kVersionZip64;
    return e.method == kMethodStore ? kVersionStore : kVersionDeflate;
}

// The fields both headers give, from "version needed" to the name's length: the sizes say
// 0xffffffff when a zip64 field holds them.
void AppendCommonFields(Writer &w, const EntryRecord &e, bool sizesInZip64)
{
    w.U16(VersionNeeded(e));
    w.U16(e.flags);
    w.U16(e.method);
    w.U16(e.dosTime);
    w.U16(e.dosDate);
    w.U32(e.crc);
    w.U32(sizesInZip64 ? kMax32 : e.compressedSize);
    w.U32(sizesInZip64 ? kMax32 : e.size);
    w.U16(e.name.size());
}

void AppendSizes64(Writer &w, const EntryRecord &e)
{
    w.U64(e.size);
    w.U64(e.compressedSize);
}

void AppendTimestamp(Writer &w, const EntryRecord &e)
{
    w.ExtraHeader(kTimestamp.id, kTimestamp.dataSize);
    w.U8(kTimestampHasMtime);
    w.U32(UnixTime32(e.mtime));
}

} // namespace

std::size_t LocalHeaderSize(const std::string &name)
{
    return kLocalHeader.fixedSize + name.size() + kLocalExtraSize;
}

void AppendLocalHeader(const EntryRecord &e, std::vector<unsigned char> &out)
{
    const bool zip64 = SizesNeed64(e);
    Writer w(out);
    w.U32(kLocalHeader.signature);
    AppendCommonFields(w, e, zip64);
    w.U16(kLocalExtraSize);
    w.Bytes(e.name);
    if (zip64) {
        w.ExtraHeader(kLocalZip64.id, kLocalZip64.dataSize);
        AppendSizes64(w, e);
    } else {
        w.ExtraHeader(kPadding.id, kPadding.dataSize);
        w.U16(kPaddingSignature);
        w.U16(0); // padding value
        for (std::size_t i = 4; i < kPadding.dataSize; ++i)
            w.U8(0);
    }
    AppendTimestamp(w, e);
}

void AppendCentralHeader(const EntryRecord &e, std::vector<unsigned char> &out)
{
    // A zip64 field, when needed at all, carries both sizes (their classic fields say
    // 0xffffffff), as in the local header: Info-ZIP's unzip 6.0 reads a size from it
    // whenever an earlier entry's size was exactly 0xffffffff, and would take an offset
    // that stood first for that size.
    const bool offset64 = e.offset >= kMax32;
    const bool sizes64 = SizesNeed64(e) || offset64;
    const std::size_t zip64Size = (sizes64 ? 16 : 0) + (offset64 ? 8 : 0);
    const std::size_t extraSize
        = (zip64Size ? kExtraHeaderSize + zip64Size : 0) + kExtraHeaderSize + kTimestamp.dataSize;
    const std::uint16_t versionNeeded = VersionNeeded(e);

    Writer w(out);
    w.U32(kCentralHeader.signature);
    w.U16(kMadeByUnix | (versionNeeded == kVersionZip64 ? kVersionZip64 : kVersionDeflate));
    AppendCommonFields(w, e, sizes64);
    w.U16(extraSize);
    w.U16(0); // comment length
    w.U16(0); // disk of the entry
    w.U16(0); // internal attributes
    w.U32(static_cast<std::uint64_t>(S_IFREG | (e.mode & 07777)) << 16);
    w.U32(Clamp32(e.offset));
    w.Bytes(e.name);
    if (zip64Size) {
        w.ExtraHeader(kZip64ExtraId, zip64Size);
        AppendSizes64(w, e);
        if (offset64)
            w.U64(e.offset);
    }
    AppendTimestamp(w, e);
}

void AppendEndRecords(const DirectoryRecord &d, std::vector<unsigned char> &out)
{
    Writer w(out);
    if (d.entries >= kMax16 || d.offset >= kMax32 || d.size >= kMax32) {
        const std::uint64_t zip64EndOffset = d.offset + d.size;
        w.U32(kZip64End.signature);
        w.U64(kZip64EndRestSize);
        w.U16(kMadeByUnix | kVersionZip64);
        w.U16(kVersionZip64);
        w.U32(0); // this disk
        w.U32(0); // disk of the directory
        w.U64(d.entries); // on this disk
        w.U64(d.entries); // in all
        w.U64(d.size);
        w.U64(d.offset);
        w.U32(kZip64Locator.signature);
        w.U32(0); // disk of the zip64 end record
        w.U64(zip64EndOffset);
        w.U32(kDisksInAll);
    }
    w.U32(kEnd.signature);
    w.U16(0); // this disk
    w.U16(0); // disk of the directory
    w.U16(d.entries < kMax16 ? d.entries : kMax16); // on this disk
    w.U16(d.entries < kMax16 ? d.entries : kMax16); // in all
    w.U32(Clamp32(d.size));
    w.U32(Clamp32(d.offset));
    w.U16(0); // comment length
}

void PackDosTime(const struct tm &t, std::uint16_t &dosTime, std::uint16_t &dosDate)
{
    const int year = t.tm_year + 1900;
    if (year < 1980) { // the MS-DOS form cannot say earlier
        dosDate = (1 << 5) | 1;
        dosTime = 0;
        return;
    }
    if (year > 2107) {
        dosDate = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
        dosTime = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
        return;
    }
    const int sec = t.tm_sec > 59 ? 59 : t.tm_sec;
    dosDate = static_cast<std::uint16_t>(((year - 1980) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
    dosTime = static_cast<std::uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (sec / 2));
}

} // namespace tamsorel::zip
