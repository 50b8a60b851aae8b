#pragma once

// The folder browser (ui/core) over the Qt browse dialog: texts are the local 8-bit bytes
// the settings hold.

#include "ui/core/FolderBrowser.h"

#include <QModelIndex>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace kelvane::ui::qt {

class FolderBrowseDialog;

struct BrowseShell
{
    using Owner = QWidget *;
    using Root = QString; // empty: the whole file system
    using Item = QModelIndex;
    using Window = FolderBrowseDialog *;
    using String = std::string;
    using Callback = std::function<void(Window window, int message, const Item &item)>;

    static String ResourceString(int id);
    static std::optional<String> Run(Owner owner, const Root &root, const String &title,
                                     unsigned flags, const Callback &callback);
    static void Select(Window window, const String &path);
    static void ShowStatus(Window window, const String &text);
    static String PathOf(Window window, const Item &item);
};

using CFolderBrowserBase = ui::CFolderBrowserBase<BrowseShell>;
using CFolderBrowser = ui::CFolderBrowser<BrowseShell>;

} // namespace kelvane::ui::qt
