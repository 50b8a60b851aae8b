#pragma once

// The folder browser (ui/core) over the shell's own, SHBrowseForFolderW: texts in UTF-16.

#include "ui/core/FolderBrowser.h"

#include <functional>
#include <optional>
#include <string>

#include <windows.h>

#include <shlobj.h>

namespace kelvane::ui::win32 {

// The file-system path of a shell item, however long; empty for an item without one (a
// virtual folder). The shell allocates the text, so no MAX_PATH buffer cuts it short.
std::wstring FileSystemPath(PCIDLIST_ABSOLUTE item);

struct BrowseShell
{
    using Owner = HWND;
    using Root = PCIDLIST_ABSOLUTE; // null: the desktop
    using Item = PCIDLIST_ABSOLUTE;
    using Window = HWND;
    using String = std::wstring;
    using Callback = std::function<void(Window window, int message, const Item &item)>;

    static String ResourceString(int id);
    static std::optional<String> Run(Owner owner, Root root, const String &title, unsigned flags,
                                     const Callback &callback);
    static void Select(Window window, const String &path);
    static void ShowStatus(Window window, const String &text);
    static String PathOf(Window, Item item) { return FileSystemPath(item); }
};

using CFolderBrowserBase = ui::CFolderBrowserBase<BrowseShell>;
using CFolderBrowser = ui::CFolderBrowser<BrowseShell>;

} // namespace kelvane::ui::win32
