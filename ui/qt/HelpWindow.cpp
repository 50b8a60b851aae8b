#include "ui/qt/HelpWindow.h"

#include "resources/Resources.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvane::ui::qt {

HelpWindow::HelpWindow(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Kelvane Help"));
    auto *layout = new QVBoxLayout(this);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    const std::string_view help = res::HelpText();
    text_->setPlainText(QString::fromUtf8(help.data(), static_cast<qsizetype>(help.size())));
    text_->setAccessibleName(QStringLiteral("Help text"));
    layout->addWidget(text_);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(520, 420);
}

QString HelpWindow::Text() const
{
    return text_->toPlainText();
}

} // namespace kelvane::ui::qt
