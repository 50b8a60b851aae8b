#include "ui/win32/FolderBrowser.h"

namespace kelvane::win32 {

std::wstring FileSystemPath(PCIDLIST_ABSOLUTE item)
{
    PWSTR name = nullptr;
    if (FAILED(SHGetNameFromIDList(item, SIGDN_FILESYSPATH, &name)) || name == nullptr)
        return std::wstring();
    std::wstring path = name;
    CoTaskMemFree(name);
    return path;
}

CFolderBrowserBase::CFolderBrowserBase(HWND owner, PCIDLIST_ABSOLUTE root, int promptId)
{
    SetOwner(owner);
    SetRoot(root);
    SetTitle(promptId);
    browseInfo.pszDisplayName = displayName;
    browseInfo.lpfn = BrowseCallback;
    browseInfo.lParam = reinterpret_cast<LPARAM>(this);
}

CFolderBrowserBase::~CFolderBrowserBase() = default;

void CFolderBrowserBase::SetOwner(HWND owner)
{
    if (browseWindow == nullptr)
        browseInfo.hwndOwner = owner;
}

void CFolderBrowserBase::SetRoot(PCIDLIST_ABSOLUTE root)
{
    if (browseWindow == nullptr)
        browseInfo.pidlRoot = root;
}

void CFolderBrowserBase::SetFlags(UINT flags)
{
    if (browseWindow == nullptr)
        browseInfo.ulFlags = flags;
}

void CFolderBrowserBase::SetTitle(const std::wstring &text)
{
    if (browseWindow != nullptr)
        return;
    titleText = text;
    browseInfo.lpszTitle = titleText.c_str();
}

bool CFolderBrowserBase::SetTitle(int stringId)
{
    if (stringId < 1)
        return false;
    const wchar_t *text = nullptr;
    // With a zero length, the string is not copied: text points into the resources.
    const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(stringId),
                                   reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return false;
    SetTitle(std::wstring(text, static_cast<std::size_t>(length)));
    return true;
}

bool CFolderBrowserBase::Browse()
{
    bool chosen = false;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browseInfo);
    if (item != nullptr) {
        chosenPath = FileSystemPath(item);
        chosen = !chosenPath.empty();
        IMalloc *allocator = nullptr;
        if (SUCCEEDED(SHGetMalloc(&allocator))) {
            allocator->Free(item);
            allocator->Release();
        }
    }
    browseWindow = nullptr;
    return chosen;
}

void CFolderBrowserBase::SetSelection(const std::wstring &path)
{
    if (browseWindow != nullptr)
        SendMessageW(browseWindow, BFFM_SETSELECTIONW, TRUE,
                     reinterpret_cast<LPARAM>(path.c_str()));
}

void CFolderBrowserBase::SetStatusText(const std::wstring &text)
{
    if (browseWindow != nullptr)
        SendMessageW(browseWindow, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int CALLBACK CFolderBrowserBase::BrowseCallback(HWND window, UINT message, LPARAM lParam,
                                                LPARAM data)
{
    auto *self = reinterpret_cast<CFolderBrowserBase *>(data);
    self->browseWindow = window;
    if (message == BFFM_INITIALIZED)
        self->OnInitialized();
    else if (message == BFFM_SELCHANGED)
        self->OnSelChanged(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam));
    return 0;
}

void CFolderBrowser::OnInitialized()
{
    SetSelection(initialFolder);
    SetStatusText(initialFolder);
}

void CFolderBrowser::OnSelChanged(PCIDLIST_ABSOLUTE item)
{
    // Blank for an item that is no file-system folder.
    SetStatusText(FileSystemPath(item));
}

} // namespace kelvane::win32
