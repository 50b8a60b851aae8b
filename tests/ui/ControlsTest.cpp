// The window layer's pieces: dialogs built from their templates, the progress control,
// the minimised icon's position.

#include "resources/Resources.h"
#include "resources/Version.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/AnimationControl.h"
#include "ui/qt/ArchiverDlg.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/HelpWindow.h"
#include "ui/qt/ProgressControl.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <thread>

using namespace kelvane;
using namespace kelvane::ui::qt;

namespace {

// What a screen reader hears as the control's name.
QString SpokenName(QWidget *w)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
    return face != nullptr ? face->text(QAccessible::Name) : QString();
}

QString Utf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A control as the design draws it: id (-1 for a label), the widget class it shows as,
// caption, and place in dialog units.
struct Drawn
{
    int id;
    const char *kind;
    const char *text;
    int x, y, cx, cy;
};

// The main dialog's controls in template order, which is also the tab order.
const Drawn kMainDialog[] = {
    {-1, "QLabel", "文件名:", 4, 6, 32, 8},
    {-1, "QLabel", "源文件:", 4, 25, 45, 8},
    {1000, "QLineEdit", "", 50, 23, 229, 14},
    {1001, "QPushButton", "...", 287, 23, 29, 14},
    {1002, "QLineEdit", "", 50, 3, 98, 14},
    {-1, "QLabel", "目标文件夹：", 4, 44, 43, 8},
    {1004, "QLineEdit", "", 50, 41, 229, 14},
    {1005, "QPushButton", "...", 287, 41, 29, 14},
    {1008, "QCheckBox", "保持个人档案", 146, 59, 78, 10},
    {1010, "QPushButton", "开始", 243, 70, 73, 38},
    {1012, "kelvane::ui::qt::AnimationControl", "", 4, 81, 36, 27},
    {1013, "QCheckBox", "创建目标文件夹", 50, 59, 87, 10},
    {1014, "QProgressBar", "", 50, 98, 183, 10},
    {1015, "QPushButton", "保存设置", 154, 3, 50, 14},
    {1016, "QCheckBox", "使用时间", 50, 72, 65, 10},
    {1017, "QCheckBox", "跳过冲突", 50, 85, 74, 10},
    {1018, "QCheckBox", "在压缩存储路径", 146, 73, 67, 10},
};

const Drawn kAboutBox[] = {
    {-1, "QLabel", "", 11, 17, 21, 20},
    {-1, "QLabel", "Kelvane Version " KELVANE_VERSION, 40, 10, 119, 8},
    {1, "QPushButton", "OK", 178, 7, 50, 14},
};

// Dialog units to pixels by the classic rule, worked out here apart from the code's: x
// times the base width over 4, y times the base height over 8, halves rounded up.
int Pixels(int units, int base, int per)
{
    return (2 * units * base + per) / (2 * per);
}

QString Caption(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return QString();
}

// Every control stands where its dialog units put it, with its id and caption, in a
// window of the given size in dialog units.
template<std::size_t N>
void ExpectDrawnAsDesigned(QDialog &dialog, const BuiltDialog &built, int cx, int cy,
                           const Drawn (&design)[N])
{
    const int bx = built.units.baseX;
    const int by = built.units.baseY;
    EXPECT_GT(bx, 0);
    EXPECT_GT(by, 0);
    EXPECT_EQ(dialog.size(), QSize(Pixels(cx, bx, 4), Pixels(cy, by, 8)));
    ASSERT_EQ(built.controls.size(), N);
    for (std::size_t i = 0; i < N; ++i) {
        const Drawn &d = design[i];
        QWidget *w = built.controls[i].widget;
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(d.id));
        EXPECT_EQ(w->geometry(),
                  QRect(Pixels(d.x, bx, 4), Pixels(d.y, by, 8), Pixels(d.cx, bx, 4),
                        Pixels(d.cy, by, 8)));
        EXPECT_TRUE(w->inherits(d.kind)) << w->metaObject()->className() << ", not " << d.kind;
        EXPECT_EQ(Caption(w), QString::fromUtf8(d.text));
        if (d.id != -1) {
            EXPECT_EQ(built.Control(d.id), w);
        }
    }
}

// Checks kind, caption and tab order of every control against the template.
void ExpectBuiltAsTemplate(QDialog &dialog, const BuiltDialog &built,
                           const res::DialogTemplate &tpl)
{
    ASSERT_EQ(built.controls.size(), tpl.controls.size());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "the window has a fixed size";
    EXPECT_EQ(dialog.windowTitle(), Utf8(tpl.caption));

    std::vector<QWidget *> tabStops;
    for (std::size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate &c = tpl.controls[i];
        QWidget *w = built.controls[i].widget;
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
        EXPECT_FALSE(SpokenName(w).isEmpty());
        switch (c.kind) {
        case res::ControlKind::Static:
            ASSERT_NE(qobject_cast<QLabel *>(w), nullptr);
            EXPECT_EQ(qobject_cast<QLabel *>(w)->text(), Utf8(c.text));
            break;
        case res::ControlKind::PushButton: {
            auto *b = qobject_cast<QPushButton *>(w);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->text(), Utf8(c.text));
            EXPECT_FALSE(b->autoDefault());
            EXPECT_EQ(b->isDefault(), (c.style & 0xF) == res::style::BS_DEFPUSHBUTTON);
            break;
        }
        case res::ControlKind::CheckBox:
            ASSERT_NE(qobject_cast<QCheckBox *>(w), nullptr);
            EXPECT_EQ(qobject_cast<QCheckBox *>(w)->text(), Utf8(c.text));
            break;
        case res::ControlKind::Edit:
            EXPECT_NE(qobject_cast<QLineEdit *>(w), nullptr);
            break;
        case res::ControlKind::Animation:
            EXPECT_NE(qobject_cast<AnimationControl *>(w), nullptr);
            break;
        case res::ControlKind::Progress:
            ASSERT_NE(qobject_cast<QProgressBar *>(w), nullptr);
            EXPECT_FALSE(qobject_cast<QProgressBar *>(w)->isTextVisible());
            break;
        case res::ControlKind::Icon:
            ASSERT_NE(qobject_cast<QLabel *>(w), nullptr);
            EXPECT_FALSE(qobject_cast<QLabel *>(w)->pixmap().isNull());
            break;
        }
        if ((c.style & res::style::WS_TABSTOP) != 0) {
            EXPECT_NE(w->focusPolicy() & Qt::TabFocus, 0);
            tabStops.push_back(w);
        } else {
            EXPECT_EQ(w->focusPolicy() & Qt::TabFocus, 0);
        }
    }
    // Following the focus chain from the first tab stop meets the others in template order.
    if (!tabStops.empty()) {
        std::vector<QWidget *> chain {tabStops.front()};
        for (QWidget *w = tabStops.front()->nextInFocusChain();
             w != tabStops.front() && chain.size() < tabStops.size(); w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->parentWidget() == &dialog) {
                chain.push_back(w);
            }
        }
        EXPECT_EQ(chain, tabStops);
    }
    // Nothing overlaps.
    for (std::size_t i = 0; i < built.controls.size(); ++i) {
        for (std::size_t j = i + 1; j < built.controls.size(); ++j) {
            EXPECT_FALSE(built.controls[i].widget->geometry().intersects(
                built.controls[j].widget->geometry()))
                << "controls " << i << " and " << j << " overlap";
        }
        EXPECT_TRUE(
            QRect(QPoint(0, 0), dialog.size()).contains(built.controls[i].widget->geometry()))
            << "control " << i << " lies outside the window";
    }
}

} // namespace

TEST(DialogUnitsTest, ConvertsWithTheFontsBaseUnitsAndRounds)
{
    const DialogUnits u {6, 13};
    EXPECT_EQ(u.ToPixelsX(320), 480);
    EXPECT_EQ(u.ToPixelsY(112), 182);
    EXPECT_EQ(u.ToPixelsY(27), 44); // 43.875
    EXPECT_EQ(u.ToPixelsY(4), 7); // 6.5 rounds up
    EXPECT_EQ(u.ToPixelsX(1), 2); // 1.5 rounds up
    EXPECT_EQ(u.ToPixels(4, 81, 36, 27), QRect(6, 132, 54, 44));
}

TEST(DialogUnitsTest, AverageWidthIsTheLatinLettersOverFiftyTwo)
{
    const QFont font = DialogFont(res::MainDialogTemplate());
    const DialogUnits u = UnitsOf(font);
    const QFontMetrics m(font);
    const double exact = m.horizontalAdvance(
                             QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))
        / 52.0;
    EXPECT_LE(std::abs(u.baseX - exact), 0.5);
    EXPECT_EQ(u.baseY, m.height());
    EXPECT_EQ(font.pointSize(), 8);
}

TEST(MainDialogLayoutTest, ControlsCaptionsPlacesAndTabOrderFollowTheTemplate)
{
    CArchiverDlg dlg;
    ExpectBuiltAsTemplate(dlg, dlg.Built(), res::MainDialogTemplate());
    ExpectDrawnAsDesigned(dlg, dlg.Built(), 320, 112, kMainDialog);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Kelvane " KELVANE_VERSION));
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST(MainDialogLayoutTest, EveryControlHasASpokenName)
{
    CArchiverDlg dlg;
    EXPECT_EQ(dlg.Control(res::IDC_FILE_MASK)->accessibleName(), QString::fromUtf8("文件名"));
    EXPECT_EQ(dlg.Control(res::IDC_SOURCE_FOLDER)->accessibleName(), QString::fromUtf8("源文件"));
    EXPECT_EQ(dlg.Control(res::IDC_TARGET_FOLDER)->accessibleName(),
              QString::fromUtf8("目标文件夹"));
    EXPECT_EQ(dlg.Control(res::IDC_ANIMATION)->accessibleName(),
              QStringLiteral("Activity animation"));
    EXPECT_EQ(dlg.Control(res::IDC_PROGRESS)->accessibleName(), QStringLiteral("Progress"));
    // The start button's name follows its caption through a run; "&" is no part of it.
    QWidget *start = dlg.Control(res::IDC_START);
    EXPECT_EQ(SpokenName(start), QString::fromUtf8("开始"));
    for (const char *caption : {"STOP", "Stopping....", "&START"}) {
        dlg.SetStartCaption(caption);
        EXPECT_EQ(SpokenName(start), QString::fromLatin1(caption).remove(QLatin1Char('&')));
    }
    EXPECT_EQ(SpokenName(dlg.Control(res::IDC_SKIP_CONFLICTS)), QString::fromUtf8("跳过冲突"));
    EXPECT_NE(dlg.Control(res::IDC_BROWSE_SOURCE)->accessibleDescription(),
              dlg.Control(res::IDC_BROWSE_TARGET)->accessibleDescription());
    EXPECT_EQ(AccessibleCaption(QStringLiteral("&About Kelvane...")),
              QStringLiteral("About Kelvane..."));
}

TEST(AboutBoxTest, BuiltFromItsTemplateAndEndsOnEnter)
{
    CAboutDlg about;
    ExpectBuiltAsTemplate(about, about.Built(), res::AboutBoxTemplate());
    ExpectDrawnAsDesigned(about, about.Built(), 235, 55, kAboutBox);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Kelvane"));
    auto *ok = qobject_cast<QPushButton *>(about.Control(res::IDOK));
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    about.show();
    QTest::keyClick(&about, Qt::Key_Return);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(ProgressControlTest, BehavesAsTheClassicBar)
{
    QProgressBar bar;
    ProgressControl p;
    p.Attach(&bar);
    EXPECT_EQ(p.GetPos(), 0);
    EXPECT_EQ(p.Lower(), 0);
    EXPECT_EQ(p.Upper(), 100);

    p.SetRange(0, 3);
    p.SetStep(1);
    p.StepIt();
    p.StepIt();
    EXPECT_EQ(p.GetPos(), 2);
    EXPECT_EQ(bar.value(), 2);
    EXPECT_EQ(bar.maximum(), 3);
    p.StepIt();
    EXPECT_EQ(p.GetPos(), 3);
    p.StepIt(); // passing the upper bound starts over
    EXPECT_EQ(p.GetPos(), 0);

    p.SetPos(7); // clamped to the range
    EXPECT_EQ(p.GetPos(), 3);
    p.SetPos(-4);
    EXPECT_EQ(p.GetPos(), 0);

    p.SetRange(0, 70000); // a count beyond 16 bits keeps its full width
    EXPECT_EQ(p.Upper(), 70000);
    EXPECT_EQ(bar.maximum(), 70000);

    p.SetRange(0, 0); // an empty range shows an empty bar, not a busy indicator
    EXPECT_LT(bar.minimum(), bar.maximum());
    EXPECT_EQ(bar.value(), bar.minimum());
}

TEST(ProgressControlTest, CallsFromAnotherThreadTakeEffectAtOnceAndTheBarFollowsOnTheGuiThread)
{
    QProgressBar bar;
    ProgressControl p;
    p.Attach(&bar);
    std::vector<int> seen;
    QObject::connect(&bar, &QProgressBar::valueChanged, [&](int v) {
        EXPECT_EQ(QThread::currentThread(), bar.thread());
        seen.push_back(v);
    });
    std::atomic<bool> done {false};
    int posSeenByWorker = -1;
    std::thread worker([&] {
        p.SetRange(0, 10);
        p.SetStep(2);
        p.StepIt();
        p.StepIt();
        posSeenByWorker = p.GetPos();
        p.SetPos(posSeenByWorker - 1);
        done = true;
    });
    ASSERT_TRUE(test::WaitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(posSeenByWorker, 4);
    // The bar catches up with the last state; the steps in between may share a repaint.
    ASSERT_TRUE(test::WaitFor([&] { return bar.value() == 3; }));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 3);
    EXPECT_EQ(bar.maximum(), 10);
}

TEST(HelpWindowTest, ShowsTheShippedHelpText)
{
    HelpWindow help;
    const std::string_view text = res::HelpText();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(help.Text(), QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}
