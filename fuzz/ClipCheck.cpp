#include "fuzz/FuzzChecks.h"

#include "ui/clip/AviClip.h"

namespace kelvane::fuzz {

namespace {

std::string CheckLoaded(const AviClip &clip)
{
    if (clip.Width() <= 0 || clip.Height() <= 0)
        return "size: loaded clip of " + std::to_string(clip.Width()) + "x"
            + std::to_string(clip.Height());
    if (clip.FrameCount() <= 0)
        return "frames: loaded clip without frames";
    if (clip.Palette().size() != 256)
        return "palette: " + std::to_string(clip.Palette().size()) + " entries";
    for (std::uint32_t colour : clip.Palette()) {
        if (colour > 0xFFFFFFu)
            return "palette: colour with bits above 0x00RRGGBB";
    }
    const auto pixels
        = static_cast<std::size_t>(clip.Width()) * static_cast<std::size_t>(clip.Height());
    for (int i = 0; i < clip.FrameCount(); ++i) {
        if (clip.Frame(i).size() != pixels)
            return "frames: frame " + std::to_string(i) + " holds "
                + std::to_string(clip.Frame(i).size()) + " pixels, not " + std::to_string(pixels);
    }
    for (int key : clip.KeyFrames()) {
        if (key < 0 || key >= clip.FrameCount())
            return "keys: key frame " + std::to_string(key) + " of "
                + std::to_string(clip.FrameCount());
    }
    if (clip.TransparentColor() != clip.Palette()[clip.Frame(0)[0]])
        return "transparent: not the colour of the first frame's top-left pixel";
    return {};
}

bool SameClip(const AviClip &a, const AviClip &b)
{
    if (a.FrameCount() != b.FrameCount() || a.Width() != b.Width() || a.Height() != b.Height()
        || a.MicrosecondsPerFrame() != b.MicrosecondsPerFrame() || a.Palette() != b.Palette()
        || a.KeyFrames() != b.KeyFrames())
        return false;
    for (int i = 0; i < a.FrameCount(); ++i) {
        if (a.Frame(i) != b.Frame(i))
            return false;
    }
    return true;
}

} // namespace

std::string CheckClip(const std::uint8_t *data, std::size_t size)
{
    AviClip clip;
    const bool loaded = clip.Load(data, size);
    if (!loaded)
        return clip.IsEmpty() ? std::string() : "failed: a failed load left frames behind";
    if (std::string failure = CheckLoaded(clip); !failure.empty())
        return failure;

    // The same object loaded again: nothing of the first load may shape the second.
    AviClip again = clip;
    if (!again.Load(data, size) || !SameClip(clip, again))
        return "reload: a second load of the same bytes gave another clip";
    // A load that fails after a good one empties the clip.
    const unsigned char junk[4] = {'J', 'U', 'N', 'K'};
    if (again.Load(junk, sizeof junk) || !again.IsEmpty())
        return "failed: a failed load after a good one kept the old frames";
    return {};
}

} // namespace kelvane::fuzz
