// The animation control on the shipped clip and on damaged ones.

#include "resources/Resources.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/qt/AnimationControl.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelvane;
using namespace kelvane::ui::qt;

TEST(AnimationControlTest, PlaysTheShippedClipInALoop)
{
    AnimationControl anim;
    anim.resize(10, 10);
    EXPECT_FALSE(anim.IsOpen());
    EXPECT_FALSE(anim.Play());
    ASSERT_TRUE(anim.Open(res::ClipData()));
    EXPECT_EQ(anim.FrameCount(), 20);
    EXPECT_EQ(anim.size(), QSize(64, 42)) << "takes the clip's size";
    EXPECT_EQ(anim.FrameIntervalMs(), 125);
    // The top-left pixel's colour is the transparent one: left out.
    EXPECT_EQ(qAlpha(anim.FrameImage(0).pixel(0, 0)), 0);
    bool someOpaque = false;
    const QImage &img = anim.FrameImage(0);
    for (int y = 0; y < img.height() && !someOpaque; ++y) {
        for (int x = 0; x < img.width(); ++x) {
            someOpaque = someOpaque || qAlpha(img.pixel(x, y)) == 255;
        }
    }
    EXPECT_TRUE(someOpaque);

    anim.show();
    ASSERT_TRUE(anim.Play());
    EXPECT_EQ(anim.CurrentFrame(), 0);
    ASSERT_TRUE(test::WaitFor([&] { return anim.CurrentFrame() != 0; }));
    // It wraps around after the last frame.
    ASSERT_TRUE(test::WaitFor([&] { return anim.CurrentFrame() == 19; }));
    ASSERT_TRUE(test::WaitFor([&] { return anim.CurrentFrame() == 0; }));
    anim.Stop();
    EXPECT_FALSE(anim.IsPlaying());
    EXPECT_TRUE(anim.IsOpen());
    anim.Close();
    EXPECT_FALSE(anim.IsOpen());
    EXPECT_FALSE(anim.IsPlaying());
}

TEST(AnimationControlTest, ADamagedClipShowsNothing)
{
    const std::string_view good = res::ClipData();
    ASSERT_GT(good.size(), 200u);
    std::vector<std::string> damaged = {
        std::string(),
        std::string(good.substr(0, 12)),
        std::string(good.substr(0, good.size() / 2)),
        std::string(good.size(), '\xAB'),
    };
    std::string flipped(good);
    for (std::size_t i = 40; i < flipped.size(); i += 7) {
        flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
    }
    damaged.push_back(flipped);

    for (const std::string &clip : damaged) {
        AnimationControl anim;
        anim.resize(54, 44);
        anim.show();
        ASSERT_TRUE(anim.Open(good));
        anim.Play();
        // Opening a bad clip closes the good one.
        const bool opened = anim.Open(clip);
        if (!opened) {
            EXPECT_FALSE(anim.IsOpen());
            EXPECT_FALSE(anim.Play());
            EXPECT_FALSE(anim.IsPlaying());
        }
        // Painting it shows nothing of the clip: the control stays clear.
        QImage shot(anim.size(), QImage::Format_ARGB32);
        shot.fill(Qt::transparent);
        anim.render(&shot, QPoint(), QRegion(), QWidget::RenderFlags());
        if (!opened) {
            bool clear = true;
            for (int y = 0; y < shot.height(); ++y) {
                for (int x = 0; x < shot.width(); ++x) {
                    clear = clear && qAlpha(shot.pixel(x, y)) == 0;
                }
            }
            EXPECT_TRUE(clear);
        }
    }
}
