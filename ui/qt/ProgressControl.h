#pragma once

// The progress bar as a run sees it: exactly the classic control's operations (set range,
// set step, step with wrap-around, get and set position) over a QProgressBar. The
// position is kept here, so a call from the worker takes effect at once and in order; the
// bar itself is repainted on the GUI thread, once for any number of steps in between, so
// twenty thousand steps do not cost twenty thousand thread switches.

#include "engine/RunWindow.h"

#include <atomic>
#include <mutex>

class QProgressBar;

namespace kelvane::ui::qt {

class ProgressControl : public ProgressDisplay
{
public:
    ProgressControl() = default;

    // Binds the control to its bar; later calls do nothing (like the dialog's binding).
    void Attach(QProgressBar *bar);
    bool IsAttached() const { return bar_ != nullptr; }

    void SetRange(int lower, int upper) override;
    void SetStep(int step) override;
    void StepIt() override;
    int GetPos() override;
    void SetPos(int pos) override;

    // The state, for the GUI thread.
    int Lower() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lower_;
    }
    int Upper() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return upper_;
    }
    int Step() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return step_;
    }

private:
    template<class F>
    void Change(F &&f);
    void Show();

    QProgressBar *bar_ = nullptr;
    mutable std::mutex mutex_;
    std::atomic<bool> showPending_ {false};
    // The classic control's defaults.
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 10;
    int pos_ = 0;
};

} // namespace kelvane::ui::qt
