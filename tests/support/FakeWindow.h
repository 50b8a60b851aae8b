#pragma once

// A window for driving runs without a screen: it records every operation the run asks
// of it, in order, keeps a progress position the way a progress bar does, and can raise
// the stop flag at a chosen moment.

#include "engine/RunWindow.h"
#include "settings/JobSettings.h"

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

class FakeWindow : public RunWindow, private ProgressDisplay
{
public:
    // What CurrentSettings() hands out.
    JobSettings settings;

    // Operations as text, in call order:
    //   "SetRange 0 4", "SetStep 1", "StepIt", "GetPos -> 3", "SetPos 2",
    //   "StopAnimation", "CloseAnimation", "RepaintAnimation", "Caption START",
    //   "Message <caption>|<text>", "Settings", "Stamp <stamp>".
    const std::vector<std::string> &Operations() const { return operations_; }
    // Only the progress bar's operations.
    std::vector<std::string> ProgressOperations() const;
    // (caption, text) of every message box, in order.
    const std::vector<std::pair<std::string, std::string>> &Messages() const { return messages_; }
    // Captions of the message boxes, in order.
    std::vector<std::string> MessageCaptions() const;

    int Position() const { return position_; }
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    const std::string &Stamp() const { return stamp_; }
    std::string Caption() const { return caption_; }
    // The running flag as it stood when the run fetched its settings.
    bool RunningAtSettings() const { return runningAtSettings_; }

    // Raises StopRequested right after the nth (1-based) operation whose text begins
    // with prefix, e.g. StopAfter("StepIt", 2) or StopAfter("Message File name", 1).
    void StopAfter(std::string prefix, int n);
    // Called after each recorded operation, with its text (e.g. to change the folders
    // while the run is in a given state).
    void OnOperation(std::function<void(const std::string &)> hook) { hook_ = std::move(hook); }

    // RunWindow
    ProgressDisplay &Progress() override { return *this; }
    void StopAnimation() override;
    void CloseAnimation() override;
    void RepaintAnimation() override;
    void SetStartCaption(const std::string &caption) override;
    void ShowMessage(const std::string &text, const std::string &caption) override;
    std::atomic<bool> &Running() override { return running_; }
    std::atomic<bool> &StopRequested() override { return stopRequested_; }
    JobSettings CurrentSettings() override;
    void SetRunStamp(const std::string &stamp) override;

private:
    // ProgressDisplay
    void SetRange(int lower, int upper) override;
    void SetStep(int step) override;
    void StepIt() override;
    int GetPos() override;
    void SetPos(int pos) override;

    void Record(std::string operation);
    int Clamp(long long pos) const;

    std::vector<std::string> operations_;
    std::vector<std::pair<std::string, std::string>> messages_;
    std::atomic<bool> running_ {false};
    std::atomic<bool> stopRequested_ {false};
    bool runningAtSettings_ = false;
    std::string stamp_;
    std::string caption_;
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 10;
    int position_ = 0;
    std::string stopPrefix_;
    int stopCountdown_ = 0;
    std::function<void(const std::string &)> hook_;
};

} // namespace kelvane::test
