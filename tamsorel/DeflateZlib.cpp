#include "tamsorel/Deflate.h"

#include <zlib.h>

#include <climits>
#include <new>

namespace tamsorel {

namespace {

constexpr int kLevels = 9;
constexpr int kRawWindowBits = -15; // raw deflate, 32 KiB window
constexpr int kMemLevel = 8;

// One raw deflate stream per level and thread, reset for every use.
z_stream &ThreadStream(int level)
{
    struct Stream
    {
        z_stream z {};
        bool ready = false;
        ~Stream()
        {
            if (ready)
                deflateEnd(&z);
        }
    };
    thread_local Stream streams[kLevels + 1];
    Stream &s = streams[level];
    if (!s.ready) {
        if (deflateInit2(&s.z, level, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY)
            != Z_OK)
            throw std::bad_alloc();
        s.ready = true;
    } else if (deflateReset(&s.z) != Z_OK) {
        throw std::bad_alloc();
    }
    return s.z;
}

} // namespace

std::uint32_t Crc32(std::uint32_t crc, const unsigned char *data, std::size_t size)
{
    uLong value = crc;
    while (size > 0) { // zlib counts in uInt
        const uInt n = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
        value = crc32(value, data, n);
        data += n;
        size -= n;
    }
    return static_cast<std::uint32_t>(value);
}

std::size_t DeflateBound(int level, std::size_t size)
{
    return deflateBound(&ThreadStream(level), static_cast<uLong>(size));
}

std::size_t DeflateWhole(int level, const unsigned char *data, std::size_t size, unsigned char *out,
                         std::size_t room)
{
    if (size > UINT_MAX)
        return 0; // whole buffers are far smaller; larger data streams in chunks
    if (room > UINT_MAX)
        room = UINT_MAX;
    z_stream &z = ThreadStream(level);
    z.next_in = const_cast<unsigned char *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        return 0;
    return room - z.avail_out;
}

} // namespace tamsorel
