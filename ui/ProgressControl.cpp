#include "ui/ProgressControl.h"

#include "ui/GuiThread.h"

#include <QProgressBar>

#include <algorithm>

namespace kelvane::ui {

template<class F>
void ProgressControl::OnGui(F &&f)
{
    if (bar_ == nullptr) {
        f();
        return;
    }
    RunOnGuiThread(bar_, std::forward<F>(f));
}

void ProgressControl::Attach(QProgressBar *bar)
{
    if (bar_ != nullptr || bar == nullptr) {
        return;
    }
    bar_ = bar;
    bar_->setTextVisible(false);
    Show();
}

void ProgressControl::SetRange(int lower, int upper)
{
    OnGui([&] {
        // Full-width bounds: a run of more than 65535 files still fills the bar once.
        lower_ = lower;
        upper_ = upper;
        pos_ = std::clamp(pos_, std::min(lower_, upper_), std::max(lower_, upper_));
        Show();
    });
}

void ProgressControl::SetStep(int step)
{
    OnGui([&] { step_ = step; });
}

void ProgressControl::StepIt()
{
    OnGui([&] {
        const long long next = static_cast<long long>(pos_) + step_;
        // Passing either end starts over from the other, as the classic control does.
        if (next > upper_) {
            pos_ = lower_;
        } else if (next < lower_) {
            pos_ = upper_;
        } else {
            pos_ = static_cast<int>(next);
        }
        Show();
    });
}

int ProgressControl::GetPos()
{
    int pos = 0;
    OnGui([&] { pos = pos_; });
    return pos;
}

void ProgressControl::SetPos(int pos)
{
    OnGui([&] {
        pos_ = std::clamp(pos, std::min(lower_, upper_), std::max(lower_, upper_));
        Show();
    });
}

void ProgressControl::Show()
{
    if (bar_ == nullptr) {
        return;
    }
    if (upper_ > lower_) {
        bar_->setRange(lower_, upper_);
        bar_->setValue(pos_);
    } else {
        // An empty range draws an empty bar; QProgressBar would show a busy indicator.
        bar_->setRange(0, 1);
        bar_->setValue(0);
    }
}

} // namespace kelvane::ui
