// The "..." buttons with a scripted folder browser, and the browser's own rules.

#include "resources/Resources.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ArchiverDlg.h"
#include "ui/FolderBrowseDialog.h"
#include "ui/FolderBrowser.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace kelvane;
using namespace kelvane::ui;

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

} // namespace

TEST_F(BrowseTest, ChoosingReplacesOnlyTheFieldOfItsButton)
{
    dlg.show();
    Edit(res::IDC_SOURCE_FOLDER)->setText(QString::fromStdString(first)); // typed, not yet used
    Edit(res::IDC_TARGET_FOLDER)->setText(QStringLiteral("/typed/target"));
    qobject_cast<QCheckBox *>(dlg.Control(res::IDC_USE_TIMESTAMPS))->setChecked(true);

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
    EXPECT_EQ(Edit(res::IDC_TARGET_FOLDER)->text(), QStringLiteral("/typed/target"));
    EXPECT_TRUE(qobject_cast<QCheckBox *>(dlg.Control(res::IDC_USE_TIMESTAMPS))->isChecked());
    EXPECT_EQ(dlg.Settings().sourceFolder, second);
}

TEST_F(BrowseTest, CancelKeepsTheTypedTextAndTheTargetPromptAsksForTheTarget)
{
    dlg.show();
    Edit(res::IDC_SOURCE_FOLDER)->setText(QStringLiteral("/typed/source"));
    Edit(res::IDC_TARGET_FOLDER)->setText(QString::fromStdString(second));
    QString prompt, statusOnOpen;
    test::ScopedHook<Script> script(FolderBrowseDialog::ScriptHook(), [&](FolderBrowseDialog &b) {
        prompt = b.PromptText();
        statusOnOpen = b.StatusText();
        b.HighlightPath(QString::fromStdString(first));
        b.PressCancel();
    });
    qobject_cast<QPushButton *>(dlg.Control(res::IDC_BROWSE_TARGET))->click();
    EXPECT_TRUE(prompt.contains(QStringLiteral("Target"), Qt::CaseInsensitive));
    EXPECT_EQ(statusOnOpen, QString::fromStdString(second));
    EXPECT_EQ(Edit(res::IDC_TARGET_FOLDER)->text(), QString::fromStdString(second));
    EXPECT_EQ(Edit(res::IDC_SOURCE_FOLDER)->text(), QStringLiteral("/typed/source"));
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

TEST(FolderBrowserTest, SettersActOnlyWhileIdleAndRequestsOnlyWhileShowing)
{
    test::TempDir dir;
    CFolderBrowser browser(nullptr, 0);
    EXPECT_EQ(browser.Title(), "");
    EXPECT_FALSE(browser.SetTitle(0));
    EXPECT_FALSE(browser.SetTitle(99999)); // no such string
    EXPECT_TRUE(browser.SetTitle(res::IDS_ABOUTBOX));
    EXPECT_EQ(browser.Title(), "&About Kelvane...");
    const std::string longTitle(5000, 'p');
    browser.SetTitle(longTitle);
    browser.SetFlags(BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT);
    browser.SetSelection(dir.path()); // idle: ignored, no crash
    browser.SetStatusText("x");
    browser.SetInitialFolder(dir.path());

    bool showing = false;
    test::ScopedHook<Script> script(FolderBrowseDialog::ScriptHook(), [&](FolderBrowseDialog &b) {
        showing = browser.Showing();
        EXPECT_EQ(b.PromptText().size(), 5000);
        browser.SetTitle("changed while showing");
        browser.SetFlags(0);
        browser.SetStatusText("from the request");
        EXPECT_EQ(b.StatusText(), QStringLiteral("from the request"));
        b.PressOk();
    });
    ASSERT_TRUE(browser.Browse());
    EXPECT_TRUE(showing);
    EXPECT_FALSE(browser.Showing());
    EXPECT_EQ(browser.Title(), longTitle);
    EXPECT_EQ(browser.Flags(), BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT);
    EXPECT_EQ(browser.GetFolderPath(),
              QDir::toNativeSeparators(QString::fromStdString(dir.path())).toStdString());
}
