#pragma once

// The main dialog as a native window: built by the system from the IDD_MAIN_DIALOG template
// in the program's resources, with the platform's own progress bar, animation control,
// system menu and folder browser. The worker drives the controls by sending messages to
// them, so each of its window operations is carried out on the dialog's thread while it
// waits.

#include "engine/RunWindow.h"
#include "settings/JobSettings.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <windows.h>

namespace kelvane::win32 {

// The progress bar's operations, as messages to the bar.
class BarProgress : public ProgressDisplay
{
public:
    void Attach(HWND bar) { bar_ = bar; }
    void SetRange(int lower, int upper) override;
    void SetStep(int step) override;
    void StepIt() override;
    int GetPos() override;
    void SetPos(int pos) override;

private:
    HWND bar_ = nullptr;
};

// Shows the help text shipped in the program's resources, owned by owner.
void ShowHelp(HWND owner);

// Runs the About box modally over owner.
void ShowAboutBox(HWND owner);

class CArchiverDlg : public RunWindow
{
public:
    explicit CArchiverDlg(HWND parent = nullptr);
    ~CArchiverDlg() override;
    CArchiverDlg(const CArchiverDlg &) = delete;
    CArchiverDlg &operator=(const CArchiverDlg &) = delete;

    // Runs the dialog modally; returns when it has ended and no worker is left.
    INT_PTR DoModal();
    // The dialog's window, for any thread, from the end of its initialisation until it is
    // destroyed; null at other times.
    HWND Window() const { return window_.load(); }

    // The data exchange: members to controls, controls to members. Neither validates.
    void SettingsToControls();
    void ControlsToSettings();

    JobSettings &Settings() { return settings; }
    // A worker has been started and its end has not yet been seen by the dialog's thread.
    bool WorkerActive() const { return workerActive; }

    // RunWindow: the worker's view of the dialog.
    ProgressDisplay &Progress() override { return progressBar; }
    void StopAnimation() override;
    void CloseAnimation() override;
    void RepaintAnimation() override;
    void SetStartCaption(const std::string &caption) override;
    void ShowMessage(const std::string &text, const std::string &caption) override;
    std::atomic<bool> &Running() override { return running; }
    std::atomic<bool> &StopRequested() override { return stopRequested; }
    JobSettings CurrentSettings() override;
    void SetRunStamp(const std::string &stamp) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    bool OnSysCommand(WPARAM command);
    bool OnPaint();
    void OnCommand(int id);
    void OnStart();
    void AskWorkerToStop();
    void OnWorkerEnded();
    void Browse(std::string JobSettings::*folder, const wchar_t *prompt);
    void OnSaveSettings();
    void End(INT_PTR result);
    void CallOnDialogThread(const std::function<void()> &call);
    HWND Item(int id) const;

    HWND parent_;
    HWND hwnd_ = nullptr; // for the dialog's own thread
    std::atomic<HWND> window_ {nullptr};
    BarProgress progressBar;
    HWND animationCtrl = nullptr;
    JobSettings settings;
    HICON appIcon = nullptr;
    std::atomic<bool> running {false};
    std::atomic<bool> stopRequested {false};
    std::string runStamp;
    // The bytes last shown in each edit, so that text the user did not touch goes back
    // unchanged even where it is not valid UTF-8.
    std::string shownMask, shownSource, shownTarget;

    std::thread worker;
    bool workerActive = false;
    std::optional<INT_PTR> pendingResult;
};

} // namespace kelvane::win32
