#pragma once

// A picture of palette indexes, drawn by the tools that make the icon and the clip: filled
// rectangles and single pixels, with whatever falls outside the picture left out.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane::res::tools {

class Canvas
{
public:
    // Every pixel background; outline is the colour of a panel's edge.
    Canvas(int width, int height, std::uint8_t background, std::uint8_t outline)
        : width_(width)
        , height_(height)
        , outline_(outline)
        , pixels_(static_cast<std::size_t>(width * height), background)
    { }

    void Set(int x, int y, std::uint8_t c)
    {
        if (x >= 0 && x < width_ && y >= 0 && y < height_)
            pixels_[Index(x, y)] = c;
    }
    std::uint8_t Get(int x, int y) const { return pixels_[Index(x, y)]; }
    void Fill(int x0, int y0, int x1, int y1, std::uint8_t c)
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                Set(x, y, c);
    }
    // A filled rectangle with a one-pixel outline.
    void Panel(int x0, int y0, int x1, int y1, std::uint8_t fill)
    {
        Fill(x0, y0, x1, y1, outline_);
        Fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill);
    }

    int Width() const { return width_; }
    const std::vector<std::uint8_t> &Pixels() const { return pixels_; }

private:
    std::size_t Index(int x, int y) const { return static_cast<std::size_t>(y * width_ + x); }

    int width_;
    int height_;
    std::uint8_t outline_;
    std::vector<std::uint8_t> pixels_;
};

} // namespace kelvane::res::tools
