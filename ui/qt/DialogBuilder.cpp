#include "ui/qt/DialogBuilder.h"

#include "ui/qt/AnimationControl.h"
#include "ui/qt/AppIcon.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <limits>

namespace kelvane::ui::qt {

namespace {

// MulDiv: a * b / c rounded half away from zero, as the classic conversion rounds.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    const long long r = p >= 0 ? (2 * p + c) / (2 * c) : -((-2 * p + c) / (2 * c));
    return static_cast<int>(r);
}

bool Has(std::uint32_t style, std::uint32_t bits)
{
    return (style & bits) == bits;
}

QWidget *CreateControl(const res::ControlTemplate &c, QDialog &dialog)
{
    const QString text = QString::fromUtf8(c.text.data(), static_cast<int>(c.text.size()));
    const std::uint32_t low = c.style & 0xFFFFu;
    switch (c.kind) {
    case res::ControlKind::Static: {
        auto *label = new QLabel(&dialog);
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setAccessibleName(AccessibleCaption(text));
        return label;
    }
    case res::ControlKind::Icon: {
        auto *label = new QLabel(&dialog);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setPixmap(AppIcon().pixmap(32, 32));
        label->setAccessibleName(QStringLiteral("Kelvane"));
        return label;
    }
    case res::ControlKind::Edit: {
        auto *edit = new QLineEdit(&dialog);
        edit->setFrame(Has(c.style, res::style::WS_BORDER));
        // No length limit: a setting is copied whole in either direction.
        edit->setMaxLength(std::numeric_limits<int>::max());
        edit->setText(text);
        return edit;
    }
    case res::ControlKind::PushButton: {
        auto *button = new QPushButton(text, &dialog);
        // Only a template's default push button takes Enter; no button becomes the
        // default just by taking the focus.
        button->setAutoDefault(false);
        button->setDefault((low & 0xFu) == res::style::BS_DEFPUSHBUTTON);
        // No accessible name of its own: a button is then named by its caption, "&"
        // stripped, whatever the caption says now (the start button's changes during a run).
        return button;
    }
    case res::ControlKind::CheckBox: {
        // Named by its caption, as a push button is.
        return new QCheckBox(text, &dialog);
    }
    case res::ControlKind::Animation: {
        auto *animation = new AnimationControl(&dialog);
        animation->SetTransparent(Has(low, res::style::ACS_TRANSPARENT));
        animation->setAccessibleName(QStringLiteral("Activity animation"));
        return animation;
    }
    case res::ControlKind::Progress: {
        auto *bar = new QProgressBar(&dialog);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setAccessibleName(QStringLiteral("Progress"));
        return bar;
    }
    }
    return new QWidget(&dialog);
}

// The label that names an edit: the static text on the edit's row, nearest to its left.
QWidget *LabelFor(const BuiltDialog &built, const res::ControlTemplate &edit)
{
    QWidget *best = nullptr;
    int bestGap = std::numeric_limits<int>::max();
    for (const BuiltControl &bc : built.controls) {
        const res::ControlTemplate &c = *bc.tpl;
        if (c.kind != res::ControlKind::Static) {
            continue;
        }
        const bool sameRow = c.y < edit.y + edit.cy && edit.y < c.y + c.cy;
        const int gap = edit.x - (c.x + c.cx);
        if (sameRow && gap >= 0 && gap < bestGap) {
            best = bc.widget;
            bestGap = gap;
        }
    }
    return best;
}

} // namespace

int DialogUnits::ToPixelsX(int du) const
{
    return MulDiv(du, baseX, 4);
}

int DialogUnits::ToPixelsY(int du) const
{
    return MulDiv(du, baseY, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int cx, int cy) const
{
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(cx), ToPixelsY(cy));
}

QFont DialogFont(const res::DialogTemplate &tpl)
{
    QFont font(QString::fromStdString(tpl.fontName));
    font.setPointSize(tpl.pointSize > 0 ? tpl.pointSize : 8);
    if (!QFontInfo(font).exactMatch()) {
        QFont fallback = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        fallback.setPointSize(font.pointSize());
        return fallback;
    }
    return font;
}

DialogUnits UnitsOf(const QFont &font)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    units.baseX = (width / 26 + 1) / 2;
    units.baseY = metrics.height();
    return units;
}

QWidget *BuiltDialog::Control(int id) const
{
    const auto it = byId.find(id);
    return it == byId.end() ? nullptr : it->second;
}

BuiltDialog BuildDialog(QDialog &dialog, const res::DialogTemplate &tpl)
{
    BuiltDialog built;
    const QFont font = DialogFont(tpl);
    dialog.setFont(font);
    built.units = UnitsOf(font);
    dialog.setWindowTitle(
        QString::fromUtf8(tpl.caption.data(), static_cast<int>(tpl.caption.size())));
    dialog.setFixedSize(built.units.ToPixelsX(tpl.cx), built.units.ToPixelsY(tpl.cy));

    QWidget *previousStop = nullptr;
    for (const res::ControlTemplate &c : tpl.controls) {
        QWidget *widget = CreateControl(c, dialog);
        widget->setGeometry(built.units.ToPixels(c.x, c.y, c.cx, c.cy));
        const bool tabStop = Has(c.style, res::style::WS_TABSTOP);
        if (c.kind == res::ControlKind::Animation) {
            widget->setFocusPolicy(tabStop ? Qt::TabFocus : Qt::NoFocus);
        } else if (c.kind != res::ControlKind::Static && c.kind != res::ControlKind::Icon) {
            widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus);
        }
        widget->setVisible(Has(c.style, res::style::WS_VISIBLE));
        if (tabStop) {
            if (previousStop != nullptr) {
                QWidget::setTabOrder(previousStop, widget);
            }
            previousStop = widget;
        }
        built.controls.push_back({&c, widget});
        if (c.id != res::IDC_STATIC) {
            built.byId[c.id] = widget;
        }
    }
    for (const BuiltControl &bc : built.controls) {
        if (bc.tpl->kind != res::ControlKind::Edit) {
            continue;
        }
        if (auto *label = qobject_cast<QLabel *>(LabelFor(built, *bc.tpl))) {
            label->setBuddy(bc.widget);
            bc.widget->setAccessibleName(label->accessibleName());
        }
    }
    return built;
}

QString AccessibleCaption(const QString &caption)
{
    QString name;
    for (int i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) {
            ++i;
        }
        name += caption[i];
    }
    name = name.trimmed();
    while (name.endsWith(QLatin1Char(':')) || name.endsWith(QChar(0xFF1A))) {
        name.chop(1);
    }
    return name.trimmed();
}

} // namespace kelvane::ui::qt
