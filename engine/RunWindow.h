#pragma once

#include "settings/JobSettings.h"

#include <atomic>
#include <string>

namespace kelvane {

// The progress bar operations a run uses.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay() = default;
    virtual void SetRange(int lower, int upper) = 0;
    virtual void SetStep(int step) = 0;
    virtual void StepIt() = 0;
    virtual int GetPos() = 0;
    virtual void SetPos(int pos) = 0;
};

// Everything a run needs of the window that started it. The main dialog implements it,
// and so do the test window and the batch front end. Every operation is called from the
// run's worker thread and must be carried out synchronously (the worker waits until it
// is done), in the order called.
class RunWindow
{
public:
    virtual ~RunWindow() = default;

    virtual ProgressDisplay &Progress() = 0;

    // The animation: stop playing, close the clip, repaint with the background erased.
    virtual void StopAnimation() = 0;
    virtual void CloseAnimation() = 0;
    virtual void RepaintAnimation() = 0;

    // The caption of the start button.
    virtual void SetStartCaption(const std::string &caption) = 0;

    // A message box with an OK button and no icon; returns once it has been dismissed.
    virtual void ShowMessage(const std::string &text, const std::string &caption) = 0;

    // Set by the worker while a run lasts; read by the window.
    virtual std::atomic<bool> &Running() = 0;
    // Set by the window; read by the worker between files.
    virtual std::atomic<bool> &StopRequested() = 0;

    // A copy of the window's job settings as they stand now. The run calls it once, at
    // its start, and works on that copy only.
    virtual JobSettings CurrentSettings() = 0;

    // Stores the run stamp of the current run in the window.
    virtual void SetRunStamp(const std::string &stamp) = 0;
};

} // namespace kelvane
