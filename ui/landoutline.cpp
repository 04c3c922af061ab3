#include "ui/landoutline.h"

#include "ui/mapview.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <future>

using namespace Qt::Literals::StringLiterals;

namespace {

// A ring that crosses the date line jumps by nearly 360 degrees between neighbours; filled as it
// is, the jump would cut a band across the whole map. Such a ring is unwrapped into one
// continuous outline, and what lies beyond either edge of the map is added again on the other
// side.
void addRing(const QJsonArray &ring, QList<QPolygonF> &land)
{
    QPolygonF polygon;
    polygon.reserve(ring.size());
    double previous = 0;
    double shift = 0;
    for (const QJsonValue value : ring) {
        const QJsonArray position = value.toArray();
        if (position.size() < 2 || !position.at(0).isDouble() || !position.at(1).isDouble()) {
            continue;
        }
        const double longitude = position.at(0).toDouble();
        const double latitude = position.at(1).toDouble();
        if (!std::isfinite(longitude) || !std::isfinite(latitude)) {
            continue;
        }
        if (!polygon.isEmpty() && std::abs(longitude - previous) > 180) {
            shift += longitude > previous ? -360 : 360;
        }
        previous = longitude;
        polygon.append({longitude + shift, MapView::mercatorY(latitude)});
    }
    if (polygon.size() <= 2) {
        return;
    }
    const QRectF bounds = polygon.boundingRect();
    land.append(polygon);
    if (bounds.right() > 180) {
        land.append(polygon.translated(-360, 0));
    }
    if (bounds.left() < -180) {
        land.append(polygon.translated(360, 0));
    }
}

// The outer ring comes first; the rest are holes, which the map does not cut out.
void addPolygon(const QJsonArray &rings, QList<QPolygonF> &land)
{
    if (!rings.isEmpty()) {
        addRing(rings.first().toArray(), land);
    }
}

} // namespace

QList<QPolygonF> parseLandOutline(const QByteArray &geoJson)
{
    QList<QPolygonF> land;
    const QJsonArray features =
        QJsonDocument::fromJson(geoJson).object().value(u"features"_s).toArray();
    for (const QJsonValue feature : features) {
        const QJsonObject geometry = feature.toObject().value(u"geometry"_s).toObject();
        const QString type = geometry.value(u"type"_s).toString();
        const QJsonArray coordinates = geometry.value(u"coordinates"_s).toArray();
        if (type == u"Polygon"_s) {
            addPolygon(coordinates, land);
        } else if (type == u"MultiPolygon"_s) {
            for (const QJsonValue polygon : coordinates) {
                addPolygon(polygon.toArray(), land);
            }
        }
    }
    return land;
}

namespace {

QList<QPolygonF> readLandOutline()
{
    QFile file(u":/map/land.json"_s);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return parseLandOutline(file.readAll());
}

// The first caller decides where the outline is read: on a thread of its own for a preload, else
// on the caller's thread when the outline is first asked for.
const std::shared_future<QList<QPolygonF>> &landOutline(std::launch policy)
{
    static const std::shared_future<QList<QPolygonF>> outline =
        std::async(policy, readLandOutline).share();
    return outline;
}

} // namespace

QList<QPolygonF> loadLandOutline()
{
    return landOutline(std::launch::deferred).get();
}

void preloadLandOutline()
{
    landOutline(std::launch::async);
}
