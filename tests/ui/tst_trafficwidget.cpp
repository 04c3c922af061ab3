#include "support/pixelcheck.h"
#include "ui/ratetext.h"
#include "ui/theme/themepalette.h"
#include "ui/widgets/trafficwidget.h"

#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int chartTop = 66;
constexpr int chartBottom = 118;
const QColor mint(0x87, 0xd6, 0xc2);
const QColor darkPanel(0x20, 0x2b, 0x32);
const QString measuring = u"Measuring VPN adapter traffic"_s;

// The chart over an adapter and a clock moved by hand.
struct Rig
{
    std::optional<platform::InterfaceCounters> reading =
        platform::InterfaceCounters{7, true, 10'000, 10'000};
    qint64 nowMs = 5'000;
    TrafficWidget chart{nullptr, [this] { return reading; }, [this] { return nowMs; }};

    Rig() { chart.resize(620, 136); }
    // Lets `ms` pass while the adapter moves the given bytes, then takes a sample.
    void step(qint64 ms, std::uint64_t received, std::uint64_t sent)
    {
        nowMs += ms;
        reading->receivedOctets += received;
        reading->sentOctets += sent;
        chart.sample();
    }
    QList<QPointF> history() const
    {
        QList<QPointF> points;
        for (const TrafficWidget::Sample &entry : chart.samples()) {
            points.append({entry.down, entry.up});
        }
        return points;
    }
    bool isFlat() const { return history() == QList<QPointF>(61, QPointF()); }
    QTimer *timer(const QString &name) { return chart.findChild<QTimer *>(name); }
};

// Channels within 6 of the expected colour.
constexpr int tolerance = 6;

bool near(const QColor &actual, const QColor &expected)
{
    return pixelcheck::near(actual, expected, tolerance);
}

bool anyPixel(const QImage &image, const QRect &area, const QColor &colour)
{
    return pixelcheck::anyPixelNear(image, area, colour, tolerance);
}

} // namespace

class TestTrafficWidget : public QObject
{
    Q_OBJECT

private slots:
    void rateText_data();
    void rateText();
    void measuringThenRate();
    void baselineRestarts_data();
    void baselineRestarts();
    void adapterGone_data();
    void adapterGone();
    void scaleFollowsPeak();
    void reactivationStartsFlat();
    void animationOnlyWhileSeen();
    void previewPixels_data();
    void previewPixels();
    void liveCurvePixels();
};

void TestTrafficWidget::rateText_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << 0.0 << u"0 B/s"_s;
    QTest::newRow("largest bytes") << 999.0 << u"999 B/s"_s;
    QTest::newRow("switch at exactly 1000") << 1000.0 << u"1.0 KB/s"_s;
    QTest::newRow("kilobytes") << 1234.0 << u"1.2 KB/s"_s;
    // 999.999 is still below 1000, so it stays in KB/s and only rounds up when printed.
    QTest::newRow("just below a megabyte") << 999'999.0 << u"1000.0 KB/s"_s;
    QTest::newRow("megabytes") << 2'300'000.0 << u"2.3 MB/s"_s;
    QTest::newRow("gigabytes are the last unit") << 4'500'000'000'000.0 << u"4500.0 GB/s"_s;
}

void TestTrafficWidget::rateText()
{
    QFETCH(double, rate);
    QFETCH(QString, text);
    QCOMPARE(formatRate(rate), text);
}

void TestTrafficWidget::measuringThenRate()
{
    Rig rig;
    rig.chart.setActive(true);
    QVERIFY(rig.chart.isVisible());
    QVERIFY(!rig.chart.rateValid());
    QVERIFY(rig.isFlat());
    QCOMPARE(rig.chart.accessibleDescription(), measuring);

    // Received bytes are the download, sent bytes the upload, per second of elapsed time.
    rig.step(500, 1000, 250);
    QVERIFY(rig.chart.rateValid());
    QCOMPARE(rig.chart.downRate(), 2000.0);
    QCOMPARE(rig.chart.upRate(), 500.0);
    QCOMPARE(rig.history().size(), 61);
    QCOMPARE(rig.history().last(), QPointF(2000.0, 500.0));
    QCOMPARE(rig.chart.accessibleDescription(), u"Download 2.0 KB/s, upload 500 B/s"_s);
}

void TestTrafficWidget::baselineRestarts_data()
{
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<quint64>("identifier");

    QTest::newRow("received went back") << qint64(1000) << qint64(-9000) << qint64(1) << 7ULL;
    QTest::newRow("sent went back") << qint64(1000) << qint64(100) << qint64(-1) << 7ULL;
    QTest::newRow("adapter recreated") << qint64(1000) << qint64(100) << qint64(100) << 8ULL;
    QTest::newRow("no time passed") << qint64(0) << qint64(100) << qint64(100) << 7ULL;
}

void TestTrafficWidget::baselineRestarts()
{
    QFETCH(qint64, elapsed);
    QFETCH(qint64, received);
    QFETCH(qint64, sent);
    QFETCH(quint64, identifier);

    Rig rig;
    rig.chart.setActive(true);
    rig.step(1000, 5000, 4000);
    rig.reading->identifier = identifier;
    rig.step(elapsed, std::uint64_t(received), std::uint64_t(sent));
    QVERIFY(!rig.chart.rateValid());
    QCOMPARE(rig.chart.accessibleDescription(), measuring);
    // Never a spike: the newest sample is zero and the largest is still the one before.
    QCOMPARE(rig.history().last(), QPointF(0.0, 0.0));
    QCOMPARE(rig.chart.targetScale(), 5000.0 * 1.15);

    // The reading at the break is the new baseline.
    rig.step(1000, 3000, 1000);
    QVERIFY(rig.chart.rateValid());
    QCOMPARE(rig.history().last(), QPointF(3000.0, 1000.0));
}

void TestTrafficWidget::adapterGone_data()
{
    QTest::addColumn<bool>("missing");
    QTest::newRow("no adapter with the alias") << true;
    QTest::newRow("adapter not up") << false;
}

void TestTrafficWidget::adapterGone()
{
    QFETCH(bool, missing);

    Rig rig;
    rig.chart.setActive(true);
    rig.step(1000, 5000, 4000);
    const QList<QPointF> before = rig.history();
    const platform::InterfaceCounters counters = *rig.reading;
    if (missing) {
        rig.reading.reset();
    } else {
        rig.reading->up = false;
    }
    rig.nowMs += 1000;
    rig.chart.sample();
    QCOMPARE(rig.history(), before);
    QVERIFY(rig.chart.rateValid());
    QCOMPARE(rig.chart.downRate(), 5000.0);

    // Back again: one sample rebuilds the baseline, the next one measures from it.
    rig.reading = counters;
    rig.step(1000, 1000, 1000);
    QVERIFY(!rig.chart.rateValid());
    rig.step(500, 600, 300);
    QCOMPARE(rig.history().last(), QPointF(1200.0, 600.0));
}

void TestTrafficWidget::scaleFollowsPeak()
{
    Rig rig;
    rig.chart.setActive(true);
    rig.step(1000, 0, 0);
    QCOMPARE(rig.chart.targetScale(), 1000.0);

    rig.step(1000, 2'000'000, 0);
    QCOMPARE(rig.chart.targetScale(), 2'300'000.0);
    QCOMPARE(rig.chart.displayScale(), 1000.0);
    rig.chart.easeScale();
    QCOMPARE(rig.chart.displayScale(), 230'900.0);
    rig.chart.easeScale();
    QCOMPARE(rig.chart.displayScale(), 437'810.0);

    // The peak stays in the 61-sample window for 60 more seconds, then the scale glides back.
    for (int i = 0; i < 60; ++i) {
        rig.step(1000, 0, 0);
    }
    QCOMPARE(rig.chart.targetScale(), 2'300'000.0);
    rig.step(1000, 0, 0);
    QCOMPARE(rig.chart.targetScale(), 1000.0);
    rig.chart.easeScale();
    QCOMPARE(rig.chart.displayScale(), 437'810.0 - 436'810.0 * 0.1);

    // Upload counts as much as download.
    rig.step(1000, 100, 1'000'000);
    QCOMPARE(rig.chart.targetScale(), 1'150'000.0);
}

void TestTrafficWidget::reactivationStartsFlat()
{
    Rig rig;
    rig.chart.setActive(true);
    rig.step(1000, 2'000'000, 1000);
    rig.chart.easeScale();
    // Activating again while active changes nothing.
    rig.chart.setActive(true);
    QCOMPARE(rig.history().last(), QPointF(2'000'000.0, 1000.0));

    rig.chart.setActive(false);
    QVERIFY(rig.chart.isHidden());
    QVERIFY(!rig.timer(u"sampleTimer"_s)->isActive());
    QVERIFY(!rig.chart.rateValid());
    QCOMPARE(rig.chart.downRate(), 0.0);
    QVERIFY(rig.isFlat());
    QCOMPARE(rig.chart.targetScale(), 1000.0);
    QCOMPARE(rig.chart.displayScale(), 1000.0);

    // The counters ran on meanwhile: the first sample after reactivation only sets the baseline.
    rig.reading->receivedOctets += 70'000;
    rig.chart.setActive(true);
    QVERIFY(rig.timer(u"sampleTimer"_s)->isActive());
    QVERIFY(!rig.chart.rateValid());
    QVERIFY(rig.isFlat());
    rig.step(1000, 800, 0);
    QCOMPARE(rig.chart.downRate(), 800.0);
}

void TestTrafficWidget::animationOnlyWhileSeen()
{
    QWidget window;
    Rig rig;
    rig.chart.setParent(&window);
    QTimer *sampling = rig.timer(u"sampleTimer"_s);
    QTimer *animation = rig.timer(u"animationTimer"_s);

    // Activated while the window is hidden (in the tray): sampling, but no animation.
    rig.chart.setActive(true);
    QVERIFY(sampling->isActive());
    QVERIFY(!animation->isActive());
    window.show();
    QVERIFY(animation->isActive());
    window.hide();
    QVERIFY(!animation->isActive());
    QVERIFY(sampling->isActive());
    window.show();
    QVERIFY(animation->isActive());

    rig.chart.setActive(false);
    QVERIFY(!animation->isActive());
    QVERIFY(!sampling->isActive());
    window.hide();
    window.show();
    QVERIFY(!animation->isActive());
}

void TestTrafficWidget::previewPixels_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<QColor>("accent");
    QTest::addColumn<QColor>("panel");
    QTest::addColumn<QColor>("download");
    QTest::addColumn<QColor>("upload");

    const QColor coral(0xf0, 0x8a, 0x5d);
    QTest::newRow("dark") << false << mint << darkPanel << mint << QColor(0xb5, 0xc5, 0xec);
    QTest::newRow("light") << true << coral << QColor(Qt::white)
                           << ThemePalette(true, coral).accentText << QColor(0x53, 0x6e, 0xa7);
}

void TestTrafficWidget::previewPixels()
{
    QFETCH(bool, light);
    QFETCH(QColor, accent);
    QFETCH(QColor, panel);
    QFETCH(QColor, download);
    QFETCH(QColor, upload);

    Rig rig;
    rig.reading.reset();
    rig.chart.setAppearance(light, accent);
    rig.chart.showPreview();
    QVERIFY(rig.chart.rateValid());
    QVERIFY(!rig.timer(u"sampleTimer"_s)->isActive());
    QCOMPARE(rig.chart.displayScale(), 2'300'000.0);
    QCOMPARE(rig.chart.downRate(), rig.history().last().x());
    const QImage image = rig.chart.grab().toImage();

    // Inside the rounded panel: between the values and the chart, and in both side margins.
    QVERIFY(near(image.pixelColor(310, 60), panel));
    QVERIFY(near(image.pixelColor(8, 100), panel));
    QVERIFY(near(image.pixelColor(611, 100), panel));
    // The newest download point sits at the chart's right edge, at its share of the scale.
    const double share = rig.history().last().x() / rig.chart.displayScale();
    const int y = int(chartBottom - (chartBottom - chartTop) * share);
    QVERIFY(anyPixel(image, QRect(597, y - 2, 2, 5), download));
    // The dashed upload curve runs through the right part of the chart.
    QVERIFY(anyPixel(image, QRect(540, chartTop, 60, chartBottom - chartTop), upload));
}

void TestTrafficWidget::liveCurvePixels()
{
    Rig rig;
    rig.chart.setActive(true);
    // Half of the 1 KB/s full scale: the newest point rises to the chart's middle, at the right
    // edge just after the sample.
    rig.step(1000, 500, 0);
    const QRect rightEdge(597, chartTop + 4, 3, 44);
    QVERIFY(anyPixel(rig.chart.grab().toImage(), rightEdge, mint));
    // A second later it has scrolled one step left; the edge waits for the next sample.
    rig.nowMs += 1000;
    QVERIFY(!anyPixel(rig.chart.grab().toImage(), rightEdge, mint));

    // The adapter is recreated: the history still holds the rate, but no curve is drawn.
    rig.reading->identifier = 9;
    rig.step(0, 0, 0);
    const QImage image = rig.chart.grab().toImage();
    for (int row = chartTop + 4; row <= chartBottom - 4; ++row) {
        for (int x = 20; x < 600; ++x) {
            // Only the middle grid line crosses these rows.
            QVERIFY2(std::abs(row - 92) <= 1 || near(image.pixelColor(x, row), darkPanel),
                     qPrintable(u"%1,%2"_s.arg(x).arg(row)));
        }
    }
}

QTEST_MAIN(TestTrafficWidget)
#include "tst_trafficwidget.moc"
