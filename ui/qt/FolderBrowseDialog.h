#pragma once

// The folder-browse dialog: a prompt, a folder tree, a status line, OK and Cancel. It
// reports to a callback as the shell's browser does (initialised, selection changed) and
// obeys its two requests (select a path, set the status text).

#include <QDialog>
#include <QModelIndex>
#include <QString>

#include <functional>

class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

namespace kelvane::ui::qt {

// Flags, with the shell's values. The callback hears kBrowseInitialized and
// kBrowseSelChanged (ui/core/FolderBrowser.h).
inline constexpr unsigned BIF_RETURNONLYFSDIRS = 0x0001;
inline constexpr unsigned BIF_STATUSTEXT = 0x0004;

class FolderBrowseDialog : public QDialog
{
    Q_OBJECT
public:
    // The item is the highlighted one for kBrowseSelChanged, invalid otherwise.
    using Callback
        = std::function<void(FolderBrowseDialog &window, int message, const QModelIndex &item)>;

    // rootPath empty: the whole file system.
    FolderBrowseDialog(QWidget *owner, const QString &rootPath, const QString &prompt,
                       unsigned flags, Callback callback);

    // Shows the dialog and returns when it closes, without blocking any other window;
    // Accepted when the user chose the highlighted item.
    int Run();

    // Requests of the callback.
    void SetSelection(const QString &path);
    void SetStatusText(const QString &text);

    // What the user sees and does, for scripts.
    QString PromptText() const;
    QString StatusText() const;
    bool StatusLineShown() const;
    bool OkEnabled() const;
    QModelIndex CurrentItem() const;
    // Highlights a folder as a click would; false when the path names no folder.
    bool HighlightPath(const QString &path);
    // Highlights nothing: an item without a file-system path.
    void HighlightNothing();
    // Presses OK (only while it is enabled) or Cancel.
    void PressOk();
    void PressCancel();

    // The full path of an item; false for an item without one.
    bool PathOfItem(const QModelIndex &item, QString &path) const;

    // Tests set this to act in place of the user once the dialog is showing.
    static std::function<void(FolderBrowseDialog &)> &ScriptHook();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void OnCurrentChanged(const QModelIndex &current);
    QModelIndex IndexOfPath(const QString &path) const;

    unsigned flags_;
    Callback callback_;
    bool initialised_ = false;
    QLabel *prompt_;
    QTreeView *tree_;
    QFileSystemModel *model_;
    QLabel *status_;
    QPushButton *ok_;
    QPushButton *cancel_;
};

} // namespace kelvane::ui::qt
