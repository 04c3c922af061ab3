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
    const QString key = name + colour.name() + QString::number(size);
    const auto found = cache().constFind(key);
    if (found != cache().constEnd()) {
        return *found;
    }
    QFile file(name == u"brand-logo"_s ? u":/app/solvik-vpn-mark.svg"_s
                                       : u":/icons/"_s + name + u".svg"_s);
    if (!file.open(QIODevice::ReadOnly)) {
        return QIcon();
    }
    const QByteArray svg = file.readAll().replace("currentColor", colour.name().toLatin1());
    QSvgRenderer renderer(svg);
    const auto render = [&](qreal opacity) {
        QPixmap pixmap(QSize(size, size) * devicePixelRatio);
        pixmap.setDevicePixelRatio(devicePixelRatio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setOpacity(opacity);
        renderer.render(&painter, QRectF(0, 0, size, size));
        return pixmap;
    };
    // Hovered and selected look as the normal icon: one picture serves the three.
    const QPixmap normal = render(1.0);
    QIcon icon;
    for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Selected}) {
        icon.addPixmap(normal, mode, QIcon::Off);
    }
    icon.addPixmap(render(disabledOpacity), QIcon::Disabled, QIcon::Off);
    cache().insert(key, icon);
    return icon;
}

qsizetype cachedIconCount()
{
    return cache().size();
}
