#pragma once

// The settings and the run hold texts as the local 8-bit bytes; Qt's widgets take QString.

#include <QString>

#include <string>

namespace kelvane::ui::qt {

inline QString FromBytes(const std::string &bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string ToBytes(const QString &text)
{
    return text.toLocal8Bit().toStdString();
}

} // namespace kelvane::ui::qt
