#pragma once

// The main dialog as a native window: built by the system from the IDD_MAIN_DIALOG template
// in the program's resources, with the platform's own progress bar, animation control,
// system menu and folder browser. What it does is the shared dialog logic (ui/core); this is
// its controls. The worker drives them by sending messages, so each of its window
// operations is carried out on the dialog's thread while it waits.

#include "engine/RunWindow.h"
#include "settings/JobSettings.h"
#include "ui/core/DialogLogic.h"
#include "ui/core/SettingsExchange.h"
#include "ui/win32/FolderBrowser.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace kelvane::ui::win32 {

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

class CArchiverDlg : public RunWindow, private DialogControls
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
    void SettingsToControls() override;
    void ControlsToSettings() override;

    JobSettings &Settings() { return logic_.Settings(); }
    // A worker has been started and its end has not yet been seen by the dialog's thread.
    bool WorkerActive() const { return logic_.WorkerActive(); }

    // RunWindow: the worker's view of the dialog. Each call is carried out on the dialog's
    // thread, from whichever thread it comes.
    ProgressDisplay &Progress() override { return progressBar; }
    void StopAnimation() override;
    void CloseAnimation() override;
    void RepaintAnimation() override;
    void SetStartCaption(const std::string &caption) override;
    void ShowMessage(const std::string &text, const std::string &caption) override;
    std::atomic<bool> &Running() override { return logic_.Running(); }
    std::atomic<bool> &StopRequested() override { return logic_.StopRequested(); }
    JobSettings CurrentSettings() override;
    void SetRunStamp(const std::string &stamp) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    bool OnSysCommand(WPARAM command);
    bool OnPaint();
    void OnCommand(int id);
    void CallOnDialogThread(const std::function<void()> &call);
    HWND Item(int id) const;

    // DialogControls: the controls of the shared dialog logic (SetStartCaption and
    // ShowMessage above serve it and the worker alike).
    void PlayClip() override;
    void CloseClip() override;
    std::optional<std::string> BrowseForFolder(const std::string &initial,
                                               const std::string &prompt) override;
    void CloseBrowsers() override;
    void EndDialog(int result) override;
    void PostWorkerEnded() override;

    HWND parent_;
    HWND hwnd_ = nullptr; // for the dialog's own thread
    std::atomic<HWND> window_ {nullptr};
    BarProgress progressBar;
    HWND animationCtrl = nullptr;
    HICON appIcon = nullptr;
    std::string runStamp;
    SettingsExchange exchange;
    // The folder browsers showing now (each click of "..." opens one).
    std::vector<CFolderBrowserBase *> browsers;
    DialogLogic logic_ {*this, *this};
};

} // namespace kelvane::ui::win32
