#pragma once

#include <QPointF>
#include <QSize>
#include <QTransform>

// The part of the world a map widget shows: the widget's size, the map point drawn at the focal
// point (centre) and the zoom. Map points are (longitude, Mercator y) in degree units; the view
// turns them into widget pixels and keeps the map covering the widget.
class MapView
{
public:
    static constexpr double minimumZoom = 1.6;
    static constexpr double maximumZoom = 6.0;
    // Mercator stretches without bound towards the poles; the map ends at these latitudes.
    static constexpr double northernLimit = 80;
    static constexpr double southernLimit = -75;

    // The Mercator y of a latitude in degrees (growing southwards), the latitude clamped to the
    // limits first; and back, clamped likewise.
    static double mercatorY(double latitude);
    static double latitudeAt(double y);

    QSize size() const { return m_size; }
    // A new size shows more or less of the map, so the centre is clamped again.
    void setSize(const QSize &size);

    // (longitude, latitude) in degrees of the map point at the focal point.
    QPointF centre() const { return m_centre; }
    void setCentre(const QPointF &centre);

    double zoom() const { return m_zoom; }
    // Clamped to [minimumZoom, maximumZoom].
    void setZoom(double zoom);

    // Pixels per degree.
    double scale() const;
    // Where the centre is drawn: horizontally centred, 40 % down.
    QPointF focalPoint() const;
    // From map units to widget pixels.
    QTransform transform() const;
    QPointF project(double longitude, double latitude) const;

    // Multiplies the zoom by `factor` (within the limits) keeping the map point under `point`
    // where it is.
    void zoomAt(double factor, const QPointF &point);
    // Moves the map by `delta` pixels, as a drag does.
    void panBy(const QPointF &delta);

private:
    void setCentreInMapUnits(double longitude, double y);
    void clampCentre();

    QSize m_size;
    QPointF m_centre{0, 20};
    double m_zoom = minimumZoom;
};
