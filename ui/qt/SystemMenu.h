#pragma once

// The window menu of the dialog. Off Windows there is no system menu to append to, so the
// dialog keeps this stand-in: Minimize and Close, then whatever the dialog appends. It
// opens on a right click on the dialog's background and on Alt+Space, and its commands go
// to the dialog's system-command handler.

#include <QPoint>
#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace kelvane::ui::qt {

// System command ids, with their classic values.
inline constexpr int SC_MINIMIZE = 0xF020;
inline constexpr int SC_CLOSE = 0xF060;
inline constexpr int SC_RESTORE = 0xF120;

class SystemMenu
{
public:
    struct Item
    {
        int id = 0; // 0 for a separator
        QString text;
        bool separator = false;
    };

    SystemMenu();

    void AppendSeparator();
    void AppendString(int id, const QString &text);
    const std::vector<Item> &Items() const { return items_; }

    // Shows the menu at a global position; the chosen command id, or 0.
    int Popup(QWidget *owner, const QPoint &globalPos) const;

    // Tests set this to choose from the menu instead of showing it.
    static std::function<int(const std::vector<Item> &)> &PopupHook();

private:
    std::vector<Item> items_;
};

} // namespace kelvane::ui::qt
