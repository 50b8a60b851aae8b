#include "ui/qt/SystemMenu.h"

#include <QAction>
#include <QMenu>

namespace kelvane::ui::qt {

SystemMenu::SystemMenu()
{
    items_.push_back({SC_MINIMIZE, QStringLiteral("Mi&nimize"), false});
    items_.push_back({SC_CLOSE, QStringLiteral("&Close\tAlt+F4"), false});
}

void SystemMenu::AppendSeparator()
{
    items_.push_back({0, QString(), true});
}

void SystemMenu::AppendString(int id, const QString &text)
{
    items_.push_back({id, text, false});
}

std::function<int(const std::vector<SystemMenu::Item> &)> &SystemMenu::PopupHook()
{
    static std::function<int(const std::vector<Item> &)> hook;
    return hook;
}

int SystemMenu::Popup(QWidget *owner, const QPoint &globalPos) const
{
    if (PopupHook()) {
        return PopupHook()(items_);
    }
    QMenu menu(owner);
    // Keep every separator the owner appended, as the classic menu does.
    menu.setSeparatorsCollapsible(false);
    for (const Item &item : items_) {
        if (item.separator) {
            menu.addSeparator();
        } else {
            menu.addAction(item.text)->setData(item.id);
        }
    }
    QAction *chosen = menu.exec(globalPos);
    return chosen != nullptr ? chosen->data().toInt() : 0;
}

} // namespace kelvane::ui::qt
