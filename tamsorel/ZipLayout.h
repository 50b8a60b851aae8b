#pragma once

// What the zip format itself fixes, for both sides of it: the records' signatures and fixed
// sizes, the field values that mean something, and little-endian integers. Nothing here
// builds or parses a record: tamsorel/ZipFormat writes them, and verify/ZipCheck reads them
// back on its own, so that the check does not repeat the writer's logic.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamsorel::zip {

// A record: the signature it begins with and the size of its fixed part.
struct Record
{
    std::uint32_t signature;
    std::size_t fixedSize;
};

inline constexpr Record kLocalHeader {0x04034b50, 30};
inline constexpr Record kCentralHeader {0x02014b50, 46};
inline constexpr Record kZip64End {0x06064b50, 56};
inline constexpr Record kZip64Locator {0x07064b50, 20};
inline constexpr Record kEnd {0x06054b50, 22};
// May stand before a data descriptor (whose size depends on zip64).
inline constexpr std::uint32_t kDescriptorSignature = 0x08074b50;

inline constexpr std::uint16_t kMethodStore = 0, kMethodDeflate = 8;
inline constexpr std::uint16_t kFlagEncrypted = 1 << 0, kFlagDescriptor = 1 << 3,
                               kFlagUtf8 = 1 << 11;

// Extra fields: a 2-byte id and a 2-byte length, then the data.
inline constexpr std::size_t kExtraHeaderSize = 4;
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;

// Largest value of a classic field; the value itself means "see the zip64 field".
inline constexpr std::uint64_t kMax16 = 0xffff, kMax32 = 0xffffffff;

// The unsigned little-endian integer of `bytes` bytes (at most 8) at p.
inline std::uint64_t ReadLe(const unsigned char *p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

// Appends the low `bytes` bytes (at most 8) of value, least significant first.
inline void AppendLe(std::vector<unsigned char> &out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

} // namespace tamsorel::zip
