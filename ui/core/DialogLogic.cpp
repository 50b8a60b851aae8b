#include "ui/core/DialogLogic.h"

#include "engine/ArchiveRun.h"

#include <filesystem>
#include <system_error>

namespace kelvane::ui {

DialogLogic::~DialogLogic()
{
    if (worker_.joinable())
        worker_.join();
}

void DialogLogic::OnInitDialog()
{
    running_ = false;
    LoadSettings(settings_);
    controls_.SettingsToControls();
}

void DialogLogic::OnStart()
{
    controls_.ControlsToSettings();
    // From the start of a worker until this thread has seen its end every click is a stop,
    // even before the worker has set running: never two workers.
    if (running_ || workerActive_) {
        AskWorkerToStop();
        return;
    }
    stopRequested_ = false;
    if (worker_.joinable())
        worker_.join();
    try {
        worker_ = controls_.StartThread([this] {
            ArchiveRun(window_);
            // The last thing the worker does with the dialog: tell its thread it is done.
            controls_.PostWorkerEnded();
        });
    } catch (const std::system_error &error) {
        // Nothing runs: the window stays idle and says why, rather than looping the clip.
        running_ = false;
        controls_.CloseClip();
        controls_.SetStartCaption(kStart);
        controls_.ShowMessage("The archive run could not be started.\n" + error.code().message(),
                              "Unable to start the run");
        return;
    }
    workerActive_ = true;
    controls_.SetStartCaption(kStop);
    controls_.PlayClip();
}

void DialogLogic::AskWorkerToStop()
{
    stopRequested_ = true;
    controls_.SetStartCaption(kStopping);
}

void DialogLogic::WorkerEnded()
{
    if (worker_.joinable())
        worker_.join();
    workerActive_ = false;
    // A stop asked for after the run's own reset would otherwise leave "Stopping....".
    controls_.SetStartCaption(kStart);
    if (pendingResult_) {
        const int result = *pendingResult_;
        pendingResult_.reset();
        End(result);
    }
}

void DialogLogic::RequestEnd(int result)
{
    // Closing during a run waits for the worker to finish the file in hand and close its
    // archive; the dialog keeps serving it meanwhile, and ends when the worker has ended.
    if (workerActive_) {
        pendingResult_ = result;
        AskWorkerToStop();
        return;
    }
    End(result);
}

void DialogLogic::End(int result)
{
    controls_.EndDialog(result);
    // The browsers have no owner, so they would outlive the dialog; they go with it.
    controls_.CloseBrowsers();
}

IconPlace MinimisedIconPos(int clientW, int clientH, int cx, int cy)
{
    // Integer division in C++ truncates toward zero, as the classic arithmetic does.
    return IconPlace {(clientW - cx + 1) / 2, (clientH - cy + 1) / 2};
}

void DialogLogic::OnBrowse(const BrowsePrompt &prompt)
{
    std::string JobSettings::*folder = prompt.folder;
    controls_.ControlsToSettings();
    const std::optional<std::string> chosen
        = controls_.BrowseForFolder(settings_.*folder, prompt.text);
    // What was typed, or chosen in another browser, while this one showed is kept.
    controls_.ControlsToSettings();
    if (chosen)
        settings_.*folder = *chosen;
    controls_.SettingsToControls();
}

void DialogLogic::OnSaveSettings()
{
    controls_.ControlsToSettings();
    std::string why;
    if (SaveSettings(settings_, &why))
        return;
    // Said, so that nobody believes the settings were kept; the file stays as it was.
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    const std::string file = error || folder.empty() ? std::string(kSettingsFileName)
                                                     : (folder / kSettingsFileName).u8string();
    controls_.ShowMessage(file + "\n" + why, "Unable to save settings");
}

void DialogLogic::AbandonRun()
{
    pendingResult_.reset();
    stopRequested_ = true;
}

} // namespace kelvane::ui
