// The Windows window in process: the main dialog runs modally on the test's thread, as it
// does in the program, while a script on a second thread drives it with window messages
// (BM_CLICK, WM_SETTEXT, ...) and reads it back, as a user's clicks and eyes would.

// Before any Windows header: it names IDOK and the style bits, which those make macros.
#include "resources/Resources.h"
#include "resources/Version.h"

#include "io/Win32.h"
#include "settings/SettingsFile.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"
#include "ui/win32/ArchiverDlg.h"
#include "ui/win32/FolderBrowser.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvane::test {
namespace {

using ui::win32::CArchiverDlg;

// How long a script waits for something the dialog must do before it gives up: a guard
// against a hang, not a measure of speed.
constexpr DWORD kPatienceMs = 60000;

bool WaitUntil(const std::function<bool()> &pred)
{
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > kPatienceMs)
            return false;
        Sleep(10);
    }
    return true;
}

std::string Text(HWND window)
{
    wchar_t buffer[4096] = L"";
    GetWindowTextW(window, buffer, 4096);
    return io::Utf8(buffer);
}

std::string ClassOf(HWND window)
{
    wchar_t buffer[256] = L"";
    GetClassNameW(window, buffer, 256);
    std::string name = io::Utf8(buffer);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

HWND Item(HWND dialog, int id)
{
    return GetDlgItem(dialog, id);
}

void SetField(HWND dialog, int id, const std::string &text)
{
    SetWindowTextW(Item(dialog, id), io::Wide(text).c_str());
}

void SetCheck(HWND dialog, int id, bool on)
{
    SendMessageW(Item(dialog, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

// Every control of the settings set as a user would type and tick them.
void Show(HWND dialog, const JobSettings &s)
{
    SetField(dialog, res::IDC_FILE_MASK, s.fileMask);
    SetField(dialog, res::IDC_SOURCE_FOLDER, s.sourceFolder);
    SetField(dialog, res::IDC_TARGET_FOLDER, s.targetFolder);
    SetCheck(dialog, res::IDC_CREATE_SUB_FOLDER, s.createSubFolder != 0);
    SetCheck(dialog, res::IDC_KEEP_INDIVIDUAL, s.keepIndividual != 0);
    SetCheck(dialog, res::IDC_USE_TIMESTAMPS, s.useTimestamps != 0);
    SetCheck(dialog, res::IDC_SKIP_CONFLICTS, s.skipConflicts != 0);
    SetCheck(dialog, res::IDC_STORE_PATH_IN_ZIP, s.storePathInZip != 0);
}

// A click as the button itself makes it: sent, so the handler has run when this returns.
void Click(HWND dialog, int id)
{
    SendMessageW(Item(dialog, id), BM_CLICK, 0, 0);
}

// A click whose handler opens a window with a loop of its own: posted.
void PostClick(HWND dialog, int id)
{
    PostMessageW(Item(dialog, id), BM_CLICK, 0, 0);
}

// A dialog window (#32770) of the main dialog's thread that is not the main dialog and
// satisfies match; null when there is none.
HWND FindOtherDialog(HWND main, const std::function<bool(HWND)> &match)
{
    struct Search
    {
        HWND main;
        const std::function<bool(HWND)> *match;
        HWND found;
    } search {main, &match, nullptr};
    EnumThreadWindows(
        GetWindowThreadProcessId(main, nullptr),
        [](HWND window, LPARAM data) -> BOOL {
            auto *s = reinterpret_cast<Search *>(data);
            if (window != s->main && IsWindowVisible(window) && ClassOf(window) == "#32770"
                && (*s->match)(window)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForOtherDialog(HWND main, const std::function<bool(HWND)> &match)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindOtherDialog(main, match)) != nullptr; });
    return found;
}

bool OwnedBy(HWND window, HWND owner)
{
    return GetWindow(window, GW_OWNER) == owner;
}

// Idle after a run: the worker is gone and the button reads START again.
bool IdleAfterRun(CArchiverDlg &dialog, HWND main)
{
    return WaitUntil(
        [&] { return !dialog.Running() && Text(Item(main, res::IDC_START)) == "START"; });
}

// Runs the dialog modally on this thread and the script on another; the script's window is
// the main dialog. Whatever the script leaves open, the dialog is closed after it.
void RunModal(CArchiverDlg &dialog, const std::function<void(HWND)> &script)
{
    std::thread driver([&] {
        HWND main = nullptr;
        if (!WaitUntil([&] { return (main = dialog.Window()) != nullptr; })) {
            ADD_FAILURE() << "the main dialog never opened";
            return;
        }
        script(main);
        // Boxes a failed script left open first, or a worker waiting on one never ends.
        WaitUntil([&] {
            HWND left = FindOtherDialog(main, [](HWND) { return true; });
            if (left != nullptr)
                PostMessageW(left, WM_COMMAND, IDCANCEL, 0);
            return left == nullptr;
        });
        if (IsWindow(main))
            PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
    });
    dialog.DoModal();
    driver.join();
}

// A dialog whose run waits at its start (running already set) until the test opens the
// gate: what the test does meanwhile happens during a run, however fast the machine is.
class GatedDlg : public CArchiverDlg
{
public:
    void SetRunStamp(const std::string &stamp) override
    {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            opened_.wait(lock, [this] { return open_; });
        }
        CArchiverDlg::SetRunStamp(stamp);
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    // Opens the gate when a script ends, however it ends: a run left waiting would hang.
    struct OpenAtEnd
    {
        GatedDlg &dialog;
        ~OpenAtEnd() { dialog.Open(); }
    };

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// A folder to work in: the current directory (where kelvane.ini is read and written), with
// a source folder of the given files and an empty target.
struct Workspace
{
    TempDir dir;
    ScopedCurrentDir here {dir.path()};
    std::string source = dir / "src";
    std::string target = dir / "out";

    explicit Workspace(const std::vector<std::pair<std::string, std::string>> &files)
    {
        MakeDirs(source);
        MakeDirs(target);
        for (const auto &[name, data] : files)
            WriteFile(source + "\\" + name, data);
    }
    // The fields of a run over it: sub folder on, one archive per name, bare names.
    void Fill(HWND main) const { Show(main, {"*.*", source, target, 1, 1, 0, 0, 0}); }
};

const std::vector<std::pair<std::string, std::string>> kTakes = {
    {"take1.avi", "RIFF first take"},
    {"take1.txt", "notes on the first take"},
    {"take2.avi", "RIFF second take"},
};

TEST(Win32Window, ControlsComeFromTheTemplateWithTheirIdsCaptionsAndPlaces)
{
    struct Expected
    {
        int id;
        const char *cls;
        const char *caption; // null: not compared (the common controls show none)
        int x, y, cx, cy; // dialog units
    };
    // IDD_MAIN_DIALOG in template order, which is the order of the child windows.
    const Expected controls[] = {
        {-1, "static", "文件名:", 4, 6, 32, 8},
        {-1, "static", "源文件:", 4, 25, 45, 8},
        {1000, "edit", nullptr, 50, 23, 229, 14},
        {1001, "button", "...", 287, 23, 29, 14},
        {1002, "edit", nullptr, 50, 3, 98, 14},
        {-1, "static", "目标文件夹：", 4, 44, 43, 8},
        {1004, "edit", nullptr, 50, 41, 229, 14},
        {1005, "button", "...", 287, 41, 29, 14},
        {1008, "button", "保持个人档案", 146, 59, 78, 10},
        {1010, "button", "开始", 243, 70, 73, 38},
        {1012, "sysanimate32", nullptr, 4, 81, 36, 27},
        {1013, "button", "创建目标文件夹", 50, 59, 87, 10},
        {1014, "msctls_progress32", nullptr, 50, 98, 183, 10},
        {1015, "button", "保存设置", 154, 3, 50, 14},
        {1016, "button", "使用时间", 50, 72, 65, 10},
        {1017, "button", "跳过冲突", 50, 85, 74, 10},
        {1018, "button", "在压缩存储路径", 146, 73, 67, 10},
    };
    Workspace work({});
    CArchiverDlg dialog;
    RunModal(dialog, [&](HWND main) {
        EXPECT_EQ(Text(main), "Kelvane " KELVANE_VERSION);
        const LONG style = GetWindowLongW(main, GWL_STYLE);
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
        EXPECT_TRUE(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_APPWINDOW);
        RECT client;
        GetClientRect(main, &client);
        RECT size {0, 0, 320, 112};
        MapDialogRect(main, &size);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);
        // Opened centred on the screen's work area.
        RECT area;
        RECT frame;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        GetWindowRect(main, &frame);
        EXPECT_LE(std::abs((frame.left - area.left) - (area.right - frame.right)), 1);
        EXPECT_LE(std::abs((frame.top - area.top) - (area.bottom - frame.bottom)), 1);

        HWND child = GetWindow(main, GW_CHILD);
        for (const Expected &want : controls) {
            SCOPED_TRACE(std::string("control ") + std::to_string(want.id) + " " + want.cls);
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(GetDlgCtrlID(child), want.id);
            EXPECT_EQ(ClassOf(child), want.cls);
            if (want.caption != nullptr) {
                EXPECT_EQ(Text(child), want.caption);
            }
            RECT placed;
            GetWindowRect(child, &placed);
            MapWindowPoints(nullptr, main, reinterpret_cast<POINT *>(&placed), 2);
            // The system converts the place and the size of a control each on its own.
            RECT at {want.x, want.y, want.cx, want.cy};
            MapDialogRect(main, &at);
            EXPECT_EQ(placed.left, at.left);
            EXPECT_EQ(placed.top, at.top);
            EXPECT_EQ(placed.right - placed.left, at.right);
            EXPECT_EQ(placed.bottom - placed.top, at.bottom);
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "more controls than the template has";

        // No settings file: the defaults; the focus in the source-folder edit.
        EXPECT_EQ(Text(Item(main, 1002)), "*.*");
        EXPECT_EQ(Text(Item(main, 1000)), "D:\\Orvel\\AVIs");
        EXPECT_EQ(Text(Item(main, 1004)), "D:\\Orvel\\AVIs\\Archive");
        GUITHREADINFO gui {};
        gui.cbSize = sizeof gui;
        GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui);
        EXPECT_EQ(gui.hwndFocus, Item(main, 1000));
        // Both icons, from the program's resources.
        EXPECT_NE(SendMessageW(main, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(SendMessageW(main, WM_GETICON, ICON_SMALL, 0), 0);
    });
}

TEST(Win32Window, SystemMenuEndsWithAboutWhichOpensTheAboutBoxOverTheDialog)
{
    Workspace work({});
    CArchiverDlg dialog;
    RunModal(dialog, [&](HWND main) {
        HMENU menu = GetSystemMenu(main, FALSE);
        ASSERT_NE(menu, nullptr);
        const int last = GetMenuItemCount(menu) - 1;
        ASSERT_GE(last, 1);
        wchar_t item[64] = L"";
        GetMenuStringW(menu, static_cast<UINT>(last), item, 64, MF_BYPOSITION);
        EXPECT_EQ(io::Utf8(item), "&About Kelvane...");
        EXPECT_EQ(GetMenuItemID(menu, last), 0x0010u);
        EXPECT_TRUE(GetMenuState(menu, static_cast<UINT>(last - 1), MF_BYPOSITION) & MF_SEPARATOR);

        // Any command of 0x0010 to 0x001F opens it, modal over the dialog, each time anew.
        for (const WPARAM command : {0x0010, 0x001F}) {
            PostMessageW(main, WM_SYSCOMMAND, command, 0);
            HWND about = WaitForOtherDialog(main, [&](HWND w) { return OwnedBy(w, main); });
            ASSERT_NE(about, nullptr);
            EXPECT_EQ(Text(about), "About Kelvane");
            EXPECT_EQ(Text(Item(about, IDOK)), "OK");
            EXPECT_FALSE(IsWindowEnabled(main));
            PostMessageW(about, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about) && IsWindowEnabled(main); }));
        }
    });
}

TEST(Win32Window, F1ShowsTheShippedHelpTextOverTheWindowThatHasTheFocus)
{
    Workspace work({});
    CArchiverDlg dialog;
    RunModal(dialog, [&](HWND main) {
        // F1 from the keyboard, to the dialog in front with the focus in its source edit.
        SetForegroundWindow(main);
        INPUT keys[2] {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_F1;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, keys, sizeof(INPUT));
        HWND help = WaitForOtherDialog(main, [&](HWND w) { return OwnedBy(w, main); });
        ASSERT_NE(help, nullptr);
        EXPECT_EQ(Text(help), "Kelvane Help");
        EXPECT_EQ(Text(Item(help, 0xFFFF)), ReadFile(KELVANE_HELP_TEXT));
        PostMessageW(help, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(help); }));
    });
}

TEST(Win32Window, StartClickedWritesTheArchivesOfTheFields)
{
    Workspace work(kTakes);
    WriteFile(work.source + "\\old.zip", "PK\x05\x06" + std::string(18, '\0'));
    CArchiverDlg dialog;
    RunModal(dialog, [&](HWND main) {
        work.Fill(main);
        Click(main, res::IDC_START);
        EXPECT_TRUE(IdleAfterRun(dialog, main));
    });
    const std::string out = work.target + "\\src";
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"old.zip", "take1.zip", "take2.zip"}));
    EXPECT_EQ(ReadFile(out + "\\old.zip"), ReadFile(work.source + "\\old.zip"));
    ExpectReadersAgree(out + "\\take1.zip", {kTakes[0], kTakes[1]});
    ExpectReadersAgree(out + "\\take2.zip", {kTakes[2]});
}

TEST(Win32Window, RunMessageIsOwnedByTheDialogWithCaptionTextAndOk)
{
    Workspace work(kTakes);
    // take1.zip is already in the target: take1's files are conflicts.
    MakeDirs(work.target + "\\src");
    WriteFile(work.target + "\\src\\take1.zip", "earlier");
    CArchiverDlg dialog;
    RunModal(dialog, [&](HWND main) {
        work.Fill(main);
        Click(main, res::IDC_START);
        HWND box = WaitForOtherDialog(main, [&](HWND w) { return OwnedBy(w, main); });
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Text(box), "File name conflicts!");
        // The message box's text is its static control 0xFFFF.
        const std::string text = Text(Item(box, 0xFFFF));
        EXPECT_NE(text.find(" 2 files "), std::string::npos) << text;
        EXPECT_NE(text.find(work.target + "\\src\\conflict.zip"), std::string::npos) << text;
        EXPECT_NE(Item(box, IDOK), nullptr);
        EXPECT_EQ(Item(box, IDCANCEL), nullptr);
        // No icon: the box's icon control, where there is one, holds none.
        if (HWND icon = Item(box, 0x0440)) {
            EXPECT_EQ(SendMessageW(icon, STM_GETICON, 0, 0), 0);
        }
        EXPECT_TRUE(dialog.Running()); // the worker waits for the box
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(IdleAfterRun(dialog, main));
    });
    EXPECT_EQ(ReadFile(work.target + "\\src\\take1.zip"), "earlier");
}

TEST(Win32Window, CloseDuringARunStopsItAndWaitsForIt)
{
    Workspace work(kTakes);
    GatedDlg dialog;
    bool stillOpenWhileRunning = false;
    RunModal(dialog, [&](HWND main) {
        GatedDlg::OpenAtEnd gate {dialog};
        work.Fill(main);
        Click(main, res::IDC_START);
        ASSERT_TRUE(WaitUntil([&] { return dialog.Running().load(); }));
        // The close box's way: WM_CLOSE, which the dialog turns into a posted Cancel.
        SendMessageW(main, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return dialog.StopRequested().load(); }));
        stillOpenWhileRunning = IsWindow(main) && IsWindowVisible(main);
        EXPECT_EQ(Text(Item(main, res::IDC_START)), "Stopping....");
        dialog.Open();
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(main); }));
    });
    EXPECT_TRUE(stillOpenWhileRunning);
    EXPECT_FALSE(dialog.Running());
    EXPECT_FALSE(dialog.WorkerActive());
}

TEST(Win32Window, BrowserStartsAtTheFieldShowsItsPathAndLeavesTheDialogLive)
{
    Workspace work({});
    // Folders of the Wine prefix itself: Wine's browser does not walk into the user's
    // profile, and now and then missed a folder made just before it opened.
    const std::string initial = "C:\\windows\\system32";
    const std::string other = "C:\\windows";
    CArchiverDlg dialog;
    RunModal(dialog, [&](HWND main) {
        SetField(main, res::IDC_SOURCE_FOLDER, initial);
        PostClick(main, res::IDC_BROWSE_SOURCE);
        // Owned by nobody: the main dialog stays enabled.
        HWND browser
            = WaitForOtherDialog(main, [](HWND w) { return GetWindow(w, GW_OWNER) == nullptr; });
        ASSERT_NE(browser, nullptr);
        EXPECT_TRUE(IsWindowEnabled(main));
        // The tree has the folder selected, and the status line shows its path.
        HWND tree = FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
        ASSERT_NE(tree, nullptr);
        auto selectedName = [&] {
            wchar_t name[MAX_PATH] = L"";
            TVITEMW item {};
            item.mask = TVIF_TEXT;
            item.hItem
                = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
            item.pszText = name;
            item.cchTextMax = MAX_PATH;
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            return io::Utf8(name);
        };
        auto statusShows = [&](const std::string &text) {
            for (HWND c = GetWindow(browser, GW_CHILD); c != nullptr;
                 c = GetWindow(c, GW_HWNDNEXT)) {
                if (ClassOf(c) == "static" && Text(c) == text)
                    return true;
            }
            return false;
        };
        EXPECT_TRUE(WaitUntil([&] { return selectedName() == "system32" && statusShows(initial); }))
            << "selected: " << selectedName();
        // Another folder highlighted: the status line follows; OK takes it into the field.
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE,
                     reinterpret_cast<LPARAM>(io::Wide(other).c_str()));
        EXPECT_TRUE(WaitUntil([&] { return selectedName() == "windows" && statusShows(other); }))
            << "selected: " << selectedName();
        PostMessageW(browser, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(browser); }));
        SendMessageW(main, WM_NULL, 0, 0);
        EXPECT_EQ(Text(Item(main, res::IDC_SOURCE_FOLDER)), other);
    });
}

TEST(Win32FolderBrowser, ReadsTheWholePathOfAFolderAndNoneOfAVirtualOne)
{
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300)
        deep += "\\level-" + std::string(40, 'd');
    MakeDirs(deep);
    auto pathOf = [](const std::string &path) {
        PIDLIST_ABSOLUTE item = ILCreateFromPathW(io::Wide(path).c_str());
        const std::string read = item ? io::Utf8(ui::win32::FileSystemPath(item)) : "(no item)";
        ILFree(item);
        return read;
    };
    EXPECT_EQ(pathOf(dir.path()), dir.path());
    PIDLIST_ABSOLUTE computer = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer), S_OK);
    EXPECT_EQ(ui::win32::FileSystemPath(computer), L"");
    ILFree(computer);

    const std::string read = pathOf(deep);
    for (std::string level = deep; level.size() > dir.path().size();
         level.resize(level.rfind('\\')))
        RemoveDirectoryW(io::WidePath(level).c_str()); // deeper than the folder's cleanup reaches
    // Wine's shell (8.0) names no folder past MAX_PATH at all: there, only Windows shows this.
    if (read == "(no item)")
        GTEST_SKIP() << "this system's shell makes no item for a path of " << deep.size();
    EXPECT_EQ(read, deep);
}

TEST(Win32Window, SaveWritesWhatTheControlsHold)
{
    Workspace work({});
    // Every value off its default: a control the save does not read would show.
    const JobSettings typed {"take?.*", "E:\\takes", "F:\\archive", 0, 0, 1, 1, 0};
    CArchiverDlg dialog;
    RunModal(dialog, [&](HWND main) {
        Show(main, typed);
        Click(main, res::IDC_SAVE_SETTINGS);
    });
    EXPECT_EQ(ReadFile(kSettingsFileName), FormatSettings(typed));
}

} // namespace
} // namespace kelvane::test

int main(int argc, char **argv)
{
    // As the program does: the two common controls, and an apartment for the shell.
    INITCOMMONCONTROLSEX classes {sizeof(INITCOMMONCONTROLSEX),
                                  ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
