#include "ui/FolderBrowser.h"

#include "resources/Resources.h"
#include "ui/FolderBrowseDialog.h"

namespace kelvane::ui {

CFolderBrowserBase::CFolderBrowserBase(QWidget *owner, const QString &rootPath, int promptId)
{
    SetOwner(owner);
    SetRoot(rootPath);
    SetTitle(promptId);
}

CFolderBrowserBase::~CFolderBrowserBase() { }

void CFolderBrowserBase::SetOwner(QWidget *owner)
{
    if (browseWindow_ == nullptr) {
        owner_ = owner;
    }
}

void CFolderBrowserBase::SetRoot(const QString &rootPath)
{
    if (browseWindow_ == nullptr) {
        root_ = rootPath;
    }
}

void CFolderBrowserBase::SetFlags(unsigned flags)
{
    if (browseWindow_ == nullptr) {
        flags_ = flags;
    }
}

void CFolderBrowserBase::SetTitle(const std::string &text)
{
    if (browseWindow_ == nullptr) {
        titleText_ = text;
    }
}

bool CFolderBrowserBase::SetTitle(int stringId)
{
    if (stringId < 1) {
        return false;
    }
    const std::string text = res::LoadString(stringId);
    if (text.empty()) {
        return false;
    }
    SetTitle(text);
    return true;
}

bool CFolderBrowserBase::Browse()
{
    bool result = false;
    FolderBrowseDialog dialog(
        owner_, root_,
        QString::fromLocal8Bit(titleText_.data(), static_cast<qsizetype>(titleText_.size())),
        flags_, [this](FolderBrowseDialog &window, int message, const QModelIndex &item) {
            BrowseCallback(window, message, item, this);
        });
    if (dialog.Run() == QDialog::Accepted) {
        const QModelIndex item = dialog.CurrentItem();
        displayName_ = dialog.DisplayNameOf(item).toLocal8Bit().toStdString();
        chosenPath_.clear();
        QString path;
        if (dialog.PathOfItem(item, path)) {
            displayName_ = path.toLocal8Bit().toStdString();
            chosenPath_ = displayName_;
            result = true;
        }
    }
    browseWindow_ = nullptr;
    return result;
}

void CFolderBrowserBase::SetSelection(const std::string &path)
{
    if (browseWindow_ != nullptr) {
        browseWindow_->SetSelection(
            QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
    }
}

void CFolderBrowserBase::SetStatusText(const std::string &text)
{
    if (browseWindow_ != nullptr) {
        browseWindow_->SetStatusText(
            QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    }
}

int CFolderBrowserBase::BrowseCallback(FolderBrowseDialog &window, int message,
                                       const QModelIndex &item, CFolderBrowserBase *data)
{
    data->browseWindow_ = &window;
    if (message == BFFM_INITIALIZED) {
        data->OnInitialized();
    } else if (message == BFFM_SELCHANGED) {
        data->OnSelChanged(item);
    }
    return 0;
}

bool CFolderBrowserBase::PathFromItem(const QModelIndex &item, std::string &path) const
{
    if (browseWindow_ == nullptr) {
        return false;
    }
    QString text;
    if (!browseWindow_->PathOfItem(item, text)) {
        return false;
    }
    path = text.toLocal8Bit().toStdString();
    return true;
}

CFolderBrowser::CFolderBrowser(QWidget *owner, int promptId)
    : CFolderBrowserBase(owner, QString(), promptId)
{ }

CFolderBrowser::~CFolderBrowser() = default;

void CFolderBrowser::OnInitialized()
{
    SetSelection(initialFolder_);
    SetStatusText(initialFolder_);
}

void CFolderBrowser::OnSelChanged(const QModelIndex &item)
{
    std::string path;
    if (!PathFromItem(item, path)) {
        path.clear();
    }
    SetStatusText(path);
}

} // namespace kelvane::ui
