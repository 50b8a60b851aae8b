#pragma once

// Whether an entry's data is stored or deflated.

#include <cstddef>

namespace tamsorel {

class Deflater;

// How an entry's data is kept.
enum class Compression {
    Auto, // deflated, unless a sample of the data shows deflate would hardly shrink it
    Deflate, // always deflated (an empty entry is stored all the same)
    Store, // always stored
};

// zip's default level: as small as zip -6 makes it.
constexpr int kDeflateLevel = 6;

// True when deflate would save too little on data to be worth its time: judged from a few
// samples of it compressed at a fast level, so that incompressible media are copied at the
// speed of the disk.
bool LooksIncompressible(Deflater &deflater, const unsigned char *data, std::size_t size);

// For data held in full: the room to give deflate's output, or 0 to store the data without
// trying. Unless deflate is forced the room is less than the data, so that output which
// would not be smaller does not fit, and the data is stored instead.
std::size_t WholeDeflateRoom(Deflater &deflater, Compression compression, const unsigned char *data,
                             std::size_t size);

// For data too large to hold: whether to deflate it, judged from its first chunk (not
// empty), as a media file's start tells what the rest is like.
bool DeflateStream(Deflater &deflater, Compression compression, const unsigned char *firstChunk,
                   std::size_t size);

} // namespace tamsorel
