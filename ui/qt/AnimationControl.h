#pragma once

// The animation control: plays an 8-bit RIFF AVI clip (read by AviClip) in a loop with a
// timer at the clip's frame rate. Like the classic control without ACS_CENTER it takes the
// clip's size when a clip is opened; with a transparent background it leaves out the
// pixels of the clip's transparent colour. A clip that cannot be read shows nothing.

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <string_view>
#include <vector>

namespace kelvane::ui::qt {

class AnimationControl : public QWidget
{
    Q_OBJECT
public:
    explicit AnimationControl(QWidget *parent = nullptr);

    void SetTransparent(bool transparent) { transparent_ = transparent; }

    // Opens a clip, closing the one open before. False for a clip that cannot be read;
    // the control is then closed and shows nothing.
    bool Open(std::string_view clipBytes);
    // Plays the open clip from its first frame, looping without end. False without a clip.
    bool Play();
    // Stops on the frame shown.
    void Stop();
    // Closes the clip: the control shows nothing.
    void Close();

    bool IsOpen() const { return !frames_.empty(); }
    bool IsPlaying() const { return timer_.isActive(); }
    int CurrentFrame() const { return current_; }
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    int FrameIntervalMs() const { return timer_.interval(); }
    // The picture of frame i as painted (transparent pixels have alpha 0).
    const QImage &FrameImage(int i) const { return frames_.at(static_cast<std::size_t>(i)); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void Advance();

    bool transparent_ = true;
    std::vector<QImage> frames_;
    int current_ = 0;
    QTimer timer_;
};

} // namespace kelvane::ui::qt
