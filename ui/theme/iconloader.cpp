#include "ui/theme/iconloader.h"

#include "ui/theme/tintediconengine.h"

#include <QFile>
#include <QHash>

using namespace Qt::Literals::StringLiterals;

namespace {

// Touched only from the GUI thread.
QHash<QString, QIcon> &cache()
{
    static QHash<QString, QIcon> icons;
    return icons;
}

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
    const QIcon icon(new TintedIconEngine(svg, size));
    cache().insert(key, icon);
    return icon;
}

qsizetype cachedIconCount()
{
    return cache().size();
}
