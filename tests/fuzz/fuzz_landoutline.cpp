// Feeds arbitrary bytes to the land outline parser, which reads the map's GeoJSON: whatever it
// accepts must be safe to fill on every paint.
#include "fuzzrequire.h"
#include "ui/landoutline.h"
#include "ui/mapview.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const double top = MapView::mercatorY(MapView::northernLimit);
    const double bottom = MapView::mercatorY(MapView::southernLimit);
    for (const QPolygonF &polygon : parseLandOutline(json)) {
        require(polygon.size() > 2);
        for (const QPointF &point : polygon) {
            require(std::isfinite(point.x()) && std::isfinite(point.y()));
            require(point.y() >= top && point.y() <= bottom);
        }
    }
    return 0;
}
