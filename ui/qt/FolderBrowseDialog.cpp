#include "ui/qt/FolderBrowseDialog.h"

#include "ui/core/FolderBrowser.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace kelvane::ui::qt {

FolderBrowseDialog::FolderBrowseDialog(QWidget *owner, const QString &rootPath,
                                       const QString &prompt, unsigned flags, Callback callback)
    : QDialog(owner), flags_(flags), callback_(std::move(callback))
{
    setWindowTitle(QStringLiteral("Browse for Folder"));
    auto *layout = new QVBoxLayout(this);

    prompt_ = new QLabel(prompt, this);
    prompt_->setTextFormat(Qt::PlainText);
    prompt_->setWordWrap(true);
    layout->addWidget(prompt_);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot | QDir::Hidden);
    model_->setReadOnly(true);
    tree_ = new QTreeView(this);
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setAccessibleName(QStringLiteral("Folders"));
    if (rootPath.isEmpty()) {
        model_->setRootPath(QDir::rootPath());
    } else {
        model_->setRootPath(rootPath);
        tree_->setRootIndex(model_->index(rootPath));
    }
    layout->addWidget(tree_, 1);

    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setAccessibleName(QStringLiteral("Status"));
    status_->setVisible((flags_ & BIF_STATUSTEXT) != 0);
    layout->addWidget(status_);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    ok_->setDefault(true);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current, const QModelIndex &) { OnCurrentChanged(current); });
    OnCurrentChanged(QModelIndex());
    resize(360, 420);
}

std::function<void(FolderBrowseDialog &)> &FolderBrowseDialog::ScriptHook()
{
    static std::function<void(FolderBrowseDialog &)> hook;
    return hook;
}

int FolderBrowseDialog::Run()
{
    if (ScriptHook()) {
        // Once the dialog shows and has told the callback, the script acts for the user.
        QTimer::singleShot(0, this, [this] {
            if (ScriptHook()) {
                ScriptHook()(*this);
            }
        });
    }
    // Not modal: the window it was opened from keeps working meanwhile (the main dialog's
    // STOP included). The call still returns only when this dialog closes, from a loop of
    // its own.
    setWindowModality(Qt::NonModal);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    if (isVisible()) {
        loop.exec(QEventLoop::DialogExec);
    }
    return result();
}

void FolderBrowseDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!initialised_) {
        // The tree's own default selection, made before the callback hears of anything,
        // so that taking the focus does not move the selection after the callback's.
        if (!tree_->currentIndex().isValid() && !tree_->rootIndex().isValid()) {
            tree_->setCurrentIndex(model_->index(QDir::rootPath()));
        }
        initialised_ = true;
        if (callback_) {
            callback_(*this, kBrowseInitialized, QModelIndex());
        }
    }
}

void FolderBrowseDialog::OnCurrentChanged(const QModelIndex &current)
{
    QString path;
    const bool hasPath = PathOfItem(current, path);
    ok_->setEnabled((flags_ & BIF_RETURNONLYFSDIRS) != 0 ? hasPath : current.isValid());
    if (callback_ && initialised_) {
        callback_(*this, kBrowseSelChanged, current);
    }
}

QModelIndex FolderBrowseDialog::IndexOfPath(const QString &path) const
{
    if (path.isEmpty()) {
        return {};
    }
    // Both separators divide levels in the settings' paths.
    QString unified = path;
    unified.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo info(unified);
    if (!info.isDir()) {
        return {};
    }
    return model_->index(QDir::cleanPath(info.absoluteFilePath()));
}

void FolderBrowseDialog::SetSelection(const QString &path)
{
    const QModelIndex index = IndexOfPath(path);
    if (!index.isValid()) {
        return;
    }
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) {
        tree_->expand(up);
    }
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
}

void FolderBrowseDialog::SetStatusText(const QString &text)
{
    status_->setText(text);
}

QString FolderBrowseDialog::PromptText() const
{
    return prompt_->text();
}

QString FolderBrowseDialog::StatusText() const
{
    return status_->text();
}

bool FolderBrowseDialog::StatusLineShown() const
{
    return (flags_ & BIF_STATUSTEXT) != 0;
}

bool FolderBrowseDialog::OkEnabled() const
{
    return ok_->isEnabled();
}

QModelIndex FolderBrowseDialog::CurrentItem() const
{
    return tree_->currentIndex();
}

bool FolderBrowseDialog::HighlightPath(const QString &path)
{
    const QModelIndex index = IndexOfPath(path);
    if (!index.isValid()) {
        return false;
    }
    SetSelection(path);
    return true;
}

void FolderBrowseDialog::HighlightNothing()
{
    tree_->setCurrentIndex(QModelIndex());
}

void FolderBrowseDialog::PressOk()
{
    if (ok_->isEnabled()) {
        ok_->click();
    }
}

void FolderBrowseDialog::PressCancel()
{
    cancel_->click();
}

bool FolderBrowseDialog::PathOfItem(const QModelIndex &item, QString &path) const
{
    if (!item.isValid() || item.model() != model_) {
        return false;
    }
    const QString filePath = model_->filePath(item);
    if (filePath.isEmpty()) {
        return false;
    }
    path = QDir::toNativeSeparators(filePath);
    return true;
}

} // namespace kelvane::ui::qt
