#include "resources/Resources.h"
#include "resources/Version.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace kelvane::res;
using namespace kelvane::res::style;
using kelvane::test::IsValidUtf8;

// Bits of the low word that select a button's or static's type.
constexpr std::uint32_t kTypeMask = 0xF;

TEST(MainDialogTemplate, DialogFrameCaptionAndFont)
{
    const DialogTemplate &d = MainDialogTemplate();
    EXPECT_EQ(d.id, IDD_MAIN_DIALOG);
    EXPECT_EQ(d.caption, "Kelvane " KELVANE_VERSION);
    EXPECT_EQ(d.style,
              WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME
                  | DS_SETFONT);
    EXPECT_EQ(d.exStyle, WS_EX_APPWINDOW);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
}

TEST(MainDialogTemplate, StylesByKind)
{
    for (const ControlTemplate &c : MainDialogTemplate().controls) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(c.style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
        EXPECT_EQ(c.resourceId, 0);
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
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
    ASSERT_EQ(d.controls.size(), 3u);

    const ControlTemplate &icon = d.controls[0];
    EXPECT_EQ(icon.id, IDC_STATIC);
    EXPECT_EQ(icon.kind, ControlKind::Icon);
    EXPECT_EQ(icon.resourceId, IDR_MAINFRAME);
    EXPECT_EQ(icon.style & kTypeMask, SS_ICON);

    const ControlTemplate &text = d.controls[1];
    EXPECT_EQ(text.kind, ControlKind::Static);
    EXPECT_EQ(text.style, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | WS_GROUP);

    const ControlTemplate &ok = d.controls[2];
    EXPECT_EQ(ok.kind, ControlKind::PushButton);
    EXPECT_EQ(ok.style, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP);
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

TEST(StringTable, CaptionsAndHelpAreUtf8)
{
    for (const DialogTemplate *d : {&MainDialogTemplate(), &AboutBoxTemplate()}) {
        EXPECT_TRUE(IsValidUtf8(d->caption));
        for (const ControlTemplate &c : d->controls)
            EXPECT_TRUE(IsValidUtf8(c.text)) << c.id;
    }
    EXPECT_TRUE(IsValidUtf8(std::string(HelpText())));
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
