#include "ui/qt/AppIcon.h"

#include "resources/Resources.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPixmap>

namespace kelvane::ui::qt {

QIcon AppIcon()
{
    static const QIcon icon = [] {
        const std::string_view data = res::IconData();
        QByteArray bytes(data.data(), static_cast<qsizetype>(data.size()));
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "ico");
        QIcon result;
        // Every image of the icon group, so each size picks its own picture.
        do {
            const QImage image = reader.read();
            if (image.isNull()) {
                break;
            }
            result.addPixmap(QPixmap::fromImage(image));
        } while (reader.jumpToNextImage());
        return result;
    }();
    return icon;
}

} // namespace kelvane::ui::qt
