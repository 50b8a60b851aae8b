#pragma once

// Reads a RIFF AVI clip of the kind the animation control plays: one video stream,
// 8 bits a pixel with a palette, uncompressed or RLE8 frames, an idx1 index, no sound.
// Pure C++, so it can be fuzzed and tested without a window.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane {

class AviClip
{
public:
    // Parses and decodes the whole clip. On any damage returns false and leaves the clip
    // empty (no frames), never reading outside data.
    bool Load(const unsigned char *data, std::size_t size);

    bool IsEmpty() const { return frames_.empty(); }
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Microseconds a frame, as the clip gives it.
    std::int64_t MicrosecondsPerFrame() const { return usPerFrame_; }
    // 256 entries, 0x00RRGGBB.
    const std::vector<std::uint32_t> &Palette() const { return palette_; }
    // Indices of the frames the index marks as key frames.
    const std::vector<int> &KeyFrames() const { return keyFrames_; }
    // Frame i as palette indices, top row first, Width()*Height() bytes.
    const std::vector<std::uint8_t> &Frame(int i) const
    {
        return frames_.at(static_cast<std::size_t>(i));
    }
    // The colour that a transparent control leaves out: the palette colour of the first
    // frame's top-left pixel.
    std::uint32_t TransparentColor() const;

private:
    int width_ = 0;
    int height_ = 0;
    std::int64_t usPerFrame_ = 0;
    std::vector<std::uint32_t> palette_;
    std::vector<int> keyFrames_;
    std::vector<std::vector<std::uint8_t>> frames_;
};

} // namespace kelvane
