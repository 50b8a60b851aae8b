#pragma once

// Builds a dialog's child widgets from a template in dialog units, the way the classic
// window system does: the units come from the dialog font's average character width and
// height, the controls are placed in template order, which is also the tab order.

#include "resources/Resources.h"

#include <QFont>
#include <QRect>

#include <map>
#include <vector>

class QDialog;
class QWidget;

namespace kelvane::ui::qt {

// Dialog base units of a font: x px = x du * baseX / 4, y px = y du * baseY / 8.
struct DialogUnits
{
    int baseX = 0; // average character width
    int baseY = 0; // character height

    int ToPixelsX(int du) const;
    int ToPixelsY(int du) const;
    QRect ToPixels(int x, int y, int cx, int cy) const;
};

// The template's font, or the system's sans font in the same point size when that font
// is not installed.
QFont DialogFont(const res::DialogTemplate &tpl);
// The classic average width: the width of the 52 Latin letters / 52, rounded.
DialogUnits UnitsOf(const QFont &font);

struct BuiltControl
{
    const res::ControlTemplate *tpl;
    QWidget *widget;
};

struct BuiltDialog
{
    DialogUnits units;
    std::vector<BuiltControl> controls; // template order
    std::map<int, QWidget *> byId; // controls with an id of their own

    QWidget *Control(int id) const;
};

// Sets the dialog's font, caption and fixed client size and creates its controls.
BuiltDialog BuildDialog(QDialog &dialog, const res::DialogTemplate &tpl);

// Turns a classic caption into a spoken name: no access-key marks, no trailing colon.
QString AccessibleCaption(const QString &caption);

} // namespace kelvane::ui::qt
