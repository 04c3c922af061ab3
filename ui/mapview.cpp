#include "ui/mapview.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double degrees = 180 / std::numbers::pi;
// The land's height in map units at zoom 1, with the 110 px the map leaves free vertically.
constexpr double mapHeight = 409.6;
constexpr double verticalMargin = 110;
constexpr double focalHeight = 0.4;

} // namespace

double MapView::mercatorY(double latitude)
{
    const double clamped = std::clamp(latitude, southernLimit, northernLimit) / degrees;
    return -degrees * std::log(std::tan(std::numbers::pi / 4 + clamped / 2));
}

double MapView::latitudeAt(double y)
{
    const double latitude = (2 * std::atan(std::exp(-y / degrees)) - std::numbers::pi / 2);
    return std::clamp(latitude * degrees, southernLimit, northernLimit);
}

void MapView::setSize(const QSize &size)
{
    m_size = size;
    clampCentre();
}

void MapView::setCentre(const QPointF &centre)
{
    m_centre = centre;
    clampCentre();
}

void MapView::setZoom(double zoom)
{
    m_zoom = std::clamp(zoom, minimumZoom, maximumZoom);
    clampCentre();
}

double MapView::scale() const
{
    const double byHeight = std::max(m_size.height() - verticalMargin, 1.0) / mapHeight;
    const double byWidth = std::max(m_size.width(), 1) / 360.0;
    return std::max(byHeight, byWidth) * m_zoom;
}

QPointF MapView::focalPoint() const
{
    return {m_size.width() / 2.0, focalHeight * m_size.height()};
}

QTransform MapView::transform() const
{
    const double s = scale();
    return QTransform()
        .translate(focalPoint().x(), focalPoint().y())
        .scale(s, s)
        .translate(-m_centre.x(), -mercatorY(m_centre.y()));
}

QPointF MapView::project(double longitude, double latitude) const
{
    return transform().map(QPointF(longitude, mercatorY(latitude)));
}

void MapView::zoomAt(double factor, const QPointF &point)
{
    const double before = scale();
    m_zoom = std::clamp(m_zoom * factor, minimumZoom, maximumZoom);
    const double after = scale();
    const QPointF offset = point - focalPoint();
    setCentreInMapUnits(m_centre.x() + offset.x() / before - offset.x() / after,
                        mercatorY(m_centre.y()) + offset.y() / before - offset.y() / after);
}

void MapView::panBy(const QPointF &delta)
{
    const double s = scale();
    setCentreInMapUnits(m_centre.x() - delta.x() / s, mercatorY(m_centre.y()) - delta.y() / s);
}

void MapView::setCentreInMapUnits(double longitude, double y)
{
    m_centre = {longitude, latitudeAt(y)};
    clampCentre();
}

void MapView::clampCentre()
{
    const double s = scale();
    const double halfWidth = m_size.width() / (2 * s);
    // Only a zoom below 1 could show more than the whole width, and clamp() needs an ordered
    // range.
    const double longitude =
        halfWidth <= 180 ? std::clamp(m_centre.x(), halfWidth - 180, 180 - halfWidth) : 0;
    // No gap may open above or below the map: the focal point's share of the height must stay
    // inside it on both sides.
    const double top = mercatorY(northernLimit);
    const double bottom = mercatorY(southernLimit);
    const double lowest = top + focalHeight * m_size.height() / s;
    const double highest = bottom - (1 - focalHeight) * m_size.height() / s;
    const double y = highest >= lowest ? std::clamp(mercatorY(m_centre.y()), lowest, highest)
                                       : (top + bottom) / 2;
    m_centre = {longitude, latitudeAt(y)};
}
