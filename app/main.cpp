#include "app/ArchiverApp.h"
#include "resources/Version.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Qt takes its own options from the command line; the program reads none.
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setApplicationVersion(QStringLiteral(KELVANE_VERSION));
    kelvane::CArchiverApp app;
    app.InitInstance();
    // No message loop follows the dialog: the program ends with it.
    return 0;
}
