#include "ui/qt/ArchiverDlg.h"

#include "resources/Resources.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/AnimationControl.h"
#include "ui/qt/AppIcon.h"
#include "ui/qt/FolderBrowseDialog.h"
#include "ui/qt/FolderBrowser.h"
#include "ui/qt/GuiThread.h"
#include "ui/qt/LocalText.h"
#include "ui/qt/MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

namespace kelvane::ui::qt {

namespace {

// The Qt controls of the data exchange.
class QtExchangeControls : public SettingsExchange::Controls
{
public:
    explicit QtExchangeControls(CArchiverDlg &dlg) : dlg_(dlg) { }

    void SetText(int id, const std::string &text) override
    {
        if (QLineEdit *edit = Edit(id)) {
            edit->setText(FromBytes(text));
        }
    }
    bool ShowsText(int id, const std::string &shown) override
    {
        QLineEdit *edit = Edit(id);
        return edit == nullptr || edit->text() == FromBytes(shown);
    }
    std::string Text(int id) override
    {
        QLineEdit *edit = Edit(id);
        return edit != nullptr ? ToBytes(edit->text()) : std::string();
    }
    void SetChecked(int id, bool checked) override
    {
        if (QCheckBox *box = Box(id)) {
            box->setChecked(checked);
        }
    }
    bool Checked(int id) override
    {
        QCheckBox *box = Box(id);
        return box != nullptr && box->isChecked();
    }

private:
    QLineEdit *Edit(int id) { return qobject_cast<QLineEdit *>(dlg_.Control(id)); }
    QCheckBox *Box(int id) { return qobject_cast<QCheckBox *>(dlg_.Control(id)); }

    CArchiverDlg &dlg_;
};

} // namespace

CArchiverDlg::CArchiverDlg(QWidget *parent) : QDialog(parent)
{
    // Fixed size: a caption with the window menu, minimise and close, no maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    // Run with exec(), yet blocking no other window: with no parent, window-modal is modal
    // to nothing, so the folder browsers, which have no owner, stay usable beside it.
    setWindowModality(Qt::WindowModal);
    built = BuildDialog(*this, res::MainDialogTemplate());
    setAccessibleName(windowTitle());
    startButton = qobject_cast<QPushButton *>(Control(res::IDC_START));
    appIcon = AppIcon();

    auto connectButton = [this](int id, void (CArchiverDlg::*handler)()) {
        if (auto *button = qobject_cast<QPushButton *>(Control(id))) {
            connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        }
    };
    connectButton(res::IDC_START, &CArchiverDlg::OnStart);
    connectButton(res::IDC_BROWSE_SOURCE, &CArchiverDlg::OnBrowseSource);
    connectButton(res::IDC_BROWSE_TARGET, &CArchiverDlg::OnBrowseTarget);
    connectButton(res::IDC_SAVE_SETTINGS, &CArchiverDlg::OnSaveSettings);
    // Two buttons read "...": say which folder each one picks.
    if (QWidget *w = Control(res::IDC_BROWSE_SOURCE)) {
        w->setAccessibleDescription(QStringLiteral("Browse for the source folder"));
    }
    if (QWidget *w = Control(res::IDC_BROWSE_TARGET)) {
        w->setAccessibleDescription(QStringLiteral("Browse for the target folder"));
    }

    auto *menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(menuKey, &QShortcut::activated, this,
            [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
}

CArchiverDlg::~CArchiverDlg()
{
    // The worker uses this object until its last step: ask it to stop and keep serving its
    // window operations until it has ended.
    if (logic.WorkerActive()) {
        logic.AbandonRun();
        while (logic.WorkerActive()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
    }
}

void CArchiverDlg::showEvent(QShowEvent *event)
{
    if (!initialised) {
        initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CArchiverDlg::OnInitDialog()
{
    SettingsToControls();
    const std::string about = res::LoadString(res::IDS_ABOUTBOX);
    if (!about.empty()) {
        systemMenu.AppendSeparator();
        systemMenu.AppendString(
            res::IDM_ABOUTBOX,
            QString::fromUtf8(about.data(), static_cast<qsizetype>(about.size())));
    }
    setWindowIcon(appIcon);
    logic.OnInitDialog();
    if (QWidget *source = Control(res::IDC_SOURCE_FOLDER)) {
        source->setFocus(Qt::OtherFocusReason);
    }
}

void CArchiverDlg::SettingsToControls()
{
    AttachControls();
    QtExchangeControls controls(*this);
    exchange.ToControls(Settings(), controls);
}

void CArchiverDlg::ControlsToSettings()
{
    AttachControls();
    QtExchangeControls controls(*this);
    exchange.FromControls(Settings(), controls);
}

void CArchiverDlg::AttachControls()
{
    progressBar.Attach(qobject_cast<QProgressBar *>(Control(res::IDC_PROGRESS)));
    if (animationCtrl == nullptr) {
        animationCtrl = qobject_cast<AnimationControl *>(Control(res::IDC_ANIMATION));
    }
}

void CArchiverDlg::OnSysCommand(int id)
{
    // The low four bits of a system command belong to the system.
    const int command = id & 0xFFF0;
    if (command == res::IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
        return;
    }
    switch (command) {
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_RESTORE:
        showNormal();
        break;
    case SC_CLOSE:
        close();
        break;
    default:
        break;
    }
}

void CArchiverDlg::OnStart()
{
    logic.OnStart();
}

void CArchiverDlg::PostWorkerEnded()
{
    QMetaObject::invokeMethod(
        this, [this] { logic.WorkerEnded(); }, Qt::QueuedConnection);
}

void CArchiverDlg::accept()
{
    ControlsToSettings();
    done(QDialog::Accepted);
}

void CArchiverDlg::done(int result)
{
    logic.RequestEnd(result);
}

void CArchiverDlg::EndDialog(int result)
{
    QDialog::done(result);
}

void CArchiverDlg::CloseBrowsers()
{
    // The browsers have no owner, so they would outlive the dialog; they go with it, as if
    // cancelled.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *browser = qobject_cast<FolderBrowseDialog *>(w);
            browser && browser->isVisible()) {
            browser->reject();
        }
    }
}

void CArchiverDlg::PlayClip()
{
    if (animationCtrl != nullptr) {
        animationCtrl->Open(res::ClipData());
        animationCtrl->Play();
    }
}

void CArchiverDlg::CloseClip()
{
    if (animationCtrl != nullptr) {
        animationCtrl->Close();
    }
}

std::optional<std::string> CArchiverDlg::BrowseForFolder(const std::string &initial,
                                                         const std::string &prompt)
{
    // Owned by nobody: the dialog stays live while the browser shows (STOP keeps working
    // during a run), and every "..." click opens a browser of its own.
    CFolderBrowser browser(nullptr, 0);
    browser.SetInitialFolder(initial);
    browser.SetTitle(prompt);
    browser.SetFlags(BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT);
    if (!browser.Browse()) {
        return std::nullopt;
    }
    return browser.GetFolderPath();
}

void CArchiverDlg::OnBrowseSource()
{
    logic.OnBrowse(kBrowseSource);
}

void CArchiverDlg::OnBrowseTarget()
{
    logic.OnBrowse(kBrowseTarget);
}

void CArchiverDlg::OnSaveSettings()
{
    logic.OnSaveSettings();
}

void CArchiverDlg::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // No default button: Enter clicks the push button that has the focus, and
        // anywhere else it is OK.
        if (auto *button = qobject_cast<QPushButton *>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CArchiverDlg::contextMenuEvent(QContextMenuEvent *event)
{
    QWidget *under = childAt(event->pos());
    if (under == nullptr || qobject_cast<QLabel *>(under) != nullptr) {
        ShowSystemMenu(event->globalPos());
        return;
    }
    QDialog::contextMenuEvent(event);
}

void CArchiverDlg::ShowSystemMenu(const QPoint &globalPos)
{
    const int id = systemMenu.Popup(this, globalPos);
    if (id != 0) {
        OnSysCommand(id);
    }
}

void CArchiverDlg::paintEvent(QPaintEvent *event)
{
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const IconPlace at = MinimisedIconPos(width(), height(), 32, 32);
    appIcon.paint(&painter, QRect(at.x, at.y, 32, 32));
}

void CArchiverDlg::StopAnimation()
{
    RunOnGuiThread(this, [this] {
        if (animationCtrl != nullptr) {
            animationCtrl->Stop();
        }
    });
}

void CArchiverDlg::CloseAnimation()
{
    RunOnGuiThread(this, [this] { CloseClip(); });
}

void CArchiverDlg::RepaintAnimation()
{
    RunOnGuiThread(this, [this] {
        if (animationCtrl != nullptr) {
            animationCtrl->update();
        }
    });
}

void CArchiverDlg::SetStartCaption(const std::string &caption)
{
    RunOnGuiThread(this, [this, &caption] {
        if (startButton != nullptr) {
            startButton->setText(FromBytes(caption));
            startButton->update();
        }
    });
}

void CArchiverDlg::ShowMessage(const std::string &text, const std::string &caption)
{
    RunOnGuiThread(this, [this, &text, &caption] {
        ShowMessageBox(this, FromBytes(text), FromBytes(caption));
    });
}

JobSettings CArchiverDlg::CurrentSettings()
{
    JobSettings copy;
    RunOnGuiThread(this, [this, &copy] { copy = logic.Settings(); });
    return copy;
}

void CArchiverDlg::SetRunStamp(const std::string &stamp)
{
    RunOnGuiThread(this, [this, &stamp] { runStamp = stamp; });
}

} // namespace kelvane::ui::qt
