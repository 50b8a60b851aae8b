#include "ui/qt/MessageBox.h"

#include <QMessageBox>

namespace kelvane::ui::qt {

std::function<void(const QString &, const QString &)> &MessageBoxHook()
{
    static std::function<void(const QString &, const QString &)> hook;
    return hook;
}

void ShowMessageBox(QWidget *owner, const QString &text, const QString &caption)
{
    if (MessageBoxHook()) {
        MessageBoxHook()(text, caption);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace kelvane::ui::qt
