#include "tamsorel/Deflate.h"

#include <zlib.h>

#include <climits>
#include <new>

namespace tamsorel {

namespace {

constexpr int kLevels = 9;
constexpr int kRawWindowBits = -15; // raw deflate, 32 KiB window
constexpr int kMemLevel = 8;

} // namespace

// One raw deflate stream per level, reset for every use. Never moved once made: zlib's state
// points back at its stream.
struct Deflater::Levels
{
    struct Stream
    {
        z_stream z {};
        bool ready = false;
    };
    Stream streams[kLevels + 1];

    ~Levels()
    {
        for (Stream &s : streams)
            if (s.ready)
                deflateEnd(&s.z);
    }

    z_stream &Reset(int level)
    {
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
};

Deflater::Deflater() : levels_(std::make_unique<Levels>()) { }

Deflater::~Deflater() = default;

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

std::size_t Deflater::Bound(int level, std::size_t size)
{
    return deflateBound(&levels_->Reset(level), static_cast<uLong>(size));
}

std::size_t Deflater::Whole(int level, const unsigned char *data, std::size_t size,
                            unsigned char *out, std::size_t room)
{
    if (size > UINT_MAX)
        return 0; // whole buffers are far smaller; larger data streams in chunks
    if (room > UINT_MAX)
        room = UINT_MAX;
    z_stream &z = levels_->Reset(level);
    z.next_in = const_cast<unsigned char *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        return 0;
    return room - z.avail_out;
}

} // namespace tamsorel
