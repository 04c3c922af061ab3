#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTest>
#include <QXmlStreamReader>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

QByteArray readResource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The geometries of a GeoJSON FeatureCollection or GeometryCollection.
QJsonArray geometries(const QJsonObject &root)
{
    if (root.value(u"type"_s).toString() == u"GeometryCollection"_s)
        return root.value(u"geometries"_s).toArray();
    QJsonArray result;
    for (const QJsonValue feature : root.value(u"features"_s).toArray())
        result.append(feature.toObject().value(u"geometry"_s));
    return result;
}

bool validRing(const QJsonArray &ring)
{
    if (ring.size() < 4)
        return false;
    for (const QJsonValue point : ring) {
        const QJsonArray lonLat = point.toArray();
        const double lon = lonLat.at(0).toDouble(999);
        const double lat = lonLat.at(1).toDouble(999);
        if (lon < -180 || lon > 180 || lat < -90 || lat > 90)
            return false;
    }
    return true;
}

} // namespace

class ResourcesTest : public QObject
{
    Q_OBJECT

private slots:
    void icons_data();
    void icons();
    void flags_data();
    void flags();
    void flagNamesAreCountryCodes();
    void landOutline();
    void brandMark();
    void windowIcon();
};

void ResourcesTest::icons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("rootColor");
    const QStringList lucide =
        u"globe user-round external-link settings-2 shield power eye eye-off search refresh-cw zap "
        u"map-pin monitor log-out chevron-down chevron-right arrow-up-right plus minus check x copy"_s
            .split(u' ');
    for (const QString &name : lucide)
        QTest::addRow("%s", qPrintable(name)) << name << QString();
    QTest::newRow("dropdown-arrow") << u"dropdown-arrow"_s << u"#9aacae"_s;
    QTest::newRow("dropdown-arrow-light") << u"dropdown-arrow-light"_s << u"#65747a"_s;
}

// Tinting replaces "currentColor"; the arrows also need a colour of their own on the root element
// for style sheets that show the file untinted.
void ResourcesTest::icons()
{
    QFETCH(QString, name);
    QFETCH(QString, rootColor);
    const QByteArray svg = readResource(u":/icons/%1.svg"_s.arg(name));
    QVERIFY2(!svg.isEmpty(), qPrintable(name));
    QVERIFY(svg.contains("currentColor"));
    QVERIFY(QSvgRenderer(svg).isValid());

    QXmlStreamReader xml(svg);
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.name(), u"svg"_s);
    QCOMPARE(xml.attributes().value(u"color"_s).toString(), rootColor);
}

void ResourcesTest::flags_data()
{
    QTest::addColumn<QString>("code");
    for (const char *code : {"de", "us", "jp", "br", "gb", "za"})
        QTest::newRow(code) << QString::fromLatin1(code);
}

void ResourcesTest::flags()
{
    QFETCH(QString, code);
    QSvgRenderer renderer(u":/flags/%1.svg"_s.arg(code));
    QVERIFY(renderer.isValid());
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    QCOMPARE(qAlpha(image.pixel(20, 15)), 255);
}

// The client finds a country's flag by its ISO code, so nothing else may be named like a flag.
void ResourcesTest::flagNamesAreCountryCodes()
{
    static const QRegularExpression code(u"^[a-z]{2}\\.svg$"_s);
    int count = 0;
    for (QDirIterator it(u":/flags"_s, QDir::Files); it.hasNext(); ++count) {
        const QString name = it.nextFileInfo().fileName();
        QVERIFY2(code.match(name).hasMatch(), qPrintable(name));
    }
    QVERIFY2(count >= 200, qPrintable(QString::number(count)));
}

void ResourcesTest::landOutline()
{
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(readResource(u":/map/land.json"_s), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QString type = document.object().value(u"type"_s).toString();
    QVERIFY2(type == u"FeatureCollection"_s || type == u"GeometryCollection"_s, qPrintable(type));

    int polygons = 0;
    for (const QJsonValue value : geometries(document.object())) {
        const QJsonObject geometry = value.toObject();
        const QString kind = geometry.value(u"type"_s).toString();
        const QJsonArray coordinates = geometry.value(u"coordinates"_s).toArray();
        const QJsonArray polygonList =
            kind == u"Polygon"_s ? QJsonArray{coordinates}
                                 : (kind == u"MultiPolygon"_s ? coordinates : QJsonArray());
        for (const QJsonValue polygon : polygonList) {
            const QJsonArray rings = polygon.toArray();
            QVERIFY(!rings.isEmpty());
            for (const QJsonValue ring : rings)
                QVERIFY(validRing(ring.toArray()));
            ++polygons;
        }
    }
    QVERIFY2(polygons >= 100, qPrintable(QString::number(polygons)));
}

void ResourcesTest::brandMark()
{
    const QImage mark(u":/app/solvik-vpn-mark.png"_s);
    QCOMPARE(mark.size(), QSize(256, 256));
    QVERIFY(mark.hasAlphaChannel());
    QCOMPARE(qAlpha(mark.pixel(0, 0)), 0);
    bool opaque = false;
    for (int y = 0; y < mark.height() && !opaque; ++y) {
        for (int x = 0; x < mark.width() && !opaque; ++x)
            opaque = qAlpha(mark.pixel(x, y)) == 255;
    }
    QVERIFY(opaque);
}

// Walks the ICO directory by hand, so the check holds where Qt's ICO plugin is not installed;
// where it is, the plugin must read the same six images.
void ResourcesTest::windowIcon()
{
    const QByteArray ico = readResource(u":/app/solvikvpn.ico"_s);
    QVERIFY(ico.size() > 6);
    const auto *bytes = reinterpret_cast<const uchar *>(ico.constData());
    QCOMPARE(qFromLittleEndian<quint16>(bytes + 2), quint16(1));
    const int count = qFromLittleEndian<quint16>(bytes + 4);
    QCOMPARE(count, 6);
    QVERIFY(ico.size() >= 6 + 16 * count);

    QList<QSize> sizes;
    for (int i = 0; i < count; ++i) {
        const uchar *entry = bytes + 6 + 16 * i;
        const int side = entry[0] == 0 ? 256 : entry[0];
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        QVERIFY(quint64(offset) + length <= quint64(ico.size()));
        const QImage image = QImage::fromData(ico.mid(offset, length), "PNG");
        QCOMPARE(image.size(), QSize(side, side));
        sizes.append(image.size());
    }
    const QList<QSize> expected = {{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {256, 256}};
    QCOMPARE(sizes, expected);

    if (!QImageReader::supportedImageFormats().contains("ico"))
        return;
    QImageReader reader(u":/app/solvikvpn.ico"_s);
    QList<QSize> read;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        read.append(reader.read().size());
    }
    QCOMPARE(read, expected);
}

QTEST_MAIN(ResourcesTest)
#include "tst_resources.moc"
