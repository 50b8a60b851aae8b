#pragma once

#include <QObject>

class QWidget;

namespace kelvane {

// The application object: its start-up runs the main dialog modally and ends the program
// when the dialog ends. F1 shows the program's help.
class CArchiverApp : public QObject
{
    Q_OBJECT
public:
    CArchiverApp() = default;
    ~CArchiverApp() override;

    // Returns false: there is no message loop after the main dialog.
    bool InitInstance();

    // The framework's help command (F1 without Shift, Ctrl or Alt).
    void OnHelp();

    QWidget *MainWindow() const { return mainWindow_; }

private:
    QWidget *mainWindow_ = nullptr;
};

} // namespace kelvane
