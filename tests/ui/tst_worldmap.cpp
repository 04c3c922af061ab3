#include "support/pixelcheck.h"
#include "ui/landoutline.h"
#include "ui/widgets/worldmap.h"

#include <QAnimationDriver>
#include <QApplication>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// Moves every animation of the process by hand instead of by the clock.
class SteppedAnimationDriver : public QAnimationDriver
{
public:
    void step(qint64 ms)
    {
        m_elapsed += ms;
        advance();
    }
    qint64 elapsed() const override { return m_elapsed; }

protected:
    // The animation timer adds this to the time it started the driver at.
    void start() override
    {
        m_elapsed = 0;
        QAnimationDriver::start();
    }

private:
    qint64 m_elapsed = 0;
};

struct TestServer
{
    QString id;
    QString name;
    QString city;
    double longitude;
    double latitude;
};

const QList<TestServer> &testServers()
{
    static const QList<TestServer> servers{
        {u"ams"_s, u"Amsterdam 1"_s, u"Amsterdam"_s, 4.9, 52.37},
        {u"fra"_s, u"Frankfurt 1"_s, u"Frankfurt"_s, 8.68, 50.11},
        {u"nyc"_s, u"New York 1"_s, u"New York"_s, -74.01, 40.71},
        {u"lax"_s, u"Los Angeles 1"_s, u"Los Angeles"_s, -118.24, 34.05},
        {u"svb"_s, u"Svalbard 1"_s, u"Longyearbyen"_s, 15.6, 78.2},
        {u"jnb"_s, u"Johannesburg 1"_s, u"Johannesburg"_s, 28.04, -26.2},
    };
    return servers;
}

QString endpointOf(const QString &id)
{
    return id + u".example.net:443"_s;
}

// Records with geolocated coordinates; and one whose country is known by name only, without
// coordinates, at (0, 0).
QList<api::ServerRecord> records()
{
    QList<api::ServerRecord> list;
    for (const TestServer &server : testServers()) {
        api::ServerRecord record;
        record.id = server.id;
        record.name = server.name;
        record.endpoint = endpointOf(server.id);
        record.geoLocation = api::GeoLocation{u"XX"_s, u"Somewhere"_s, server.city, server.latitude,
                                              server.longitude};
        list.append(record);
    }
    api::ServerRecord nowhere;
    nowhere.id = u"nowhere"_s;
    nowhere.name = u"Mystery 1"_s;
    nowhere.endpoint = endpointOf(u"nowhere"_s);
    nowhere.countryCode = u"ZZ"_s;
    nowhere.country = u"Atlantis"_s;
    list.append(nowhere);
    return list;
}

QPointF dotAt(const WorldMap &map, const QString &id)
{
    if (id == u"nowhere"_s) {
        return map.view().project(0, 0);
    }
    const auto found = std::find_if(testServers().cbegin(), testServers().cend(),
                                    [&](const TestServer &server) { return server.id == id; });
    return map.view().project(found->longitude, found->latitude);
}

const ServerLocation chicago{u"US"_s, u"United States"_s, u"Chicago"_s, -87.63, 41.88, true, true};

using pixelcheck::anyPixelNear;
using pixelcheck::near;

QByteArray describe(const QColor &actual, const QColor &expected)
{
    return (actual.name() + u" instead of "_s + expected.name()).toLatin1();
}

#define QCOMPARE_COLOUR(image, point, expected, tolerance)                                         \
    do {                                                                                           \
        const QColor actual_ = (image).pixelColor((point).toPoint());                              \
        QVERIFY2(near(actual_, (expected), (tolerance)), describe(actual_, (expected)).data());    \
    } while (false)

QColor mix(const QColor &from, const QColor &to, double share)
{
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * share),
                            float(from.greenF() + (to.greenF() - from.greenF()) * share),
                            float(from.blueF() + (to.blueF() - from.blueF()) * share));
}

// The background where no land is: the glow fading from its centre to the fill colour.
QColor seaAt(const QPointF &point, const QSize &size, const QColor &glow, const QColor &fill)
{
    const QPointF centre(0.62 * size.width(), 0.35 * size.height());
    const double away = std::hypot(point.x() - centre.x(), point.y() - centre.y());
    return mix(glow, fill, std::min(away / (0.8 * size.width()), 1.0));
}

// Counts the paints a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

const QSize mapSize(1180, 780);

} // namespace

class TestWorldMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void markers();
    void click_data();
    void click();
    void wheelZoomsAboutThePointer();
    void zoomButtons();
    void hoverShowsPlainToolTips();
    void selectionFlies_data();
    void selectionFlies();
    void connectedMapStaysOnTheConnection();
    void paintsLandAndSea_data();
    void paintsLandAndSea();
    void paintsMarkers_data();
    void paintsMarkers();
    void paintsArcWhileConnecting();
    void noLandWithoutData_data();
    void noLandWithoutData();
    void repaintsOnlyWhileSomethingMoves();

private:
    bool showMap(WorldMap &map);
    void finishFlight();

    SteppedAnimationDriver m_driver;
    WorldMap *m_map = nullptr;
};

void TestWorldMap::initTestCase()
{
    m_driver.install();
}

void TestWorldMap::cleanupTestCase()
{
    m_driver.uninstall();
}

void TestWorldMap::init()
{
    m_map = new WorldMap;
    m_map->setServers(records());
    QVERIFY(showMap(*m_map));
}

void TestWorldMap::cleanup()
{
    delete m_map;
    m_map = nullptr;
}

bool TestWorldMap::showMap(WorldMap &map)
{
    map.resize(mapSize);
    map.show();
    return QTest::qWaitForWindowExposed(&map);
}

void TestWorldMap::finishFlight()
{
    // Animations reach the driver through two queued calls.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    for (int ms = 0; ms < 800; ms += 50) {
        m_driver.step(50);
    }
}

void TestWorldMap::markers()
{
    QCOMPARE(m_map->markerCount(), testServers().size() + 1);
    QCOMPARE(m_map->view().size(), mapSize);
    m_map->setServers({});
    QCOMPARE(m_map->markerCount(), 0);
}

void TestWorldMap::click_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    // How far along the way from one dot to the other the press is.
    QTest::addColumn<double>("along");
    QTest::addColumn<QPoint>("travel");
    QTest::addColumn<QString>("clicked");
    // Amsterdam and Frankfurt are about 19 px apart at this size and zoom.
    QTest::newRow("nearer Amsterdam") << u"ams"_s << u"fra"_s << 0.35 << QPoint() << u"ams"_s;
    QTest::newRow("nearer Frankfurt") << u"ams"_s << u"fra"_s << 0.65 << QPoint() << u"fra"_s;
    QTest::newRow("wrapped record") << u"fra"_s << u"fra"_s << 0.0 << QPoint() << u"fra"_s;
    QTest::newRow("moved 6 px") << u"nyc"_s << u"nyc"_s << 0.0 << QPoint(3, -3) << u"nyc"_s;
    QTest::newRow("moved 7 px pans") << u"nyc"_s << u"nyc"_s << 0.0 << QPoint(4, -3) << QString();
    QTest::newRow("beyond 18 px") << u"nyc"_s << u"lax"_s << 0.3 << QPoint() << QString();
    QTest::newRow("no coordinates") << u"nowhere"_s << u"nowhere"_s << 0.0 << QPoint() << QString();
}

void TestWorldMap::click()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(double, along);
    QFETCH(QPoint, travel);
    QFETCH(QString, clicked);
    QSignalSpy spy(m_map, &WorldMap::serverClicked);
    const QPointF press = dotAt(*m_map, from) + (dotAt(*m_map, to) - dotAt(*m_map, from)) * along;
    const QPointF nycBefore = dotAt(*m_map, u"nyc"_s);

    QTest::mousePress(m_map, Qt::LeftButton, {}, press.toPoint());
    if (!travel.isNull()) {
        QTest::mouseMove(m_map, press.toPoint() + travel);
    }
    QTest::mouseRelease(m_map, Qt::LeftButton, {}, press.toPoint() + travel);

    QCOMPARE(spy.size(), clicked.isEmpty() ? 0 : 1);
    if (!clicked.isEmpty()) {
        QCOMPARE(spy.first().first().toString(), clicked);
    }
    // A click leaves the map where it is; a drag carries it along with the pointer.
    const bool dragged = std::abs(travel.x()) + std::abs(travel.y()) > 6;
    const QPointF moved = dotAt(*m_map, u"nyc"_s) - nycBefore;
    QVERIFY(std::abs(moved.x() - (dragged ? travel.x() : 0)) < 1e-6);
    QVERIFY(std::abs(moved.y() - (dragged ? travel.y() : 0)) < 1e-6);
}

void TestWorldMap::wheelZoomsAboutThePointer()
{
    const QPointF pointer = dotAt(*m_map, u"fra"_s);
    const auto wheel = [&](int delta) {
        QWheelEvent event(pointer, m_map->mapToGlobal(pointer), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_map, &event);
        return event.isAccepted();
    };
    QVERIFY(wheel(120));
    QVERIFY(std::abs(m_map->view().zoom() - 1.6 * 1.2) < 1e-12);
    QVERIFY((dotAt(*m_map, u"fra"_s) - pointer).manhattanLength() < 1e-6);
    QVERIFY(!wheel(0));
    QVERIFY(std::abs(m_map->view().zoom() - 1.6 * 1.2) < 1e-12);
    QVERIFY(wheel(-120));
    QVERIFY(std::abs(m_map->view().zoom() - 1.6) < 1e-12);
}

void TestWorldMap::zoomButtons()
{
    QSignalSpy spy(m_map, &WorldMap::serverClicked);
    const QPoint zoomIn(mapSize.width() - 36, 46);
    const QPoint zoomOut(mapSize.width() - 36, 90);
    const QPointF focal = m_map->view().focalPoint();
    // The map point at the focal point, in map units.
    const QPointF mapPoint(m_map->view().centre().x(),
                           MapView::mercatorY(m_map->view().centre().y()));

    QTest::mouseClick(m_map, Qt::LeftButton, {}, zoomIn);
    QVERIFY(std::abs(m_map->view().zoom() - 2.0) < 1e-12);
    // ...stays there.
    QVERIFY((m_map->view().transform().map(mapPoint) - focal).manhattanLength() < 1e-6);

    QTest::mouseClick(m_map, Qt::LeftButton, {}, zoomIn);
    QVERIFY(std::abs(m_map->view().zoom() - 2.5) < 1e-12);
    QTest::mouseClick(m_map, Qt::LeftButton, {}, zoomOut);
    QVERIFY(std::abs(m_map->view().zoom() - 2.0) < 1e-12);
    QTest::mouseClick(m_map, Qt::LeftButton, {}, zoomOut);
    QTest::mouseClick(m_map, Qt::LeftButton, {}, zoomOut);
    QVERIFY(std::abs(m_map->view().zoom() - MapView::minimumZoom) < 1e-12);
    QVERIFY((m_map->view().transform().map(mapPoint) - focal).manhattanLength() < 1e-6);
    QCOMPARE(spy.size(), 0);
}

void TestWorldMap::hoverShowsPlainToolTips()
{
    QList<api::ServerRecord> servers = records();
    servers[2].name = u"<b>New York</b> & co"_s;
    m_map->setServers(servers);
    m_map->setOwnLocation(chicago);
    // The toolkit's own tool tip request, which comes when the pointer rests.
    const auto rest = [this](const QPoint &at) {
        QHelpEvent help(QEvent::ToolTip, at, m_map->mapToGlobal(at));
        QApplication::sendEvent(m_map, &help);
    };

    const QPoint newYork = dotAt(*m_map, u"nyc"_s).toPoint() + QPoint(5, 5);
    QTest::mouseMove(m_map, newYork);
    QTRY_VERIFY(QToolTip::isVisible());
    const QString serverTip = QToolTip::text();
    QVERIFY2(serverTip.contains(u"&lt;b&gt;New York&lt;/b&gt; &amp; co"_s), qPrintable(serverTip));
    QVERIFY(serverTip.contains(u"Approximate server location"_s));
    QCOMPARE(m_map->cursor().shape(), Qt::PointingHandCursor);
    rest(newYork);
    QCOMPARE(QToolTip::text(), serverTip);

    QTest::mouseMove(m_map, m_map->view().project(chicago.longitude, chicago.latitude).toPoint());
    QTRY_COMPARE(QToolTip::text(), u"Your approximate location based on your public IP"_s);

    // Nothing for the dot that has no coordinates: the map's own tip shows there.
    const QPoint nowhere = dotAt(*m_map, u"nowhere"_s).toPoint();
    QTest::mouseMove(m_map, nowhere);
    QTRY_VERIFY(!QToolTip::isVisible());
    QCOMPARE(m_map->cursor().shape(), Qt::OpenHandCursor);
    rest(nowhere);
    QCOMPARE(QToolTip::text(), u"Drag to move the map \u00b7 scroll to zoom"_s);
}

void TestWorldMap::selectionFlies_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("centre");
    QTest::newRow("server") << u"nyc"_s << 3.0 << QPointF(-74.01, 40.71);
    QTest::newRow("far north stops at 65") << u"svb"_s << 3.0 << QPointF(15.6, 65);
    QTest::newRow("unknown id") << u"gone"_s << 1.6 << QPointF(0, 20);
    QTest::newRow("no coordinates") << u"nowhere"_s << 1.6 << QPointF(0, 20);
}

void TestWorldMap::selectionFlies()
{
    QFETCH(QString, id);
    QFETCH(double, zoom);
    QFETCH(QPointF, centre);
    // Start away from every target.
    m_map->focusServer(u"lax"_s);
    finishFlight();
    QVERIFY(std::abs(m_map->view().centre().x() - -118.24) < 1e-9);

    const double startZoom = m_map->view().zoom();
    m_map->setSelectedServer(id);
    QCOMPARE(m_map->selectedId(), id);
    // Halfway through the flight the map is on its way.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    m_driver.step(375);
    if (zoom != startZoom) {
        QVERIFY(std::abs(m_map->view().zoom() - (startZoom + zoom) / 2) < 0.01);
    }
    finishFlight();
    QVERIFY(std::abs(m_map->view().zoom() - zoom) < 1e-9);
    QVERIFY2(
        (m_map->view().centre() - centre).manhattanLength() < 1e-9,
        qPrintable(u"%1, %2"_s.arg(m_map->view().centre().x()).arg(m_map->view().centre().y())));
}

void TestWorldMap::connectedMapStaysOnTheConnection()
{
    m_map->setConnectionState(false, true, endpointOf(u"fra"_s));
    const QPointF centre = m_map->view().centre();
    m_map->setSelectedServer(u"nyc"_s);
    m_map->focusServer(u"lax"_s);
    finishFlight();
    QCOMPARE(m_map->selectedId(), u"nyc"_s);
    QCOMPARE(m_map->view().centre(), centre);
    QCOMPARE(m_map->view().zoom(), MapView::minimumZoom);

    const QColor accent(QRgb(0x87d6c2));
    const QColor plainDot(QRgb(0x23314b));
    QImage image = m_map->grab().toImage();
    QCOMPARE_COLOUR(image, dotAt(*m_map, u"fra"_s), accent, 3);
    QCOMPARE_COLOUR(image, dotAt(*m_map, u"nyc"_s), plainDot, 3);
    QCOMPARE_COLOUR(image, dotAt(*m_map, u"jnb"_s), plainDot, 3);

    // Disconnected, the highlight goes back to the selection.
    m_map->setConnectionState(false, false, QString());
    image = m_map->grab().toImage();
    QCOMPARE_COLOUR(image, dotAt(*m_map, u"nyc"_s), accent, 3);
    QCOMPARE_COLOUR(image, dotAt(*m_map, u"jnb"_s), plainDot, 3);
}

void TestWorldMap::paintsLandAndSea_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("glow");
    QTest::addColumn<QColor>("land");
    QTest::newRow("dark") << false << QColor(QRgb(0x12191f)) << QColor(QRgb(0x1e3035))
                          << QColor(QRgb(0x27363d));
    QTest::newRow("light") << true << QColor(QRgb(0xf4f6f7)) << QColor(QRgb(0xe9f0f0))
                           << QColor(QRgb(0xdbe3e5));
}

void TestWorldMap::paintsLandAndSea()
{
    QFETCH(bool, light);
    QFETCH(QColor, fill);
    QFETCH(QColor, glow);
    QFETCH(QColor, land);
    m_map->setAppearance(light, QColor(QRgb(0xff91ad)));
    const QImage image = m_map->grab().toImage();
    const QPointF africa = m_map->view().project(20, 5);
    const QPointF atlantic = m_map->view().project(-35, 15);
    QVERIFY(atlantic.y() > 160 && africa.y() > 160);
    QCOMPARE_COLOUR(image, africa, land, 2);
    QCOMPARE_COLOUR(image, atlantic, seaAt(atlantic, mapSize, glow, fill), 3);
    // No dot where the server without coordinates would be.
    const QPointF nowhere = dotAt(*m_map, u"nowhere"_s);
    QCOMPARE_COLOUR(image, nowhere, seaAt(nowhere, mapSize, glow, fill), 3);

    // Far north, where outlines that cross the date line could cut a band across the map.
    m_map->setSelectedServer(u"svb"_s);
    finishFlight();
    const QImage north = m_map->grab().toImage();
    const QPointF sweden = m_map->view().project(20, 66);
    const QPointF norwegianSea = m_map->view().project(-5, 67);
    QVERIFY(norwegianSea.y() > 160 && sweden.y() > 160);
    QCOMPARE_COLOUR(north, sweden, land, 2);
    QCOMPARE_COLOUR(north, norwegianSea, seaAt(norwegianSea, mapSize, glow, fill), 3);
}

void TestWorldMap::paintsMarkers_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<QColor>("dot");
    QTest::addColumn<QColor>("you");
    QTest::addColumn<QColor>("label");
    QTest::addColumn<QColor>("button");
    QTest::addColumn<QColor>("buttonText");
    QTest::newRow("dark") << false << QColor(QRgb(0x23314b)) << QColor(QRgb(0x82c8ff))
                          << QColor(QRgb(0x202b32)) << QColor(32, 43, 50) << QColor(QRgb(0xd8e2e3));
    QTest::newRow("light") << true << QColor(QRgb(0xffffff)) << QColor(QRgb(0x287bc1))
                           << QColor(QRgb(0xffffff)) << QColor(255, 255, 255)
                           << QColor(QRgb(0x34434a));
}

void TestWorldMap::paintsMarkers()
{
    QFETCH(bool, light);
    QFETCH(QColor, dot);
    QFETCH(QColor, you);
    QFETCH(QColor, label);
    QFETCH(QColor, button);
    QFETCH(QColor, buttonText);
    const QColor accent(QRgb(0x7aaeff));
    m_map->setAppearance(light, accent);
    // A second server in the same city, listed later, never covers the chosen one.
    QList<api::ServerRecord> servers = records();
    api::ServerRecord twin = *std::find_if(
        servers.cbegin(), servers.cend(), [](const auto &record) { return record.id == u"nyc"_s; });
    twin.id = u"nyc-2"_s;
    servers.append(twin);
    m_map->setServers(servers);
    m_map->setOwnLocation(chicago);
    m_map->setSelectedServer(u"nyc"_s);
    finishFlight();
    const QImage image = m_map->grab().toImage();

    const QPointF newYork = dotAt(*m_map, u"nyc"_s);
    QCOMPARE_COLOUR(image, newYork, accent, 3);
    QCOMPARE_COLOUR(image, dotAt(*m_map, u"lax"_s), dot, 3);
    // The city's label box stands 15 px above the dot; sampled in its bottom padding.
    QCOMPARE_COLOUR(image, newYork - QPointF(0, 18), label, 2);

    const QPointF own = m_map->view().project(chicago.longitude, chicago.latitude);
    QCOMPARE_COLOUR(image, own, you, 3);
    // "You · Chicago" hangs 12 px below the marker; sampled in its top padding.
    QCOMPARE_COLOUR(image, own + QPointF(0, 15), label, 2);

    // The buttons are translucent, so whatever lies below shows through a little.
    const int right = mapSize.width();
    QCOMPARE_COLOUR(image, QPointF(right - 50, 46), button, 6);
    QCOMPARE_COLOUR(image, QPointF(right - 50, 90), button, 6);
    // Their "+" and "−" cross the middle.
    QVERIFY(anyPixelNear(image, QRect(right - 39, 43, 7, 7), buttonText, 40));
    QVERIFY(anyPixelNear(image, QRect(right - 39, 87, 7, 7), buttonText, 40));
    QVERIFY(!anyPixelNear(image, QRect(right - 39, 60, 7, 7), buttonText, 40));
}

void TestWorldMap::paintsArcWhileConnecting()
{
    m_map->setSelectedServer(u"lax"_s);
    finishFlight();
    // The arc runs from "You" and bows upwards; the curve's middle lies halfway from the chord's
    // middle to the control point.
    const QPointF start = m_map->view().project(chicago.longitude, chicago.latitude);
    const QPointF end = dotAt(*m_map, u"lax"_s);
    const QPointF span = end - start;
    const double length = std::hypot(span.x(), span.y());
    QPointF normal(-span.y() / length, span.x() / length);
    if (normal.y() > 0) {
        normal = -normal;
    }
    const QPoint middle =
        ((start + end) / 2 + normal * std::min(0.22 * length, 80.0) / 2).toPoint();

    const QColor idle = m_map->grab().toImage().pixelColor(middle);
    m_map->setConnectionState(true, false, QString());
    // While the user's own place is unknown no arc is drawn.
    QCOMPARE(m_map->grab().toImage().pixelColor(middle), idle);
    m_map->setOwnLocation(chicago);
    const QColor busy = m_map->grab().toImage().pixelColor(middle);
    const QColor accent(QRgb(0x87d6c2));
    const auto distance = [](const QColor &a, const QColor &b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue());
    };
    QVERIFY2(distance(busy, accent) + 60 < distance(idle, accent), describe(busy, idle).data());
}

void TestWorldMap::noLandWithoutData_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("malformed") << QByteArray(R"({"features":[{"geometry":{"type":"Polygon",)"
                                             R"("coordinates":[[[0,0],[1,"x"]]]}}, 7])");
}

void TestWorldMap::noLandWithoutData()
{
    QFETCH(QByteArray, json);
    WorldMap map(parseLandOutline(json));
    map.setServers(records());
    map.setOwnLocation(chicago);
    QVERIFY(showMap(map));
    const QImage image = map.grab().toImage();
    const QPointF africa = map.view().project(20, 5);
    QCOMPARE_COLOUR(image, africa,
                    seaAt(africa, mapSize, QColor(QRgb(0x1e3035)), QColor(QRgb(0x12191f))), 3);
    QCOMPARE_COLOUR(image, dotAt(map, u"nyc"_s), QColor(QRgb(0x23314b)), 3);
}

void TestWorldMap::repaintsOnlyWhileSomethingMoves()
{
    PaintCounter counter;
    m_map->installEventFilter(&counter);
    QVERIFY(!m_map->isAnimating());
    // A selection that has no dot draws no ring.
    m_map->setSelectedServer(u"nowhere"_s);
    m_map->setConnectionState(true, false, QString());
    QVERIFY(!m_map->isAnimating());
    QTest::qWait(120);
    counter.paints = 0;
    QTest::qWait(120);
    QCOMPARE(counter.paints, 0);

    m_map->setOwnLocation(chicago);
    QVERIFY(m_map->isAnimating());
    QTRY_VERIFY(counter.paints >= 2);

    m_map->hide();
    QVERIFY(!m_map->isAnimating());
    m_map->setSelectedServer(u"nyc"_s);
    m_map->setConnectionState(false, true, endpointOf(u"fra"_s));
    QVERIFY(!m_map->isAnimating());
    counter.paints = 0;
    QTest::qWait(120);
    QCOMPARE(counter.paints, 0);

    m_map->show();
    QVERIFY(m_map->isAnimating());
    m_map->setOwnLocation(ServerLocation());
    QVERIFY(m_map->isAnimating()); // the connected server's ring
    m_map->setConnectionState(false, false, QString());
    m_map->setSelectedServer(QString());
    QVERIFY(!m_map->isAnimating());
}

QTEST_MAIN(TestWorldMap)
#include "tst_worldmap.moc"
