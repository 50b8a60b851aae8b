#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace kelvane::ui::qt {

// The program's help, shown for F1: the help text shipped with the program, read-only.
class HelpWindow : public QDialog
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);
    QString Text() const;

private:
    QPlainTextEdit *text_;
};

} // namespace kelvane::ui::qt
