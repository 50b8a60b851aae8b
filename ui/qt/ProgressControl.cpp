#include "ui/qt/ProgressControl.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QThread>

#include <algorithm>

namespace kelvane::ui::qt {

template<class F>
void ProgressControl::Change(F &&f)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f();
    }
    if (bar_ == nullptr) {
        return;
    }
    if (QThread::currentThread() == bar_->thread()) {
        Show();
        return;
    }
    // From the worker: the state above is already what every later call sees; the bar
    // follows it on the GUI thread, one repaint for however many steps came meanwhile.
    // Queued events keep their order, so the bar is up to date before any later blocking
    // hand-over of the worker (a message box, the reset) runs.
    if (!showPending_.exchange(true)) {
        QMetaObject::invokeMethod(
            bar_, [this] { Show(); }, Qt::QueuedConnection);
    }
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
    Change([&] {
        // Full-width bounds: a run of more than 65535 files still fills the bar once.
        lower_ = lower;
        upper_ = upper;
        pos_ = std::clamp(pos_, std::min(lower_, upper_), std::max(lower_, upper_));
    });
}

void ProgressControl::SetStep(int step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = step;
}

void ProgressControl::StepIt()
{
    Change([&] {
        const long long next = static_cast<long long>(pos_) + step_;
        // Passing either end starts over from the other, as the classic control does.
        if (next > upper_) {
            pos_ = lower_;
        } else if (next < lower_) {
            pos_ = upper_;
        } else {
            pos_ = static_cast<int>(next);
        }
    });
}

int ProgressControl::GetPos()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pos_;
}

void ProgressControl::SetPos(int pos)
{
    Change([&] { pos_ = std::clamp(pos, std::min(lower_, upper_), std::max(lower_, upper_)); });
}

void ProgressControl::Show()
{
    if (bar_ == nullptr) {
        return;
    }
    showPending_ = false;
    int lower, upper, pos;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lower = lower_;
        upper = upper_;
        pos = pos_;
    }
    if (upper > lower) {
        bar_->setRange(lower, upper);
        bar_->setValue(pos);
    } else {
        // An empty range draws an empty bar; QProgressBar would show a busy indicator.
        bar_->setRange(0, 1);
        bar_->setValue(0);
    }
}

} // namespace kelvane::ui::qt
