#pragma once

// The shell's folder browser behind a small class: the prompt, the flags, the folder to
// preselect, the status line that shows the highlighted folder's path, and the chosen path.

#include <string>

#include <windows.h>

#include <shlobj.h>

namespace kelvane::win32 {

// The file-system path of a shell item, however long; empty for an item without one (a
// virtual folder). The shell allocates the text, so no MAX_PATH buffer cuts it short.
std::wstring FileSystemPath(PCIDLIST_ABSOLUTE item);

class CFolderBrowserBase
{
public:
    CFolderBrowserBase(HWND owner, PCIDLIST_ABSOLUTE root, int promptId);
    virtual ~CFolderBrowserBase() = 0;
    CFolderBrowserBase(const CFolderBrowserBase &) = delete;
    CFolderBrowserBase &operator=(const CFolderBrowserBase &) = delete;

    // These four change nothing while the browse dialog is showing.
    void SetOwner(HWND owner);
    void SetRoot(PCIDLIST_ABSOLUTE root);
    void SetFlags(UINT flags);
    void SetTitle(const std::wstring &text);
    bool SetTitle(int stringId);

    // Runs the browse dialog; true when a file-system folder was chosen.
    bool Browse();
    std::wstring GetFolderPath() const { return chosenPath; }

    // The browse dialog's window while it is showing, else null.
    HWND BrowseWindow() const { return browseWindow; }

    // These two act only while the browse dialog is showing.
    void SetSelection(const std::wstring &path);
    void SetStatusText(const std::wstring &text);

protected:
    virtual void OnInitialized() { }
    virtual void OnSelChanged(PCIDLIST_ABSOLUTE) { }

private:
    static int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data);

    std::wstring titleText;
    BROWSEINFOW browseInfo {};
    // The shell writes the chosen item's display name here (MAX_PATH by its contract); the
    // path is read apart, at any length.
    wchar_t displayName[MAX_PATH] {};
    std::wstring chosenPath;
    HWND browseWindow = nullptr;
};

class CFolderBrowser : public CFolderBrowserBase
{
public:
    CFolderBrowser(HWND owner, int promptId) : CFolderBrowserBase(owner, nullptr, promptId) { }
    ~CFolderBrowser() override = default;

    void SetInitialFolder(const std::wstring &path) { initialFolder = path; }

protected:
    void OnInitialized() override;
    void OnSelChanged(PCIDLIST_ABSOLUTE item) override;

private:
    std::wstring initialFolder;
};

} // namespace kelvane::win32
