#include "ui/win32/FolderBrowser.h"

namespace kelvane::ui::win32 {

static_assert(BFFM_INITIALIZED == kBrowseInitialized && BFFM_SELCHANGED == kBrowseSelChanged);

namespace {

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data)
{
    (*reinterpret_cast<const BrowseShell::Callback *>(data))(
        window, static_cast<int>(message), reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam));
    return 0;
}

} // namespace

std::wstring FileSystemPath(PCIDLIST_ABSOLUTE item)
{
    PWSTR name = nullptr;
    if (FAILED(SHGetNameFromIDList(item, SIGDN_FILESYSPATH, &name)) || name == nullptr)
        return std::wstring();
    std::wstring path = name;
    CoTaskMemFree(name);
    return path;
}

std::wstring BrowseShell::ResourceString(int id)
{
    const wchar_t *text = nullptr;
    // With a zero length, the string is not copied: text points into the resources.
    const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                   reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return std::wstring();
    return std::wstring(text, static_cast<std::size_t>(length));
}

std::optional<std::wstring> BrowseShell::Run(HWND owner, PCIDLIST_ABSOLUTE root,
                                             const std::wstring &title, unsigned flags,
                                             const Callback &callback)
{
    // The shell writes the chosen item's display name here (MAX_PATH by its contract); the
    // path is read apart, at any length.
    wchar_t displayName[MAX_PATH] {};
    BROWSEINFOW info {};
    info.hwndOwner = owner;
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = flags;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(&callback);
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (item == nullptr)
        return std::nullopt;
    std::wstring path = FileSystemPath(item);
    IMalloc *allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(item);
        allocator->Release();
    }
    return path;
}

void BrowseShell::Select(HWND window, const std::wstring &path)
{
    SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
}

void BrowseShell::ShowStatus(HWND window, const std::wstring &text)
{
    SendMessageW(window, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

} // namespace kelvane::ui::win32
