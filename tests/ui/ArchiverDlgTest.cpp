// The main dialog away from runs: start-up state, data exchange, the save button, the ways
// to end it, the window menu and the About box, the application object.

#include "ui/qt/ArchiverDlg.h"
#include "app/ArchiverApp.h"
#include "resources/Resources.h"
#include "settings/SettingsFile.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/HelpWindow.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace kelvane;
using namespace kelvane::ui::qt;

namespace {

QLineEdit *Edit(CArchiverDlg &d, int id)
{
    return qobject_cast<QLineEdit *>(d.Control(id));
}
QCheckBox *Check(CArchiverDlg &d, int id)
{
    return qobject_cast<QCheckBox *>(d.Control(id));
}
QPushButton *Button(QDialog &d, QWidget *w)
{
    (void)d;
    return qobject_cast<QPushButton *>(w);
}

// Every test runs in a fresh current directory, where the settings file lives.
class MainDialogTest : public ::testing::Test
{
protected:
    test::TempDir dir;
    test::ScopedCurrentDir cwd {dir.path()};
};

} // namespace

TEST_F(MainDialogTest, WithoutSettingsFileShowsTheDefaultsAndFocusesTheSourceField)
{
    CArchiverDlg dlg;
    dlg.show();
    const JobSettings defaults;
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_MASK)->text(), QString::fromStdString(defaults.fileMask));
    EXPECT_EQ(Edit(dlg, res::IDC_SOURCE_FOLDER)->text(), QStringLiteral("D:\\Orvel\\AVIs"));
    EXPECT_EQ(Edit(dlg, res::IDC_TARGET_FOLDER)->text(),
              QStringLiteral("D:\\Orvel\\AVIs\\Archive"));
    EXPECT_EQ(dlg.focusWidget(), dlg.Control(res::IDC_SOURCE_FOLDER));
    EXPECT_FALSE(dlg.Running().load());
    EXPECT_EQ(qobject_cast<QProgressBar *>(dlg.Control(res::IDC_PROGRESS))->value(), 0);
    EXPECT_FALSE(test::FileExists(dir / "kelvane.ini")) << "opening writes nothing";
}

TEST_F(MainDialogTest, ShowsTheSettingsFileAndCopiesEditsBackByteForByte)
{
    JobSettings s;
    s.fileMask = "*.txt";
    s.sourceFolder = "/data/Ströme";
    s.targetFolder = std::string("/out/\xff\xfe"); // not valid UTF-8: must survive untouched
    s.createSubFolder = 0;
    s.keepIndividual = 0;
    s.useTimestamps = 1;
    s.skipConflicts = 1;
    s.storePathInZip = 0;
    test::WriteFile(dir / "kelvane.ini", FormatSettings(s));

    CArchiverDlg dlg;
    dlg.show();
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_MASK)->text(), QStringLiteral("*.txt"));
    EXPECT_EQ(Edit(dlg, res::IDC_SOURCE_FOLDER)->text(), QString::fromUtf8("/data/Ströme"));
    EXPECT_FALSE(Check(dlg, res::IDC_CREATE_SUB_FOLDER)->isChecked());
    EXPECT_TRUE(Check(dlg, res::IDC_SKIP_CONFLICTS)->isChecked());

    dlg.ControlsToSettings();
    EXPECT_EQ(dlg.Settings().targetFolder, s.targetFolder);
    EXPECT_EQ(dlg.Settings().sourceFolder, s.sourceFolder);
    EXPECT_EQ(dlg.Settings().useTimestamps, 1);

    // A long text is copied whole, both ways.
    const std::string longPath(40000, 'x');
    Edit(dlg, res::IDC_SOURCE_FOLDER)->setText(QString::fromStdString(longPath));
    Check(dlg, res::IDC_STORE_PATH_IN_ZIP)->setChecked(true);
    dlg.ControlsToSettings();
    EXPECT_EQ(dlg.Settings().sourceFolder, longPath);
    EXPECT_EQ(dlg.Settings().storePathInZip, 1);
    dlg.Settings().fileMask = "a?c";
    dlg.SettingsToControls();
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_MASK)->text(), QStringLiteral("a?c"));
    EXPECT_EQ(Edit(dlg, res::IDC_SOURCE_FOLDER)->text().size(), 40000);
}

TEST_F(MainDialogTest, SaveWritesTheControlsAndEnterInAnEditIsOkTakingThemWithoutASave)
{
    CArchiverDlg dlg;
    dlg.show();
    Edit(dlg, res::IDC_FILE_MASK)->setText(QStringLiteral("*.avi"));
    Button(dlg, dlg.Control(res::IDC_SAVE_SETTINGS))->click();
    JobSettings saved;
    saved.fileMask = "*.avi";
    EXPECT_EQ(test::ReadFile(dir / "kelvane.ini"), FormatSettings(saved));

    Edit(dlg, res::IDC_TARGET_FOLDER)->setText(QStringLiteral("/typed"));
    Check(dlg, res::IDC_KEEP_INDIVIDUAL)->setChecked(false);
    QTest::keyClick(Edit(dlg, res::IDC_TARGET_FOLDER), Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.Settings().targetFolder, "/typed");
    EXPECT_EQ(dlg.Settings().keepIndividual, 0);
    EXPECT_EQ(test::ReadFile(dir / "kelvane.ini"), FormatSettings(saved)) << "OK saves nothing";
}

TEST_F(MainDialogTest, EnterOnAPushButtonClicksItAndEscapeCancelsWithoutCopying)
{
    CArchiverDlg dlg;
    dlg.show();
    QWidget *save = dlg.Control(res::IDC_SAVE_SETTINGS);
    save->setFocus();
    QTest::keyClick(save, Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible()) << "no default button ends the dialog";
    EXPECT_TRUE(test::FileExists(dir / "kelvane.ini"));

    // Enter on a check box is OK too.
    Check(dlg, res::IDC_SKIP_CONFLICTS)->setFocus();
    QTest::keyClick(Check(dlg, res::IDC_SKIP_CONFLICTS), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    CArchiverDlg other;
    other.show();
    Edit(other, res::IDC_FILE_MASK)->setText(QStringLiteral("*.x"));
    QTest::keyClick(Edit(other, res::IDC_FILE_MASK), Qt::Key_Escape);
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(other.result(), QDialog::Rejected);
    EXPECT_EQ(other.Settings().fileMask, "*.*") << "Cancel copies nothing";
}

TEST_F(MainDialogTest, WindowMenuEndsWithTheAboutEntryAndOpensIt)
{
    CArchiverDlg dlg;
    dlg.show();
    const auto &items = dlg.SysMenu().Items();
    ASSERT_GE(items.size(), 2u);
    EXPECT_TRUE(items[items.size() - 2].separator);
    EXPECT_EQ(items.back().text, QStringLiteral("&About Kelvane..."));
    EXPECT_EQ(items.back().id, res::IDM_ABOUTBOX);

    // A right click on the background and Alt+Space open the menu; its command goes to
    // the system-command handler.
    int menus = 0;
    test::ScopedHook<std::function<int(const std::vector<SystemMenu::Item> &)>> chooseAbout(
        SystemMenu::PopupHook(), [&](const std::vector<SystemMenu::Item> &) {
            ++menus;
            return static_cast<int>(res::IDM_ABOUTBOX);
        });
    test::ModalWatcher closer([](QWidget *modal) {
        EXPECT_NE(qobject_cast<CAboutDlg *>(modal), nullptr);
        qobject_cast<QDialog *>(modal)->accept();
    });
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(dlg.width() - 2, 2),
                                 dlg.mapToGlobal(QPoint(dlg.width() - 2, 2)));
    QApplication::sendEvent(&dlg, &rightClick);
    EXPECT_EQ(menus, 1);
    EXPECT_EQ(closer.Seen(), 1);
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(dlg.Control(res::IDC_SOURCE_FOLDER), Qt::Key_Space, Qt::AltModifier);
    EXPECT_EQ(menus, 2);
    EXPECT_EQ(closer.Seen(), 2);
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(MainDialogTest, EverySystemCommandFrom0x10To0x1FOpensAFreshAboutBox)
{
    CArchiverDlg dlg;
    dlg.show();
    std::vector<QWidget *> boxes;
    test::ModalWatcher closer([&](QWidget *modal) {
        auto *about = qobject_cast<CAboutDlg *>(modal);
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(about->parentWidget(), &dlg);
        boxes.push_back(modal);
        about->reject();
    });
    for (int id : {0x10, 0x11, 0x1F}) {
        dlg.OnSysCommand(id);
    }
    EXPECT_EQ(boxes.size(), 3u);
    dlg.OnSysCommand(0x20);
    dlg.OnSysCommand(0x0F);
    EXPECT_EQ(boxes.size(), 3u);
    EXPECT_TRUE(dlg.isVisible());
    dlg.OnSysCommand(SC_CLOSE);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(MainDialogTest, StartUpRunsTheDialogAndReturnsFalseWhenItEnds)
{
    CArchiverApp app;
    int helpShown = 0;
    bool helpAsked = false;
    test::ModalWatcher driver([&](QWidget *modal) {
        if (auto *help = qobject_cast<HelpWindow *>(modal)) {
            ++helpShown;
            help->reject();
        } else if (auto *main = qobject_cast<CArchiverDlg *>(modal)) {
            EXPECT_EQ(app.MainWindow(), main);
            if (!helpAsked) {
                helpAsked = true;
                QTimer::singleShot(0, main, [main] { QTest::keyClick(main, Qt::Key_F1); });
            } else if (helpShown > 0) {
                main->reject();
            }
        }
    });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(helpShown, 1);
    EXPECT_EQ(app.MainWindow(), nullptr);
}
