#pragma once

// What the main dialog does that is not about a toolkit: the idle, running and stopping
// states, the start and stop paths, closing during a run, the folder browse and the save,
// in the order the controls see them. The Qt and the Win32 dialog each supply the controls
// (DialogControls) and the worker's view of the window (RunWindow); both share this.

#include "engine/RunWindow.h"
#include "settings/JobSettings.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace kelvane::ui {

// What a "..." button asks for: the folder setting it fills and the browser's prompt.
struct BrowsePrompt
{
    std::string JobSettings::*folder;
    const char *text;
};
inline constexpr BrowsePrompt kBrowseSource {&JobSettings::sourceFolder, "Select Source Folder"};
inline constexpr BrowsePrompt kBrowseTarget {&JobSettings::targetFolder, "Select Target Folder"};

// Where a minimised window draws its icon of cx by cy in a client area of clientW by
// clientH: centred, halves truncated toward zero.
struct IconPlace
{
    int x;
    int y;
    bool operator==(const IconPlace &other) const { return x == other.x && y == other.y; }
};
IconPlace MinimisedIconPos(int clientW, int clientH, int cx, int cy);

// A toolkit's side of the main dialog. Everything here is called on the dialog's thread,
// except PostWorkerEnded.
class DialogControls
{
public:
    virtual ~DialogControls() = default;

    // The data exchange between the controls and the settings record. Neither validates.
    virtual void SettingsToControls() = 0;
    virtual void ControlsToSettings() = 0;
    // The start button's caption, repainted at once.
    virtual void SetStartCaption(const std::string &caption) = 0;
    // The animation: open the clip and play it looped; close it.
    virtual void PlayClip() = 0;
    virtual void CloseClip() = 0;
    // A message box with an OK button and no icon, owned by the dialog.
    virtual void ShowMessage(const std::string &text, const std::string &caption) = 0;
    // The folder browser, owned by nobody so the dialog stays live: the chosen path, or
    // nothing when it was cancelled.
    virtual std::optional<std::string> BrowseForFolder(const std::string &initial,
                                                       const std::string &prompt)
        = 0;
    // Closes the browsers still open (as if cancelled); the dialog is ending.
    virtual void CloseBrowsers() = 0;
    // Ends the dialog's modal loop with result.
    virtual void EndDialog(int result) = 0;
    // Called by the worker as its last step: have DialogLogic::WorkerEnded called on the
    // dialog's thread, after whatever the worker sent before.
    virtual void PostWorkerEnded() = 0;
    // Starts the worker's thread; throws std::system_error when it cannot.
    virtual std::thread StartThread(std::function<void()> body)
    {
        return std::thread(std::move(body));
    }
};

class DialogLogic
{
public:
    // window is what the worker's run is given; controls, the dialog it runs in.
    DialogLogic(DialogControls &controls, RunWindow &window) : controls_(controls), window_(window)
    { }
    // The dialog ends only once its worker has ended; this is for a worker whose end the
    // dialog did not live to see.
    ~DialogLogic();
    DialogLogic(const DialogLogic &) = delete;
    DialogLogic &operator=(const DialogLogic &) = delete;

    JobSettings &Settings() { return settings_; }
    std::atomic<bool> &Running() { return running_; }
    std::atomic<bool> &StopRequested() { return stopRequested_; }
    // A worker has been started and its end has not yet been seen on the dialog's thread.
    bool WorkerActive() const { return workerActive_; }

    // The dialog's initialisation, after its controls exist: the settings file, shown.
    void OnInitDialog();
    // The start button: a run starts when none is going, else the run is asked to stop.
    void OnStart();
    // A "..." button: the browser for its folder setting, with its prompt.
    void OnBrowse(const BrowsePrompt &prompt);
    // The save button; a failed save is said, with the file and the reason.
    void OnSaveSettings();
    // OK (after the controls were taken) or Cancel: ends the dialog, during a run once the
    // run has stopped.
    void RequestEnd(int result);
    // The worker has ended (see DialogControls::PostWorkerEnded).
    void WorkerEnded();
    // The dialog is going away: the run is asked to stop, and its end no longer ends the
    // dialog. The caller still waits for WorkerEnded before the controls go.
    void AbandonRun();

    static constexpr const char *kStart = "START";
    static constexpr const char *kStop = "STOP";
    static constexpr const char *kStopping = "Stopping....";

private:
    void AskWorkerToStop();
    void End(int result);

    DialogControls &controls_;
    RunWindow &window_;
    JobSettings settings_;
    std::atomic<bool> running_ {false};
    std::atomic<bool> stopRequested_ {false};
    std::thread worker_;
    bool workerActive_ = false;
    std::optional<int> pendingResult_;
};

} // namespace kelvane::ui
