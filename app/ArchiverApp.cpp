#include "app/ArchiverApp.h"

#include "ui/qt/AppIcon.h"
#include "ui/qt/ArchiverDlg.h"
#include "ui/qt/HelpWindow.h"

#include <QApplication>
#include <QShortcut>

namespace kelvane {

CArchiverApp::~CArchiverApp() = default;

bool CArchiverApp::InitInstance()
{
    QApplication::setWindowIcon(ui::qt::AppIcon());
    ui::qt::CArchiverDlg dlg;
    mainWindow_ = &dlg;
    // F1 anywhere in the program, the About box included; Shift, Ctrl or Alt make another key.
    QShortcut help(QKeySequence(Qt::Key_F1), &dlg);
    help.setContext(Qt::ApplicationShortcut);
    connect(&help, &QShortcut::activated, this, &CArchiverApp::OnHelp);
    dlg.exec();
    mainWindow_ = nullptr;
    return false;
}

void CArchiverApp::OnHelp()
{
    ui::qt::HelpWindow help(QApplication::activeWindow());
    help.exec();
}

} // namespace kelvane
