#include "ui/landoutline.h"
#include "ui/mapview.h"

#include <QTest>

#include <cmath>
#include <numbers>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double degrees = 180 / std::numbers::pi;

// The Mercator y through the inverse Gudermannian, a different road to the same function.
double gudermannianY(double latitude)
{
    return -degrees * std::asinh(std::tan(latitude / degrees));
}

// The map point (longitude, latitude) drawn at `pixel`.
QPointF mapPointAt(const MapView &view, const QPointF &pixel)
{
    const QPointF offset = (pixel - view.focalPoint()) / view.scale();
    return {view.centre().x() + offset.x(),
            MapView::latitudeAt(MapView::mercatorY(view.centre().y()) + offset.y())};
}

MapView viewOf(const QSize &size, double zoom, const QPointF &centre)
{
    MapView view;
    view.setSize(size);
    view.setZoom(zoom);
    view.setCentre(centre);
    return view;
}

bool near(const QPointF &a, const QPointF &b, double tolerance)
{
    return std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance;
}

} // namespace

class TestMapView : public QObject
{
    Q_OBJECT

private slots:
    void projection_data();
    void projection();
    void latitudesBeyondTheLimits_data();
    void latitudesBeyondTheLimits();
    void scale_data();
    void scale();
    void centreClamp_data();
    void centreClamp();
    void mapEdgesStayAtTheWidgetEdges();
    void zoomAt_data();
    void zoomAt();
    void panFollowsThePointer();
    void landOutline_data();
    void landOutline();
    void missingLandResource();
};

void TestMapView::projection_data()
{
    QTest::addColumn<double>("latitude");
    for (const double latitude : {-75.0, -45.5, -1e-7, 0.0, 12.34, 45.0, 52.37, 79.999, 80.0}) {
        QTest::addRow("%g", latitude) << latitude;
    }
}

void TestMapView::projection()
{
    QFETCH(double, latitude);
    const double y = MapView::mercatorY(latitude);
    QVERIFY(std::abs(y - gudermannianY(latitude)) < 1e-9);
    QVERIFY(std::abs(MapView::latitudeAt(y) - latitude) < 1e-9);
    // North is up: y falls as latitude rises.
    QVERIFY(latitude == 0 ? std::abs(y) < 1e-12 : (y < 0) == (latitude > 0));
}

void TestMapView::latitudesBeyondTheLimits_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("drawnAt");
    QTest::newRow("just north") << 80.0001 << 80.0;
    QTest::newRow("far north") << 85.0 << 80.0;
    QTest::newRow("pole") << 90.0 << 80.0;
    QTest::newRow("just south") << -75.0001 << -75.0;
    QTest::newRow("far south") << -89.0 << -75.0;
}

void TestMapView::latitudesBeyondTheLimits()
{
    QFETCH(double, latitude);
    QFETCH(double, drawnAt);
    const MapView view = viewOf({1180, 780}, 4, {20, 30});
    QCOMPARE(view.project(20, latitude), view.project(20, drawnAt));
    QCOMPARE(MapView::mercatorY(latitude), MapView::mercatorY(drawnAt));
    // The inverse of a y beyond the map's ends lands on the nearer limit.
    QCOMPARE(MapView::latitudeAt(drawnAt > 0 ? -1e6 : 1e6), drawnAt);
}

void TestMapView::scale_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<double>("scale");
    // The larger of (H - 110) / 409.6 and W / 360, times the zoom.
    QTest::newRow("wide window") << QSize(1180, 780) << 1.6 << 1180 / 360.0 * 1.6;
    QTest::newRow("tall window") << QSize(400, 1000) << 2.0 << 890 / 409.6 * 2;
    QTest::newRow("no size") << QSize(0, 0) << 1.6 << 1.6 / 360;
    QTest::newRow("zoom above the maximum") << QSize(720, 500) << 9.0 << 2.0 * 6;
    QTest::newRow("zoom below the minimum") << QSize(720, 500) << 0.5 << 2.0 * 1.6;
}

void TestMapView::scale()
{
    QFETCH(QSize, size);
    QFETCH(double, zoom);
    QFETCH(double, scale);
    const MapView view = viewOf(size, zoom, {0, 20});
    QVERIFY(std::abs(view.scale() - scale) < 1e-12);
    QCOMPARE(view.focalPoint(), QPointF(size.width() / 2.0, size.height() * 0.4));
}

void TestMapView::centreClamp_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("requested");
    QTest::addColumn<QPointF>("centre");
    // Worked out separately from the clamp rules; at zoom 1.6 a window wider than tall shows
    // 225 degrees, so the centre may move 67.5 degrees either way.
    QTest::newRow("inside") << QSize(1180, 780) << 3.0 << QPointF(10, 40) << QPointF(10, 40);
    QTest::newRow("east edge") << QSize(1180, 780) << 1.6 << QPointF(170, 20) << QPointF(67.5, 20);
    QTest::newRow("south-west corner")
        << QSize(1180, 780) << 1.6 << QPointF(-170, -70) << QPointF(-67.5, -25.994450553260933);
    QTest::newRow("wide short window keeps longitude 0")
        << QSize(4000, 200) << 1.6 << QPointF(0, 20) << QPointF(0, 20);
    QTest::newRow("wide short window, far east")
        << QSize(4000, 200) << 1.6 << QPointF(100, 79) << QPointF(67.5, 79);
    // Taller than the whole map: the map's middle (Y(80) + Y(-75)) / 2 sits at the focal point.
    QTest::newRow("tall narrow window")
        << QSize(300, 2000) << 1.6 << QPointF(40, 60) << QPointF(40, 11.626527855051373);
}

void TestMapView::centreClamp()
{
    QFETCH(QSize, size);
    QFETCH(double, zoom);
    QFETCH(QPointF, requested);
    QFETCH(QPointF, centre);
    const MapView view = viewOf(size, zoom, requested);
    QVERIFY2(
        near(view.centre(), centre, 1e-9),
        qPrintable(
            u"%1, %2"_s.arg(view.centre().x(), 0, 'g', 17).arg(view.centre().y(), 0, 'g', 17)));
}

void TestMapView::mapEdgesStayAtTheWidgetEdges()
{
    const QSize size(1180, 780);
    // Dragged as far north as it goes, the map's northern end meets the widget's top edge.
    MapView north = viewOf(size, 6, {30, 80});
    QVERIFY(std::abs(north.project(30, 80).y()) < 1e-9);
    // A taller widget shows more of the north: the centre moves south so no gap opens.
    north.setSize({1180, 1100});
    QVERIFY(north.centre().y() < 76);
    QVERIFY(std::abs(north.project(30, 80).y()) < 1e-9);
    const MapView south = viewOf(size, 6, {30, -75});
    QVERIFY(std::abs(south.project(30, -75).y() - size.height()) < 1e-9);
    // ...and the east end meets the right edge.
    const MapView east = viewOf(size, 6, {179, 0});
    QVERIFY(std::abs(east.project(180, 0).x() - size.width()) < 1e-9);
}

void TestMapView::zoomAt_data()
{
    QTest::addColumn<double>("startZoom");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<double>("zoom");
    QTest::newRow("in about a point") << 3.0 << 1.25 << QPointF(900, 300) << 3.75;
    QTest::newRow("out about a point") << 4.0 << 0.8 << QPointF(300, 500) << 3.2;
    QTest::newRow("wheel in") << 2.0 << 1.2 << QPointF(640, 350) << 2.4;
    QTest::newRow("in stops at the maximum") << 5.5 << 1.25 << QPointF(700, 200) << 6.0;
    QTest::newRow("in at the maximum") << 6.0 << 1.25 << QPointF(700, 200) << 6.0;
    QTest::newRow("out at the minimum") << 1.6 << 0.8 << QPointF(100, 600) << 1.6;
}

void TestMapView::zoomAt()
{
    QFETCH(double, startZoom);
    QFETCH(double, factor);
    QFETCH(QPointF, point);
    QFETCH(double, zoom);
    MapView view = viewOf({1180, 780}, startZoom, {10, 40});
    const QPointF centreBefore = view.centre();
    const QPointF underPointer = mapPointAt(view, point);

    view.zoomAt(factor, point);
    QVERIFY(std::abs(view.zoom() - zoom) < 1e-12);
    QVERIFY(near(mapPointAt(view, point), underPointer, 1e-6));
    if (zoom == startZoom) {
        QVERIFY(near(view.centre(), centreBefore, 1e-9));
    }
}

void TestMapView::panFollowsThePointer()
{
    MapView view = viewOf({1180, 780}, 3, {10, 40});
    const QPointF before = view.project(20, 45);
    view.panBy({30, -20});
    QVERIFY(near(view.project(20, 45), before + QPointF(30, -20), 1e-6));

    // A drag far past the west end stops with the end at the widget's left edge.
    view.panBy({100000, 0});
    QVERIFY(std::abs(view.project(-180, 0).x()) < 1e-9);
}

void TestMapView::landOutline_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QList<int>>("pointCounts");
    // (longitude, latitude) of the first polygon's third point.
    QTest::addColumn<QPointF>("third");

    const auto feature = [](const QByteArray &type, const QByteArray &coordinates) {
        return R"({"type":"Feature","properties":{},"geometry":{"type":")" + type +
               R"(","coordinates":)" + coordinates + "}}";
    };
    const auto collection = [](const QByteArrayList &features) {
        return R"({"type":"FeatureCollection","features":[)" + features.join(',') + "]}";
    };
    const QByteArray square = "[[0,0],[10,0],[10,10],[0,10],[0,0]]";
    const QByteArray triangle = "[[20,0],[30,0],[25,8],[20,0]]";
    const QByteArray hole = "[[2,2],[3,2],[3,3],[2,2]]";

    QTest::newRow("polygon, hole ignored")
        << collection({feature("Polygon", "[" + square + "," + hole + "]")}) << QList<int>{5}
        << QPointF(10, 10);
    QTest::newRow("multipolygon, first ring of each")
        << collection(
               {feature("MultiPolygon", "[[" + square + "," + hole + "],[" + triangle + "]]")})
        << QList<int>{5, 4} << QPointF(10, 10);
    QTest::newRow("several features")
        << collection({feature("Polygon", "[" + triangle + "]"), feature("Point", "[1,2]"),
                       feature("LineString", "[[0,0],[1,1],[2,0]]"),
                       feature("Polygon", "[" + square + "]")})
        << QList<int>{4, 5} << QPointF(25, 8);
    QTest::newRow("bad positions dropped")
        << collection({feature("Polygon",
                               R"([[[0,0],[1],["a","b"],[5,5],null,[6,0,100],[7,"x"],[1,1]]])")})
        << QList<int>{4} << QPointF(6, 0);
    // Crossing the date line, the ring is unwrapped west of -180 and drawn again at the east
    // edge; round the pole it spans exactly the map's width and needs no copy.
    QTest::newRow("ring across the date line")
        << collection({feature("Polygon", "[[[-180,-16],[179,-16.5],[179.5,-17],[-180,-16]]]")})
        << QList<int>{4, 4} << QPointF(-180.5, -17);
    QTest::newRow("ring round the pole")
        << collection({feature("Polygon", "[[[-180,-84],[0,-70],[178,-84.5],[-180,-84]]]")})
        << QList<int>{4} << QPointF(178, MapView::southernLimit);
    QTest::newRow("ring left with two points")
        << collection({feature("Polygon", R"([[[0,0],[1,1],["a",2]]])")}) << QList<int>{}
        << QPointF();
    QTest::newRow("empty polygon and rings")
        << collection({feature("Polygon", "[]"), feature("MultiPolygon", "[[],[[]],7]")})
        << QList<int>{} << QPointF();
    QTest::newRow("coordinates not arrays")
        << collection({feature("Polygon", R"({"a":1})"), feature("MultiPolygon", "\"x\"")})
        << QList<int>{} << QPointF();
    QTest::newRow("features not objects")
        << QByteArray(R"({"features":[1,null,"x",[],{"geometry":[]},{"geometry":{"type":7}}]})")
        << QList<int>{} << QPointF();
    QTest::newRow("features not an array")
        << QByteArray(R"({"features":{}})") << QList<int>{} << QPointF();
    QTest::newRow("array document") << QByteArray("[]") << QList<int>{} << QPointF();
    QTest::newRow("not JSON") << QByteArray("land ho") << QList<int>{} << QPointF();
    QTest::newRow("empty") << QByteArray() << QList<int>{} << QPointF();
    QTest::newRow("truncated") << collection({feature("Polygon", "[" + square + "]")}).chopped(9)
                               << QList<int>{} << QPointF();
}

void TestMapView::landOutline()
{
    QFETCH(QByteArray, json);
    QFETCH(QList<int>, pointCounts);
    QFETCH(QPointF, third);
    const QList<QPolygonF> land = parseLandOutline(json);
    QList<int> counts;
    for (const QPolygonF &polygon : land) {
        counts.append(int(polygon.size()));
    }
    QCOMPARE(counts, pointCounts);
    if (!land.isEmpty()) {
        // Points are in map units: (longitude, Mercator y).
        const QPointF point = land.first().at(2);
        QVERIFY(near(point, QPointF(third.x(), gudermannianY(third.y())), 1e-9));
    }
    if (land.size() == 2 && pointCounts == QList<int>{4, 4}) {
        QCOMPARE(land.at(1), land.at(0).translated(360, 0));
    }
}

void TestMapView::missingLandResource()
{
    // This suite links no resources, so the map's outline is missing here.
    QVERIFY(loadLandOutline().isEmpty());
}

QTEST_GUILESS_MAIN(TestMapView)
#include "tst_mapview.moc"
