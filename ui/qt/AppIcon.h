#pragma once

#include <QIcon>

namespace kelvane::ui::qt {

// The program's icon IDR_MAINFRAME (32x32 and 16x16), read once from the embedded .ico.
QIcon AppIcon();

} // namespace kelvane::ui::qt
