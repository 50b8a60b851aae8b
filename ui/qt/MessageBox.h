#pragma once

// Message boxes of the program: an OK button, no icon, owned by a window.

#include <QString>

#include <functional>

class QWidget;

namespace kelvane::ui::qt {

void ShowMessageBox(QWidget *owner, const QString &text, const QString &caption);

// Tests set this to see a message instead of a box that waits for a click.
std::function<void(const QString &text, const QString &caption)> &MessageBoxHook();

} // namespace kelvane::ui::qt
