#pragma once

// The main dialog: shows the job settings, saves them, starts a run on a worker thread and
// stops it with the same button, and shows the run on a progress bar and an animation.

#include "engine/RunWindow.h"
#include "settings/JobSettings.h"
#include "ui/core/DialogLogic.h"
#include "ui/core/SettingsExchange.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/ProgressControl.h"
#include "ui/qt/SystemMenu.h"

#include <QDialog>
#include <QIcon>
#include <QPoint>

#include <atomic>
#include <optional>
#include <string>

class QPushButton;

namespace kelvane::ui::qt {

class AnimationControl;

class CArchiverDlg : public QDialog, public RunWindow, private DialogControls
{
    Q_OBJECT
public:
    explicit CArchiverDlg(QWidget *parent = nullptr);
    ~CArchiverDlg() override;

    // The data exchange: members to controls, controls to members. Neither validates.
    void SettingsToControls() override;
    void ControlsToSettings() override;

    // The handlers of the dialog's message table.
    void OnSysCommand(int id);
    QIcon OnQueryDragIcon() const { return appIcon; }
    void OnStart();
    void OnBrowseSource();
    void OnBrowseTarget();
    void OnSaveSettings();

    // RunWindow: the worker's view of the dialog.
    ProgressDisplay &Progress() override { return progressBar; }
    void StopAnimation() override;
    void CloseAnimation() override;
    void RepaintAnimation() override;
    void SetStartCaption(const std::string &caption) override;
    void ShowMessage(const std::string &text, const std::string &caption) override;
    std::atomic<bool> &Running() override { return logic.Running(); }
    std::atomic<bool> &StopRequested() override { return logic.StopRequested(); }
    JobSettings CurrentSettings() override;
    void SetRunStamp(const std::string &stamp) override;

    // For the GUI thread.
    JobSettings &Settings() { return logic.Settings(); }
    QWidget *Control(int id) const { return built.Control(id); }
    const BuiltDialog &Built() const { return built; }
    AnimationControl *Animation() const { return animationCtrl; }
    const ProgressControl &ProgressState() const { return progressBar; }
    const SystemMenu &SysMenu() const { return systemMenu; }
    // A worker has been started and its end has not yet been seen by this thread.
    bool WorkerActive() const { return logic.WorkerActive(); }
    std::string RunStampText() const { return runStamp; }
    bool Initialised() const { return initialised; }

public slots:
    void accept() override;
    void done(int result) override;

protected:
    // The dialog initialisation, once, when the window first shows.
    virtual void OnInitDialog();
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void ShowSystemMenu(const QPoint &globalPos);

    // DialogControls: the controls of the shared dialog logic (SetStartCaption and
    // ShowMessage above serve it and the worker alike).
    void PlayClip() override;
    void CloseClip() override;
    std::optional<std::string> BrowseForFolder(const std::string &initial,
                                               const std::string &prompt) override;
    void CloseBrowsers() override;
    void EndDialog(int result) override;
    void PostWorkerEnded() override;
    // The progress bar and the clip of the built dialog, found once.
    void AttachControls();

    BuiltDialog built;
    ProgressControl progressBar;
    AnimationControl *animationCtrl = nullptr;
    QIcon appIcon;
    std::string runStamp;

    QPushButton *startButton = nullptr;
    SystemMenu systemMenu;
    bool initialised = false;
    SettingsExchange exchange;

    DialogLogic logic {*this, *this};
};

} // namespace kelvane::ui::qt
