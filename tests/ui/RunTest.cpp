// Runs from the main dialog, wired to the shared dialog logic (tested in tests/uicore): a
// run from start to end, closing and destroying the dialog during one, a run's message.
// The worker is the real engine on temporary folders.

#include "resources/Resources.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/qt/AnimationControl.h"
#include "ui/qt/ArchiverDlg.h"
#include "ui/qt/MessageBox.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace kelvane;
using namespace kelvane::ui::qt;

namespace {

class RunTest : public ::testing::Test
{
protected:
    RunTest()
    {
        test::MakeDirs(source);
        test::MakeDirs(target);
    }

    void MakeFiles(int n)
    {
        for (int i = 0; i < n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%03d.txt", i);
            test::WriteFile(source + "/" + name, std::string("content of ") + name);
        }
    }

    // Per-name archives straight in the target, entries under their bare names.
    void Prepare(CArchiverDlg &dlg, const std::string &to)
    {
        dlg.show();
        qobject_cast<QLineEdit *>(dlg.Control(res::IDC_FILE_MASK))
            ->setText(QStringLiteral("*.txt"));
        qobject_cast<QLineEdit *>(dlg.Control(res::IDC_SOURCE_FOLDER))
            ->setText(QString::fromStdString(source));
        qobject_cast<QLineEdit *>(dlg.Control(res::IDC_TARGET_FOLDER))
            ->setText(QString::fromStdString(to));
        qobject_cast<QCheckBox *>(dlg.Control(res::IDC_CREATE_SUB_FOLDER))->setChecked(false);
        qobject_cast<QCheckBox *>(dlg.Control(res::IDC_KEEP_INDIVIDUAL))->setChecked(true);
        qobject_cast<QCheckBox *>(dlg.Control(res::IDC_STORE_PATH_IN_ZIP))->setChecked(false);
    }

    static QPushButton *Start(CArchiverDlg &dlg)
    {
        return qobject_cast<QPushButton *>(dlg.Control(res::IDC_START));
    }
    static QProgressBar *Bar(CArchiverDlg &dlg)
    {
        return qobject_cast<QProgressBar *>(dlg.Control(res::IDC_PROGRESS));
    }

    std::vector<std::string> Zips(const std::string &folder)
    {
        std::vector<std::string> zips;
        for (const std::string &name : test::ListDir(folder)) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0) {
                zips.push_back(name);
            }
        }
        return zips;
    }

    test::TempDir dir;
    test::ScopedCurrentDir cwd {dir.path()};
    std::string source = dir / "src";
    std::string target = dir / "out";
    // A run's message box would wait for a click; here it is only recorded.
    std::vector<QString> messages; // captions
    std::vector<QString> texts;
    test::ScopedHook<std::function<void(const QString &, const QString &)>> noBoxes {
        MessageBoxHook(), [this](const QString &text, const QString &caption) {
            messages.push_back(caption);
            texts.push_back(text);
        }};
};

} // namespace

TEST_F(RunTest, StartToEndArchivesEveryFileAndResetsTheWindow)
{
    MakeFiles(3);
    CArchiverDlg dlg;
    Prepare(dlg, target);
    int highest = 0;
    QObject::connect(Bar(dlg), &QProgressBar::valueChanged,
                     [&](int v) { highest = std::max(highest, v); });

    EXPECT_EQ(Start(dlg)->text(), QString::fromUtf8("开始"));
    Start(dlg)->click();
    EXPECT_EQ(Start(dlg)->text(), QStringLiteral("STOP"));
    EXPECT_TRUE(dlg.Animation()->IsOpen());
    EXPECT_TRUE(dlg.Animation()->IsPlaying());
    EXPECT_TRUE(dlg.WorkerActive());

    ASSERT_TRUE(test::WaitFor([&] { return !dlg.WorkerActive(); }));
    EXPECT_EQ(Start(dlg)->text(), QStringLiteral("START"));
    EXPECT_FALSE(dlg.Running().load());
    EXPECT_EQ(highest, 3);
    EXPECT_EQ(Bar(dlg)->value(), 0);
    EXPECT_EQ(dlg.ProgressState().Upper(), 3);
    EXPECT_FALSE(dlg.Animation()->IsOpen()) << "the clip is closed after the run";
    EXPECT_EQ(dlg.RunStampText().size(), 16u);
    EXPECT_TRUE(messages.empty());

    ASSERT_EQ(Zips(target), (std::vector<std::string> {"f000.zip", "f001.zip", "f002.zip"}));
    const test::ZipContents zip = test::ReadZip(target + "/f001.zip");
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), 1u);
    EXPECT_EQ(zip.entries[0].name, "f001.txt");
    EXPECT_EQ(zip.entries[0].data, "content of f001.txt");
}

TEST_F(RunTest, ClosingDuringARunEndsTheDialogOnlyAfterTheWorker)
{
    MakeFiles(30);
    CArchiverDlg dlg;
    Prepare(dlg, target);
    dlg.hide();
    bool closed = false;
    bool stillOpenAfterClose = false;
    QObject::connect(Bar(dlg), &QProgressBar::valueChanged, [&](int v) {
        // Steps may share a repaint, so the bar can pass over 2 without showing it.
        if (v >= 2 && !closed) {
            closed = true;
            dlg.reject(); // Escape, the close box and Alt+F4 all end here
            stillOpenAfterClose = dlg.isVisible();
            EXPECT_EQ(Start(dlg)->text(), QStringLiteral("Stopping...."));
        }
    });
    QTimer::singleShot(0, &dlg, [&] { Start(dlg)->click(); });
    const int result = dlg.exec();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(stillOpenAfterClose);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(dlg.WorkerActive()) << "the dialog ended before its worker";
    EXPECT_FALSE(dlg.Running().load());
}

TEST_F(RunTest, ARunsMessageIsShownOnTheGuiThreadAndTheRunWaitsForIt)
{
    // A sub folder that cannot be made: the target is a file.
    MakeFiles(2);
    test::WriteFile(target + "/src", "in the way");
    CArchiverDlg dlg;
    Prepare(dlg, target);
    qobject_cast<QCheckBox *>(dlg.Control(res::IDC_CREATE_SUB_FOLDER))->setChecked(true);
    std::vector<bool> onGui;
    test::ScopedHook<std::function<void(const QString &, const QString &)>> record(
        MessageBoxHook(), [&](const QString &text, const QString &caption) {
            onGui.push_back(QThread::currentThread() == dlg.thread());
            messages.push_back(caption);
            texts.push_back(text);
            EXPECT_EQ(qobject_cast<QPushButton *>(dlg.Control(res::IDC_START))->text(),
                      QStringLiteral("STOP"));
        });
    Start(dlg)->click();
    ASSERT_TRUE(test::WaitFor([&] { return !dlg.WorkerActive(); }));
    ASSERT_EQ(messages, (std::vector<QString> {QStringLiteral("Unable to create subfolder")}));
    EXPECT_EQ(texts, (std::vector<QString> {QString::fromStdString(target + "/src")}));
    EXPECT_EQ(onGui, (std::vector<bool> {true}));
    EXPECT_EQ(Start(dlg)->text(), QStringLiteral("START"));
}

TEST_F(RunTest, DestroyingTheDialogDuringARunWaitsForTheWorker)
{
    MakeFiles(30);
    {
        CArchiverDlg dlg;
        Prepare(dlg, target);
        bool started = false;
        QObject::connect(Bar(dlg), &QProgressBar::valueChanged,
                         [&](int v) { started = started || v > 0; });
        Start(dlg)->click();
        ASSERT_TRUE(test::WaitFor([&] { return started; }));
        // The dialog goes away here, with its worker in the middle of the run.
    }
    // The worker has ended with the dialog: every archive it began is closed, complete, and
    // no temporary is left. How many it made depends on the threads' timing.
    const std::vector<std::string> zips = Zips(target);
    EXPECT_GE(zips.size(), 1u);
    for (const std::string &z : zips) {
        EXPECT_TRUE(test::ReadZip(target + "/" + z).ok) << z;
    }
    EXPECT_EQ(test::TempLeftovers(target), std::vector<std::string> {});
}
