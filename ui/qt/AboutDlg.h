#pragma once

#include "ui/qt/DialogBuilder.h"

#include <QDialog>

namespace kelvane::ui::qt {

// The About box: its template and the default dialog handling, nothing more.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);
    ~CAboutDlg() override;

    QWidget *Control(int id) const { return built.Control(id); }
    const BuiltDialog &Built() const { return built; }

private:
    BuiltDialog built;
};

} // namespace kelvane::ui::qt
