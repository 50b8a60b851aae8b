// Times one run in the real window: fills in the fields, clicks the start button and waits
// until the worker has ended, on whatever display Qt finds (bench/compare --window runs it
// off screen; under Xvfb it draws for real).
// Prints the wall time in seconds on standard output.
//
//   kelvane-window-timing SOURCE TARGET [--single]

#include "resources/Resources.h"
#include "ui/qt/ArchiverDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>

using namespace kelvane;
using kelvane::ui::qt::CArchiverDlg;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: kelvane-window-timing SOURCE TARGET [--single]\n");
        return 2;
    }
    const bool single = argc > 3 && std::strcmp(argv[3], "--single") == 0;

    CArchiverDlg dlg;
    dlg.show();
    auto edit = [&](int id) { return qobject_cast<QLineEdit *>(dlg.Control(id)); };
    auto check = [&](int id) { return qobject_cast<QCheckBox *>(dlg.Control(id)); };
    edit(res::IDC_FILE_MASK)->setText("*.*");
    edit(res::IDC_SOURCE_FOLDER)->setText(QString::fromLocal8Bit(argv[1]));
    edit(res::IDC_TARGET_FOLDER)->setText(QString::fromLocal8Bit(argv[2]));
    check(res::IDC_CREATE_SUB_FOLDER)->setChecked(false);
    check(res::IDC_KEEP_INDIVIDUAL)->setChecked(!single);
    check(res::IDC_USE_TIMESTAMPS)->setChecked(false);
    check(res::IDC_SKIP_CONFLICTS)->setChecked(false);
    check(res::IDC_STORE_PATH_IN_ZIP)->setChecked(false);

    QElapsedTimer clock;
    QTimer poll;
    // The worker's end reaches the GUI thread as an event; a 1 ms poll adds nothing
    // measurable to runs of a second or more.
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!dlg.WorkerActive()) {
            std::printf("%.3f\n", clock.elapsed() / 1000.0);
            app.quit();
        }
    });
    QTimer::singleShot(200, [&] {
        clock.start();
        qobject_cast<QPushButton *>(dlg.Control(res::IDC_START))->click();
        poll.start(1);
    });
    return app.exec();
}
