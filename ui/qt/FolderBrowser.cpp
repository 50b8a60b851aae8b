#include "ui/qt/FolderBrowser.h"

#include "resources/Resources.h"
#include "ui/qt/FolderBrowseDialog.h"
#include "ui/qt/LocalText.h"

namespace kelvane::ui::qt {

std::string BrowseShell::ResourceString(int id)
{
    return res::LoadString(id);
}

std::optional<std::string> BrowseShell::Run(QWidget *owner, const QString &root,
                                            const std::string &title, unsigned flags,
                                            const Callback &callback)
{
    FolderBrowseDialog dialog(
        owner, root, FromBytes(title), flags,
        [&callback](FolderBrowseDialog &window, int message, const QModelIndex &item) {
            callback(&window, message, item);
        });
    if (dialog.Run() != QDialog::Accepted) {
        return std::nullopt;
    }
    return PathOf(&dialog, dialog.CurrentItem());
}

void BrowseShell::Select(FolderBrowseDialog *window, const std::string &path)
{
    window->SetSelection(FromBytes(path));
}

void BrowseShell::ShowStatus(FolderBrowseDialog *window, const std::string &text)
{
    window->SetStatusText(FromBytes(text));
}

std::string BrowseShell::PathOf(FolderBrowseDialog *window, const QModelIndex &item)
{
    QString path;
    if (!window->PathOfItem(item, path)) {
        return std::string();
    }
    return ToBytes(path);
}

} // namespace kelvane::ui::qt
