#include "ui/theme/iconloader.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

using namespace Qt::Literals::StringLiterals;

namespace {

// Touched only from the GUI thread.
QHash<QString, QIcon> &cache()
{
    static QHash<QString, QIcon> icons;
    return icons;
}

constexpr qreal devicePixelRatio = 2.0;
constexpr qreal disabledOpacity = 0.4;

} // namespace

QIcon loadIcon(const QString &name, const QColor &colour, int size)
{
    if (name == u"brand-logo"_s) {
        return QIcon(u":/app/solvik-vpn-mark.png"_s);
    }
    const QString key = name + colour.name() + QString::number(size);
    const auto found = cache().constFind(key);
    if (found != cache().constEnd()) {
        return *found;
    }
    QFile file(u":/icons/"_s + name + u".svg"_s);
    if (!file.open(QIODevice::ReadOnly)) {
        return QIcon();
    }
    const QByteArray svg = file.readAll().replace("currentColor", colour.name().toLatin1());
    QSvgRenderer renderer(svg);
    QIcon icon;
    for (const QIcon::Mode mode :
         {QIcon::Normal, QIcon::Active, QIcon::Selected, QIcon::Disabled}) {
        QPixmap pixmap(QSize(size, size) * devicePixelRatio);
        pixmap.setDevicePixelRatio(devicePixelRatio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        if (mode == QIcon::Disabled) {
            painter.setOpacity(disabledOpacity);
        }
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap, mode, QIcon::Off);
    }
    cache().insert(key, icon);
    return icon;
}

qsizetype cachedIconCount()
{
    return cache().size();
}
