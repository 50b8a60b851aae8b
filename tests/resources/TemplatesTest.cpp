#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace {

using namespace kelvane::res;
using namespace kelvane::res::style;

struct Expected
{
    int id;
    ControlKind kind;
    const char *text;
    int x, y, cx, cy;
};

// The main dialog as drawn: template order, which is also the tab order.
const Expected kMainControls[] = {
    {IDC_STATIC, ControlKind::Static, "文件名:", 4, 6, 32, 8},
    {IDC_STATIC, ControlKind::Static, "源文件:", 4, 25, 45, 8},
    {1000, ControlKind::Edit, "", 50, 23, 229, 14},
    {1001, ControlKind::PushButton, "...", 287, 23, 29, 14},
    {1002, ControlKind::Edit, "", 50, 3, 98, 14},
    {IDC_STATIC, ControlKind::Static, "目标文件夹：", 4, 44, 43, 8},
    {1004, ControlKind::Edit, "", 50, 41, 229, 14},
    {1005, ControlKind::PushButton, "...", 287, 41, 29, 14},
    {1008, ControlKind::CheckBox, "保持个人档案", 146, 59, 78, 10},
    {1010, ControlKind::PushButton, "开始", 243, 70, 73, 38},
    {1012, ControlKind::Animation, "Animate1", 4, 81, 36, 27},
    {1013, ControlKind::CheckBox, "创建目标文件夹", 50, 59, 87, 10},
    {1014, ControlKind::Progress, "Progress1", 50, 98, 183, 10},
    {1015, ControlKind::PushButton, "保存设置", 154, 3, 50, 14},
    {1016, ControlKind::CheckBox, "使用时间", 50, 72, 65, 10},
    {1017, ControlKind::CheckBox, "跳过冲突", 50, 85, 74, 10},
    {1018, ControlKind::CheckBox, "在压缩存储路径", 146, 73, 67, 10},
};

// Bits of the low word that select a button's or static's type.
constexpr std::uint32_t kTypeMask = 0xF;

TEST(MainDialogTemplate, HasTheSeventeenControlsInTemplateOrder)
{
    const DialogTemplate &d = MainDialogTemplate();
    ASSERT_EQ(d.controls.size(), std::size(kMainControls));
    for (std::size_t i = 0; i < d.controls.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        const ControlTemplate &c = d.controls[i];
        const Expected &e = kMainControls[i];
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.kind, e.kind);
        EXPECT_EQ(c.text, e.text);
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.cx, e.cx);
        EXPECT_EQ(c.cy, e.cy);
        EXPECT_EQ(c.resourceId, 0);
        // Every control is a visible child and fits inside the dialog.
        EXPECT_EQ(c.style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
        EXPECT_LE(c.x + c.cx, d.cx);
        EXPECT_LE(c.y + c.cy, d.cy);
    }
}

TEST(MainDialogTemplate, DialogFrameCaptionAndFont)
{
    const DialogTemplate &d = MainDialogTemplate();
    EXPECT_EQ(d.id, IDD_MAIN_DIALOG);
    EXPECT_EQ(d.caption, "Kelvane 1.0");
    EXPECT_EQ(d.style,
              WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME
                  | DS_SETFONT);
    EXPECT_EQ(d.exStyle, WS_EX_APPWINDOW);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.cx, 320);
    EXPECT_EQ(d.cy, 112);
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
}

TEST(MainDialogTemplate, StylesByKind)
{
    for (const ControlTemplate &c : MainDialogTemplate().controls) {
        SCOPED_TRACE(c.id);
        const std::uint32_t own = c.style & ~(WS_CHILD | WS_VISIBLE);
        switch (c.kind) {
        case ControlKind::Static:
            EXPECT_EQ(own, SS_LEFT | WS_GROUP);
            break;
        case ControlKind::Edit:
            EXPECT_EQ(own, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL);
            break;
        case ControlKind::PushButton:
            // No default button: Enter in an edit must reach the dialog's own OK handling.
            EXPECT_EQ(own, WS_TABSTOP | BS_PUSHBUTTON);
            EXPECT_NE(c.style & kTypeMask, BS_DEFPUSHBUTTON);
            break;
        case ControlKind::CheckBox:
            EXPECT_EQ(own, WS_TABSTOP | BS_AUTOCHECKBOX);
            break;
        case ControlKind::Animation:
            // Plays only when told to, and is not centred.
            EXPECT_EQ(own, WS_TABSTOP | ACS_TRANSPARENT);
            break;
        case ControlKind::Progress:
            EXPECT_EQ(own, PBS_SMOOTH);
            break;
        case ControlKind::Icon:
            ADD_FAILURE() << "the main dialog has no icon control";
            break;
        }
    }
}

TEST(MainDialogTemplate, FirstTabStopIsTheSourceFolderAndIdsAreUnique)
{
    const DialogTemplate &d = MainDialogTemplate();
    int firstTabStop = 0;
    std::set<int> ids;
    for (const ControlTemplate &c : d.controls) {
        if (firstTabStop == 0 && (c.style & WS_TABSTOP))
            firstTabStop = c.id;
        if (c.id != IDC_STATIC) {
            EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        }
    }
    EXPECT_EQ(firstTabStop, IDC_SOURCE_FOLDER);
    EXPECT_EQ(ids.size(), 14u);
}

TEST(AboutBoxTemplate, IconTextAndDefaultOkButton)
{
    const DialogTemplate &d = AboutBoxTemplate();
    EXPECT_EQ(d.id, IDD_ABOUTBOX);
    EXPECT_EQ(d.caption, "About Kelvane");
    EXPECT_EQ(d.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    EXPECT_EQ(d.cx, 235);
    EXPECT_EQ(d.cy, 55);
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
    ASSERT_EQ(d.controls.size(), 3u);

    const ControlTemplate &icon = d.controls[0];
    EXPECT_EQ(icon.id, IDC_STATIC);
    EXPECT_EQ(icon.kind, ControlKind::Icon);
    EXPECT_EQ(icon.resourceId, IDR_MAINFRAME);
    EXPECT_EQ(icon.style & kTypeMask, SS_ICON);
    EXPECT_EQ((std::array<int, 4> {icon.x, icon.y, icon.cx, icon.cy}),
              (std::array<int, 4> {11, 17, 21, 20}));

    const ControlTemplate &text = d.controls[1];
    EXPECT_EQ(text.kind, ControlKind::Static);
    EXPECT_EQ(text.text, "Kelvane Version 1.0");
    EXPECT_EQ(text.style, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | WS_GROUP);
    EXPECT_EQ((std::array<int, 4> {text.x, text.y, text.cx, text.cy}),
              (std::array<int, 4> {40, 10, 119, 8}));

    const ControlTemplate &ok = d.controls[2];
    EXPECT_EQ(ok.id, IDOK);
    EXPECT_EQ(ok.kind, ControlKind::PushButton);
    EXPECT_EQ(ok.text, "OK");
    EXPECT_EQ(ok.style, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP);
    EXPECT_EQ((std::array<int, 4> {ok.x, ok.y, ok.cx, ok.cy}),
              (std::array<int, 4> {178, 7, 50, 14}));
    for (const ControlTemplate &c : d.controls) {
        EXPECT_LE(c.x + c.cx, d.cx);
        EXPECT_LE(c.y + c.cy, d.cy);
    }
}

TEST(FindDialogTemplate, ByIdOrNull)
{
    EXPECT_EQ(FindDialogTemplate(IDD_MAIN_DIALOG), &MainDialogTemplate());
    EXPECT_EQ(FindDialogTemplate(IDD_ABOUTBOX), &AboutBoxTemplate());
    for (int id : {0, -1, int {IDS_ABOUTBOX}, int {IDR_MAINFRAME}, 103, 99})
        EXPECT_EQ(FindDialogTemplate(id), nullptr) << id;
}

TEST(StringTable, AboutEntryAndUnknownIds)
{
    EXPECT_EQ(LoadString(IDS_ABOUTBOX), "&About Kelvane...");
    EXPECT_EQ(LoadString(101), LoadString(IDS_ABOUTBOX));
    for (int id : {0, -1, 100, 102, 128, 129, 0x10, 65535})
        EXPECT_EQ(LoadString(id), "") << id;
}

// True when the text is UTF-8: lead bytes with the right number of continuation bytes, and
// no overlong two-byte forms.
bool IsUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const int extra = c < 0x80 ? 0
            : (c >> 5) == 6        ? 1
            : (c >> 4) == 14       ? 2
            : (c >> 3) == 30       ? 3
                                   : -1;
        if (extra < 0 || (extra == 1 && c < 0xC2)
            || s.size() - i - 1 < static_cast<std::size_t>(extra))
            return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) >> 6) != 2)
                return false;
        i += 1 + static_cast<std::size_t>(extra);
    }
    return true;
}

TEST(StringTable, CaptionsAndHelpAreUtf8)
{
    for (const DialogTemplate *d : {&MainDialogTemplate(), &AboutBoxTemplate()}) {
        EXPECT_TRUE(IsUtf8(d->caption));
        for (const ControlTemplate &c : d->controls)
            EXPECT_TRUE(IsUtf8(c.text)) << c.id;
    }
    EXPECT_TRUE(IsUtf8(HelpText()));
    EXPECT_FALSE(IsUtf8("\xE5\xBC")); // cut in the middle of a character
    EXPECT_FALSE(IsUtf8("\xC0\xAF")); // overlong
}

TEST(HelpText, CoversTheSettingsFileSwitchesAndConflicts)
{
    const std::string_view help = HelpText();
    ASSERT_FALSE(help.empty());
    EXPECT_NE(help.find("kelvane.ini"), std::string_view::npos);
    EXPECT_NE(help.find("conflict"), std::string_view::npos);
    EXPECT_NE(help.find("STOP"), std::string_view::npos);
    // Each check box is explained under its caption.
    for (const ControlTemplate &c : MainDialogTemplate().controls)
        if (c.kind == ControlKind::CheckBox) {
            EXPECT_NE(help.find(c.text), std::string_view::npos) << c.text;
        }
}

} // namespace
