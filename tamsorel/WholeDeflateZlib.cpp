#include "tamsorel/WholeDeflate.h"

#include <algorithm>
#include <climits>
#include <new>
#include <zlib.h>

namespace tamsorel {

namespace {

constexpr int kLevels = 10; // zlib's 0 to 9

// A raw deflate stream per level and thread, reset for every buffer.
z_stream &ThreadStream(int level)
{
    struct Stream
    {
        z_stream z {};
        bool made = false;
        ~Stream()
        {
            if (made)
                deflateEnd(&z);
        }
    };
    thread_local Stream streams[kLevels];
    Stream &stream = streams[level];
    if (!stream.made) {
        if (deflateInit2(&stream.z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
        stream.made = true;
    }
    return stream.z;
}

} // namespace

std::uint32_t Crc32(std::uint32_t crc, const unsigned char *data, std::size_t size)
{
    // zlib counts in uInt: larger buffers go in pieces.
    uLong value = crc;
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, UINT_MAX);
        value = crc32(value, data, static_cast<uInt>(piece));
        data += piece;
        size -= piece;
    }
    return static_cast<std::uint32_t>(value);
}

std::size_t DeflateWhole(int level, const unsigned char *in, std::size_t size, unsigned char *out,
                         std::size_t room)
{
    if (size > UINT_MAX || room == 0)
        return 0; // the pipeline's whole buffers are far smaller
    z_stream &z = ThreadStream(level);
    if (deflateReset(&z) != Z_OK)
        return 0;
    z.next_in = const_cast<unsigned char *>(in);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(room, UINT_MAX));
    const int rc = deflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END)
        return 0; // out of room (Z_OK or Z_BUF_ERROR): the caller stores the data instead
    return static_cast<std::size_t>(z.total_out);
}

std::size_t DeflateWholeBound(int level, std::size_t size)
{
    return deflateBound(&ThreadStream(level), static_cast<uLong>(size));
}

} // namespace tamsorel
