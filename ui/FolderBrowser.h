#pragma once

// The folder browser behind a class: preselects a folder, shows the highlighted folder's
// path in the status line and hands back the full path of the chosen folder.

#include <QModelIndex>
#include <QString>

#include <memory>
#include <string>

class QWidget;

namespace kelvane::ui {

class FolderBrowseDialog;

class CFolderBrowserBase
{
public:
    // rootPath empty: the default root. promptId: a string resource, or 0 for none.
    CFolderBrowserBase(QWidget *owner, const QString &rootPath, int promptId);
    virtual ~CFolderBrowserBase() = 0;
    CFolderBrowserBase(const CFolderBrowserBase &) = delete;
    CFolderBrowserBase &operator=(const CFolderBrowserBase &) = delete;

    // These four change nothing while the browse dialog is showing.
    void SetOwner(QWidget *owner);
    void SetRoot(const QString &rootPath);
    void SetFlags(unsigned flags);
    void SetTitle(const std::string &text);
    bool SetTitle(int stringId);

    // Runs the browse dialog; true when a folder was chosen and its path is known.
    bool Browse();
    // The chosen folder's full path after a successful Browse.
    std::string GetFolderPath() const { return displayName_; }

    // These two act only while the browse dialog is showing.
    void SetSelection(const std::string &path);
    void SetStatusText(const std::string &text);

    static int BrowseCallback(FolderBrowseDialog &window, int message, const QModelIndex &item,
                              CFolderBrowserBase *data);

    const std::string &Title() const { return titleText_; }
    unsigned Flags() const { return flags_; }
    bool Showing() const { return browseWindow_ != nullptr; }

protected:
    virtual void OnInitialized() { }
    virtual void OnSelChanged(const QModelIndex &) { }
    // The full path of a highlighted item; false for an item that has none.
    bool PathFromItem(const QModelIndex &item, std::string &path) const;

private:
    QWidget *owner_ = nullptr;
    QString root_;
    unsigned flags_ = 0;
    std::string titleText_;
    std::string displayName_;
    std::string chosenPath_;
    FolderBrowseDialog *browseWindow_ = nullptr;
};

class CFolderBrowser : public CFolderBrowserBase
{
public:
    CFolderBrowser(QWidget *owner, int promptId);
    ~CFolderBrowser() override;

    void SetInitialFolder(const std::string &path) { initialFolder_ = path; }

protected:
    void OnInitialized() override;
    void OnSelChanged(const QModelIndex &item) override;

private:
    std::string initialFolder_;
};

} // namespace kelvane::ui
