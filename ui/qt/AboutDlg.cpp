#include "ui/qt/AboutDlg.h"

#include "resources/Resources.h"

#include <QPushButton>

namespace kelvane::ui::qt {

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    built = BuildDialog(*this, res::AboutBoxTemplate());
    setAccessibleName(windowTitle());
    if (auto *ok = qobject_cast<QPushButton *>(Control(res::IDOK))) {
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    }
}

CAboutDlg::~CAboutDlg() = default;

} // namespace kelvane::ui::qt
