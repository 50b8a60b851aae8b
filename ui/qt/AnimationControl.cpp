#include "ui/qt/AnimationControl.h"

#include "ui/clip/AviClip.h"

#include <QPainter>

#include <algorithm>

namespace kelvane::ui::qt {

AnimationControl::AnimationControl(QWidget *parent) : QWidget(parent)
{
    // Nothing of our own behind the frames: the dialog's background shows through.
    setAutoFillBackground(false);
    connect(&timer_, &QTimer::timeout, this, &AnimationControl::Advance);
}

bool AnimationControl::Open(std::string_view clipBytes)
{
    Close();
    AviClip clip;
    if (!clip.Load(reinterpret_cast<const unsigned char *>(clipBytes.data()), clipBytes.size())
        || clip.IsEmpty() || clip.Width() <= 0 || clip.Height() <= 0) {
        return false;
    }
    const std::vector<std::uint32_t> &palette = clip.Palette();
    const std::uint32_t transparent = clip.TransparentColor();
    const int w = clip.Width();
    const int h = clip.Height();
    std::vector<QImage> frames;
    frames.reserve(static_cast<std::size_t>(clip.FrameCount()));
    for (int i = 0; i < clip.FrameCount(); ++i) {
        const std::vector<std::uint8_t> &pixels = clip.Frame(i);
        if (pixels.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
            return false;
        }
        QImage image(w, h, QImage::Format_ARGB32);
        for (int y = 0; y < h; ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const std::uint8_t index = pixels[static_cast<std::size_t>(y) * w + x];
                const std::uint32_t rgb = index < palette.size() ? palette[index] : 0u;
                const bool clear = transparent_ && rgb == transparent;
                line[x] = clear ? qRgba(0, 0, 0, 0) : (0xFF000000u | (rgb & 0xFFFFFFu));
            }
        }
        frames.push_back(std::move(image));
    }
    frames_ = std::move(frames);
    current_ = 0;
    // The classic control without ACS_CENTER takes the size of the clip.
    resize(w, h);
    const std::int64_t us = clip.MicrosecondsPerFrame();
    const std::int64_t ms = std::clamp<std::int64_t>(us > 0 ? (us + 500) / 1000 : 100, 1, 60000);
    timer_.setInterval(static_cast<int>(ms));
    update();
    return true;
}

bool AnimationControl::Play()
{
    if (frames_.empty()) {
        return false;
    }
    current_ = 0;
    update();
    if (frames_.size() > 1) {
        timer_.start();
    }
    return true;
}

void AnimationControl::Stop()
{
    timer_.stop();
}

void AnimationControl::Close()
{
    timer_.stop();
    frames_.clear();
    current_ = 0;
    update();
}

void AnimationControl::Advance()
{
    if (frames_.empty()) {
        timer_.stop();
        return;
    }
    current_ = (current_ + 1) % static_cast<int>(frames_.size());
    update();
}

void AnimationControl::paintEvent(QPaintEvent *)
{
    if (frames_.empty()) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, frames_[static_cast<std::size_t>(current_)]);
}

} // namespace kelvane::ui::qt
