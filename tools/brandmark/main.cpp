#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

QImage render(QSvgRenderer &renderer, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return image;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

template<typename T> void appendLittleEndian(QByteArray &out, T value)
{
    const T stored = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&stored), sizeof stored);
}

// An ICO file: a 6-byte header, one 16-byte directory entry per image, then the images. Each
// image is stored as PNG, which every Windows since Vista reads and which keeps the file small.
QByteArray icoBytes(QSvgRenderer &renderer, const QList<int> &sizes)
{
    QByteArray directory;
    appendLittleEndian<quint16>(directory, 0);
    appendLittleEndian<quint16>(directory, 1);
    appendLittleEndian<quint16>(directory, quint16(sizes.size()));
    const auto firstImage = quint32(6 + 16 * sizes.size());
    QByteArray images;
    for (const int size : sizes) {
        const QByteArray png = pngBytes(render(renderer, size));
        // One byte each for width and height, where 0 stands for 256.
        directory.append(char(size % 256));
        directory.append(char(size % 256));
        directory.append(char(0));                  // no palette
        directory.append(char(0));                  // reserved
        appendLittleEndian<quint16>(directory, 1);  // colour planes
        appendLittleEndian<quint16>(directory, 32); // bits per pixel
        appendLittleEndian<quint32>(directory, quint32(png.size()));
        appendLittleEndian<quint32>(directory, firstImage + quint32(images.size()));
        images.append(png);
    }
    return directory + images;
}

} // namespace

// Renders the hand-drawn brand mark into the PNG and the window icon the client compiles in:
// `solvikvpn-brandmark mark.svg mark.png icon.ico`.
int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        err << u"usage: solvikvpn-brandmark <mark.svg> <mark.png> <icon.ico>"_s << Qt::endl;
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        err << u"cannot read %1 as SVG"_s.arg(args.at(1)) << Qt::endl;
        return 1;
    }
    if (!render(renderer, 256).save(args.at(2), "PNG")) {
        err << u"cannot write %1"_s.arg(args.at(2)) << Qt::endl;
        return 1;
    }
    QFile ico(args.at(3));
    const QByteArray bytes = icoBytes(renderer, {16, 24, 32, 48, 64, 256});
    if (!ico.open(QIODevice::WriteOnly) || ico.write(bytes) != bytes.size()) {
        err << u"cannot write %1"_s.arg(args.at(3)) << Qt::endl;
        return 1;
    }
    return 0;
}
