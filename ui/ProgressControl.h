#pragma once

// The progress bar as a run sees it: exactly the classic control's operations (set range,
// set step, step with wrap-around, get and set position) over a
// QProgressBar. Called from the worker, each operation is carried out on the GUI thread
// while the worker waits.

#include "engine/RunWindow.h"

class QProgressBar;

namespace kelvane::ui {

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
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    int Step() const { return step_; }

private:
    template<class F>
    void OnGui(F &&f);
    void Show();

    QProgressBar *bar_ = nullptr;
    // The classic control's defaults.
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 10;
    int pos_ = 0;
};

} // namespace kelvane::ui
