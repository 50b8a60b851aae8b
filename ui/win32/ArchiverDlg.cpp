// Before any Windows header: it names IDOK and the style bits, which those make macros.
#include "resources/Resources.h"

#include "ui/win32/ArchiverDlg.h"

#include "io/Win32.h"
#include "ui/win32/FolderBrowser.h"

#include <commctrl.h>

#include <algorithm>

namespace kelvane::ui::win32 {

namespace {

// The worker's window operations reach the dialog's thread as this message, sent (not
// posted), so the worker waits until the call has been made: lParam is the call.
constexpr UINT WM_KELVANE_CALL = WM_APP + 1;
// Posted by the worker as its very last step.
constexpr UINT WM_KELVANE_WORKER_ENDED = WM_APP + 2;

HINSTANCE Module()
{
    return GetModuleHandleW(nullptr);
}

std::wstring WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_HELP:
        ShowHelp(window);
        return TRUE;
    default:
        return FALSE;
    }
}

// The dialog's controls in the data exchange.
class Win32ExchangeControls : public SettingsExchange::Controls
{
public:
    explicit Win32ExchangeControls(HWND dialog) : dialog_(dialog) { }

    void SetText(int id, const std::string &text) override
    {
        SetDlgItemTextW(dialog_, id, io::Wide(text).c_str());
    }
    bool ShowsText(int id, const std::string &shown) override
    {
        return WindowText(GetDlgItem(dialog_, id)) == io::Wide(shown);
    }
    std::string Text(int id) override { return io::Utf8(WindowText(GetDlgItem(dialog_, id))); }
    void SetChecked(int id, bool checked) override
    {
        CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    bool Checked(int id) override { return IsDlgButtonChecked(dialog_, id) == BST_CHECKED; }

private:
    HWND dialog_;
};

} // namespace

void BarProgress::SetRange(int lower, int upper)
{
    // The 32-bit form: a folder may hold more files than a 16-bit bound counts.
    SendMessageW(bar_, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

void BarProgress::SetStep(int step)
{
    SendMessageW(bar_, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void BarProgress::StepIt()
{
    SendMessageW(bar_, PBM_STEPIT, 0, 0);
}

int BarProgress::GetPos()
{
    return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0));
}

void BarProgress::SetPos(int pos)
{
    SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void ShowHelp(HWND owner)
{
    // The help text is UTF-8 in the resources; the old help engine is gone from Windows.
    std::string text;
    if (HRSRC found = FindResourceA(Module(), res::kHelpTextResource, MAKEINTRESOURCEA(10))) {
        if (HGLOBAL loaded = LoadResource(Module(), found)) {
            text.assign(static_cast<const char *>(LockResource(loaded)),
                        SizeofResource(Module(), found));
        }
    }
    MessageBoxW(owner, io::Wide(text).c_str(), L"Kelvane Help", MB_OK);
}

void ShowAboutBox(HWND owner)
{
    DialogBoxParamW(Module(), MAKEINTRESOURCEW(res::IDD_ABOUTBOX), owner, AboutProc, 0);
}

CArchiverDlg::CArchiverDlg(HWND parent) : parent_(parent)
{
    appIcon = LoadIconW(Module(), MAKEINTRESOURCEW(res::IDR_MAINFRAME));
}

CArchiverDlg::~CArchiverDlg() = default;

INT_PTR CArchiverDlg::DoModal()
{
    return DialogBoxParamW(Module(), MAKEINTRESOURCEW(res::IDD_MAIN_DIALOG), parent_, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CArchiverDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto *self = reinterpret_cast<CArchiverDlg *>(lParam);
        self->hwnd_ = window;
        const BOOL result = self->OnInitDialog();
        // Other threads see the window once it is what the initialisation made it.
        self->window_ = window;
        return result;
    }
    auto *self = reinterpret_cast<CArchiverDlg *>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        self->window_ = nullptr;
        self->hwnd_ = nullptr;
    }
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR CArchiverDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam) ? TRUE : FALSE;
    case WM_PAINT:
        return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        // One of the messages whose result a dialog procedure returns directly.
        return reinterpret_cast<INT_PTR>(appIcon);
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            OnCommand(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_HELP:
        ShowHelp(hwnd_);
        return TRUE;
    case WM_KELVANE_CALL:
        (*reinterpret_cast<const std::function<void()> *>(lParam))();
        return TRUE;
    case WM_KELVANE_WORKER_ENDED:
        logic_.WorkerEnded();
        return TRUE;
    default:
        return FALSE;
    }
}

HWND CArchiverDlg::Item(int id) const
{
    return GetDlgItem(hwnd_, id);
}

BOOL CArchiverDlg::OnInitDialog()
{
    progressBar.Attach(Item(res::IDC_PROGRESS));
    animationCtrl = Item(res::IDC_ANIMATION);
    SettingsToControls();
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
        const wchar_t *about = nullptr;
        const int length
            = LoadStringW(Module(), res::IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&about), 0);
        if (length > 0 && about != nullptr) {
            const std::wstring text(about, static_cast<std::size_t>(length));
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, res::IDM_ABOUTBOX, text.c_str());
        }
    }
    // The template's place is 0, 0 with no centring style: the window opens centred on the
    // screen's work area, as the dialog framework places it.
    RECT area;
    RECT frame;
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) && GetWindowRect(hwnd_, &frame)) {
        const int w = frame.right - frame.left;
        const int h = frame.bottom - frame.top;
        SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - w) / 2,
                     area.top + (area.bottom - area.top - h) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
    logic_.OnInitDialog();
    // The system puts the focus on the first tab stop: the source-folder edit.
    return TRUE;
}

void CArchiverDlg::SettingsToControls()
{
    Win32ExchangeControls controls(hwnd_);
    exchange.ToControls(Settings(), controls);
}

void CArchiverDlg::ControlsToSettings()
{
    Win32ExchangeControls controls(hwnd_);
    exchange.FromControls(Settings(), controls);
}

bool CArchiverDlg::OnSysCommand(WPARAM command)
{
    // The low four bits of a system command belong to the system.
    if ((command & 0xFFF0) == static_cast<WPARAM>(res::IDM_ABOUTBOX)) {
        ShowAboutBox(hwnd_);
        return true;
    }
    return false;
}

bool CArchiverDlg::OnPaint()
{
    if (!IsIconic(hwnd_))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(hwnd_, &client);
    const IconPlace at
        = MinimisedIconPos(client.right - client.left, client.bottom - client.top, cx, cy);
    DrawIcon(dc, at.x, at.y, appIcon);
    EndPaint(hwnd_, &paint);
    return true;
}

void CArchiverDlg::OnCommand(int id)
{
    switch (id) {
    case res::IDC_START:
        logic_.OnStart();
        break;
    case res::IDC_BROWSE_SOURCE:
        logic_.OnBrowse(kBrowseSource);
        break;
    case res::IDC_BROWSE_TARGET:
        logic_.OnBrowse(kBrowseTarget);
        break;
    case res::IDC_SAVE_SETTINGS:
        logic_.OnSaveSettings();
        break;
    case IDOK:
        // Enter outside a push button: the controls are taken, nothing is saved.
        ControlsToSettings();
        logic_.RequestEnd(IDOK);
        break;
    case IDCANCEL:
        logic_.RequestEnd(IDCANCEL);
        break;
    default:
        break;
    }
}

void CArchiverDlg::PlayClip()
{
    SendMessageW(animationCtrl, ACM_OPENW, reinterpret_cast<WPARAM>(Module()),
                 reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(res::IDR_ANIMATION)));
    SendMessageW(animationCtrl, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
}

void CArchiverDlg::CloseClip()
{
    SendMessageW(animationCtrl, ACM_OPENW, 0, 0);
}

std::optional<std::string> CArchiverDlg::BrowseForFolder(const std::string &initial,
                                                         const std::string &prompt)
{
    // Owned by nobody, so the main dialog stays live (START and STOP keep working).
    CFolderBrowser browser(nullptr, 0);
    browser.SetInitialFolder(io::Wide(initial));
    browser.SetTitle(io::Wide(prompt));
    browser.SetFlags(BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT);
    browsers.push_back(&browser);
    const bool chosen = browser.Browse();
    browsers.erase(std::find(browsers.begin(), browsers.end(), &browser));
    if (!chosen)
        return std::nullopt;
    return io::Utf8(browser.GetFolderPath());
}

void CArchiverDlg::CloseBrowsers()
{
    for (CFolderBrowserBase *browser : browsers) {
        if (HWND window = browser->BrowseWindow())
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
}

void CArchiverDlg::EndDialog(int result)
{
    ::EndDialog(hwnd_, result);
}

void CArchiverDlg::PostWorkerEnded()
{
    PostMessageW(hwnd_, WM_KELVANE_WORKER_ENDED, 0, 0);
}

void CArchiverDlg::CallOnDialogThread(const std::function<void()> &call)
{
    SendMessageW(hwnd_, WM_KELVANE_CALL, 0, reinterpret_cast<LPARAM>(&call));
}

void CArchiverDlg::StopAnimation()
{
    SendMessageW(animationCtrl, ACM_STOP, 0, 0);
}

void CArchiverDlg::CloseAnimation()
{
    CloseClip();
}

void CArchiverDlg::RepaintAnimation()
{
    CallOnDialogThread([this] { InvalidateRect(animationCtrl, nullptr, TRUE); });
}

void CArchiverDlg::SetStartCaption(const std::string &caption)
{
    CallOnDialogThread([this, &caption] {
        SetDlgItemTextW(hwnd_, res::IDC_START, io::Wide(caption).c_str());
        InvalidateRect(Item(res::IDC_START), nullptr, TRUE);
    });
}

void CArchiverDlg::ShowMessage(const std::string &text, const std::string &caption)
{
    CallOnDialogThread([this, &text, &caption] {
        MessageBoxW(hwnd_, io::Wide(text).c_str(), io::Wide(caption).c_str(), MB_OK);
    });
}

JobSettings CArchiverDlg::CurrentSettings()
{
    JobSettings copy;
    CallOnDialogThread([this, &copy] { copy = logic_.Settings(); });
    return copy;
}

void CArchiverDlg::SetRunStamp(const std::string &stamp)
{
    CallOnDialogThread([this, &stamp] { runStamp = stamp; });
}

} // namespace kelvane::ui::win32
