// The "..." buttons with the real browse dialog, scripted: the dialog stays live beside it,
// and what the Qt browser itself does (its status line, its OK, native paths).

#include "resources/Resources.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/qt/ArchiverDlg.h"
#include "ui/qt/FolderBrowseDialog.h"
#include "ui/qt/FolderBrowser.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>

#include <gtest/gtest.h>

using namespace kelvane;
using namespace kelvane::ui::qt;

namespace {

using Script = std::function<void(FolderBrowseDialog &)>;

QString Native(const std::string &path)
{
    return QDir::toNativeSeparators(QString::fromStdString(path));
}

class BrowseTest : public ::testing::Test
{
protected:
    BrowseTest()
    {
        test::MakeDirs(first);
        test::MakeDirs(second);
    }
    QLineEdit *Edit(int id) { return qobject_cast<QLineEdit *>(dlg.Control(id)); }

    test::TempDir dir;
    test::ScopedCurrentDir cwd {dir.path()};
    std::string first = dir / "first";
    std::string second = dir / "first/second";
    CArchiverDlg dlg;
};

// A click as the window system delivers it: a window blocked by a modal one never sees it.
void ClickThroughTheWindow(QWidget *button)
{
    QWidget *top = button->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {},
                      button->mapTo(top, button->rect().center()));
}

} // namespace

TEST_F(BrowseTest, WhileBrowsersShowTheDialogStaysLive)
{
    const std::string out = dir / "out";
    test::MakeDirs(out);
    test::WriteFile(first + "/take1.txt", "take");

    int opened = 0;
    bool started = false;
    FolderBrowseDialog *outer = nullptr;
    test::ScopedHook<Script> script(FolderBrowseDialog::ScriptHook(), [&](FolderBrowseDialog &b) {
        if (++opened == 1) {
            outer = &b;
            ClickThroughTheWindow(dlg.Control(res::IDC_START));
            started = dlg.WorkerActive();
            EXPECT_TRUE(test::WaitFor([&] { return !dlg.WorkerActive(); }));
            // A second browser beside the first; it closes the first before itself.
            ClickThroughTheWindow(dlg.Control(res::IDC_BROWSE_TARGET));
            if (b.isVisible()) {
                b.PressCancel(); // the second never opened
            }
        } else {
            outer->HighlightPath(QString::fromStdString(second));
            outer->PressOk();
            b.HighlightPath(QString::fromStdString(dir.path()));
            // The user's own click: a browser beside a modal main dialog would not take it.
            for (auto *button : b.findChildren<QPushButton *>()) {
                if (button->text() == QStringLiteral("OK")) {
                    ClickThroughTheWindow(button);
                }
            }
            if (b.isVisible()) {
                b.PressCancel();
            }
        }
    });
    // Run as the program runs it: the main dialog under exec().
    QTimer::singleShot(0, &dlg, [&] {
        Edit(res::IDC_FILE_MASK)->setText(QStringLiteral("*.txt"));
        Edit(res::IDC_SOURCE_FOLDER)->setText(QString::fromStdString(first));
        Edit(res::IDC_TARGET_FOLDER)->setText(QString::fromStdString(out));
        ClickThroughTheWindow(dlg.Control(res::IDC_BROWSE_SOURCE));
        dlg.reject();
    });
    dlg.exec();

    EXPECT_TRUE(started) << "a click on START with a browser open starts a run";
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(Edit(res::IDC_SOURCE_FOLDER)->text(), Native(second));
    EXPECT_EQ(Edit(res::IDC_TARGET_FOLDER)->text(), Native(dir.path()));
}

TEST_F(BrowseTest, ABrowserStillOpenClosesWithTheDialog)
{
    bool outlived = false;
    test::ScopedHook<Script> script(FolderBrowseDialog::ScriptHook(), [&](FolderBrowseDialog &b) {
        dlg.reject();
        outlived = b.isVisible();
        b.PressCancel();
    });
    QTimer::singleShot(0, &dlg, [&] {
        qobject_cast<QPushButton *>(dlg.Control(res::IDC_BROWSE_TARGET))->click();
    });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    EXPECT_FALSE(outlived);
}

TEST_F(BrowseTest, TheSourceBrowserStartsAtTheTypedFolderAndFillsItsFieldNatively)
{
    dlg.show();
    Edit(res::IDC_SOURCE_FOLDER)->setText(QString::fromStdString(first)); // typed, not yet used

    QString prompt, statusOnOpen, statusAfterMove, statusOnNothing;
    bool okOnNothing = true;
    test::ScopedHook<Script> script(FolderBrowseDialog::ScriptHook(), [&](FolderBrowseDialog &b) {
        prompt = b.PromptText();
        statusOnOpen = b.StatusText();
        EXPECT_TRUE(b.StatusLineShown());
        EXPECT_EQ(b.CurrentItem().isValid(), true) << "the typed folder is preselected";
        b.HighlightNothing();
        statusOnNothing = b.StatusText();
        okOnNothing = b.OkEnabled();
        ASSERT_TRUE(b.HighlightPath(QString::fromStdString(second)));
        statusAfterMove = b.StatusText();
        EXPECT_TRUE(b.OkEnabled());
        b.PressOk();
    });
    qobject_cast<QPushButton *>(dlg.Control(res::IDC_BROWSE_SOURCE))->click();

    EXPECT_EQ(prompt, QStringLiteral("Select Source Folder"));
    EXPECT_EQ(statusOnOpen, QString::fromStdString(first));
    EXPECT_EQ(statusOnNothing, QString());
    EXPECT_FALSE(okOnNothing) << "an item without a path cannot be chosen";
    EXPECT_EQ(statusAfterMove, Native(second));
    EXPECT_EQ(Edit(res::IDC_SOURCE_FOLDER)->text(), Native(second));
}

TEST_F(BrowseTest, AMissingInitialFolderStillShowsItsTextInTheStatusLine)
{
    dlg.show();
    QString status;
    test::ScopedHook<Script> script(FolderBrowseDialog::ScriptHook(), [&](FolderBrowseDialog &b) {
        status = b.StatusText();
        b.PressCancel();
    });
    qobject_cast<QPushButton *>(dlg.Control(res::IDC_BROWSE_SOURCE))->click();
    EXPECT_EQ(status, QStringLiteral("D:\\Orvel\\AVIs"));
    EXPECT_EQ(Edit(res::IDC_SOURCE_FOLDER)->text(), QStringLiteral("D:\\Orvel\\AVIs"));
}

// The rules are the shared browser's (tests/uicore); here, the Qt dialog under them.
TEST(FolderBrowserTest, TheQtDialogShowsTheTitleAndTheRequestsAndGivesANativePath)
{
    test::TempDir dir;
    CFolderBrowser browser(nullptr, res::IDS_ABOUTBOX);
    EXPECT_EQ(browser.Title(), "&About Kelvane...");
    browser.SetTitle(std::string(5000, 'p'));
    browser.SetFlags(BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT);
    browser.SetInitialFolder(dir.path());
    test::ScopedHook<Script> script(FolderBrowseDialog::ScriptHook(), [&](FolderBrowseDialog &b) {
        EXPECT_EQ(b.PromptText().size(), 5000);
        browser.SetStatusText("from the request");
        EXPECT_EQ(b.StatusText(), QStringLiteral("from the request"));
        b.PressOk();
    });
    ASSERT_TRUE(browser.Browse());
    EXPECT_EQ(browser.GetFolderPath(),
              QDir::toNativeSeparators(QString::fromStdString(dir.path())).toStdString());
}
