#include "resources/Resources.h"

#include "resources/Version.h"

#include <utility>

namespace kelvane::res {

namespace {

using namespace style;

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t kLabel = kChild | SS_LEFT | WS_GROUP;
constexpr std::uint32_t kEdit = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr std::uint32_t kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr std::uint32_t kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;

// A dialog at the origin in the font both templates were drawn with, without controls yet.
DialogTemplate Dialog(int id, std::string caption, std::uint32_t style, std::uint32_t exStyle,
                      int cx, int cy)
{
    return {id, std::move(caption), style, exStyle, 0, 0, cx, cy, "MS Sans Serif", 8, {}};
}

DialogTemplate MakeMainDialog()
{
    DialogTemplate d = Dialog(IDD_MAIN_DIALOG, "Kelvane " KELVANE_VERSION,
                              WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
                                  | DS_MODALFRAME | DS_SETFONT,
                              WS_EX_APPWINDOW, 320, 112);
    // Template order is the tab order; the captions are the ones the dialog was drawn with.
    d.controls = {
        {IDC_STATIC, ControlKind::Static, kLabel, "文件名:", 4, 6, 32, 8},
        {IDC_STATIC, ControlKind::Static, kLabel, "源文件:", 4, 25, 45, 8},
        {IDC_SOURCE_FOLDER, ControlKind::Edit, kEdit, "", 50, 23, 229, 14},
        {IDC_BROWSE_SOURCE, ControlKind::PushButton, kButton, "...", 287, 23, 29, 14},
        {IDC_FILE_MASK, ControlKind::Edit, kEdit, "", 50, 3, 98, 14},
        {IDC_STATIC, ControlKind::Static, kLabel, "目标文件夹：", 4, 44, 43, 8},
        {IDC_TARGET_FOLDER, ControlKind::Edit, kEdit, "", 50, 41, 229, 14},
        {IDC_BROWSE_TARGET, ControlKind::PushButton, kButton, "...", 287, 41, 29, 14},
        {IDC_KEEP_INDIVIDUAL, ControlKind::CheckBox, kCheck, "保持个人档案", 146, 59, 78, 10},
        {IDC_START, ControlKind::PushButton, kButton, "开始", 243, 70, 73, 38},
        {IDC_ANIMATION, ControlKind::Animation, kChild | WS_TABSTOP | ACS_TRANSPARENT, "Animate1",
         4, 81, 36, 27},
        {IDC_CREATE_SUB_FOLDER, ControlKind::CheckBox, kCheck, "创建目标文件夹", 50, 59, 87, 10},
        {IDC_PROGRESS, ControlKind::Progress, kChild | PBS_SMOOTH, "Progress1", 50, 98, 183, 10},
        {IDC_SAVE_SETTINGS, ControlKind::PushButton, kButton, "保存设置", 154, 3, 50, 14},
        {IDC_USE_TIMESTAMPS, ControlKind::CheckBox, kCheck, "使用时间", 50, 72, 65, 10},
        {IDC_SKIP_CONFLICTS, ControlKind::CheckBox, kCheck, "跳过冲突", 50, 85, 74, 10},
        {IDC_STORE_PATH_IN_ZIP, ControlKind::CheckBox, kCheck, "在压缩存储路径", 146, 73, 67, 10},
    };
    return d;
}

DialogTemplate MakeAboutBox()
{
    DialogTemplate d
        = Dialog(IDD_ABOUTBOX, "About Kelvane",
                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, 235, 55);
    d.controls = {
        {IDC_STATIC, ControlKind::Icon, kChild | SS_ICON, "", 11, 17, 21, 20, IDR_MAINFRAME},
        {IDC_STATIC, ControlKind::Static, kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP,
         "Kelvane Version " KELVANE_VERSION, 40, 10, 119, 8},
        {IDOK, ControlKind::PushButton, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, "OK",
         178, 7, 50, 14},
    };
    return d;
}

} // namespace

const DialogTemplate &MainDialogTemplate()
{
    static const DialogTemplate d = MakeMainDialog();
    return d;
}

const DialogTemplate &AboutBoxTemplate()
{
    static const DialogTemplate d = MakeAboutBox();
    return d;
}

const DialogTemplate *FindDialogTemplate(int id)
{
    if (id == IDD_MAIN_DIALOG)
        return &MainDialogTemplate();
    if (id == IDD_ABOUTBOX)
        return &AboutBoxTemplate();
    return nullptr;
}

std::string LoadString(int id)
{
    switch (id) {
    case IDS_ABOUTBOX:
        return "&About Kelvane...";
    default:
        return std::string();
    }
}

} // namespace kelvane::res
