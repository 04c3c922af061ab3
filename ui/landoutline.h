#pragma once

#include <QByteArray>
#include <QList>
#include <QPolygonF>

// The land masses of a GeoJSON feature collection as polygons in map units (longitude, Mercator
// y): the outer ring of every "Polygon" and of each polygon of a "MultiPolygon". Holes, other
// geometries, positions without two finite numbers and rings left with fewer than three points
// are skipped, so any input gives a (possibly empty) outline. A ring crossing the date line is
// unwrapped, and its part beyond longitude 180 or -180 is repeated on the map's other side.
QList<QPolygonF> parseLandOutline(const QByteArray &geoJson);

// The outline the map draws, from ":/map/land.json"; empty when the resource is missing. Read
// once per process; waits for a read that preloadLandOutline() started.
QList<QPolygonF> loadLandOutline();
// Starts reading the outline on another thread, so that it is ready when a map first paints.
void preloadLandOutline();
