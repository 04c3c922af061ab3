#include "ui/theme/tintediconengine.h"

#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QThreadPool>

namespace {

constexpr qreal devicePixelRatio = 2.0;
constexpr qreal disabledOpacity = 0.4;

} // namespace

TintedIconEngine::TintedIconEngine(const QByteArray &svg, int size)
    : m_shared(std::make_shared<Shared>())
    , m_size(size)
{
    auto promise = std::make_shared<std::promise<Pictures>>();
    m_shared->rendered = promise->get_future();
    QThreadPool::globalInstance()->start(
        [promise, svg, size] { promise->set_value(render(svg, size)); });
}

TintedIconEngine::TintedIconEngine(std::shared_ptr<Shared> shared, int size)
    : m_shared(std::move(shared))
    , m_size(size)
{}

TintedIconEngine::Pictures TintedIconEngine::render(const QByteArray &svg, int size)
{
    QSvgRenderer renderer(svg);
    const auto draw = [&](qreal opacity) {
        QImage image(QSize(size, size) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(devicePixelRatio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setOpacity(opacity);
        renderer.render(&painter, QRectF(0, 0, size, size));
        return image;
    };
    return {draw(1.0), draw(disabledOpacity)};
}

const QIcon &TintedIconEngine::icon()
{
    if (m_shared->rendered.valid()) {
        Pictures pictures = m_shared->rendered.get();
        const QPixmap normal = QPixmap::fromImage(std::move(pictures.normal));
        // Hovered and selected look as the normal icon: one picture serves the three.
        for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Selected}) {
            m_shared->icon.addPixmap(normal, mode, QIcon::Off);
        }
        m_shared->icon.addPixmap(QPixmap::fromImage(std::move(pictures.disabled)), QIcon::Disabled,
                                 QIcon::Off);
    }
    return m_shared->icon;
}

QPixmap TintedIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    // At ratio 1 the icon hands over its engine's own pixmap; the caller sets the ratio.
    return icon().pixmap(size, 1.0, mode, state);
}

void TintedIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
                             QIcon::State state)
{
    const QPaintDevice *device = painter->device();
    const qreal ratio = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
    painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
}

QSize TintedIconEngine::actualSize(const QSize &size, QIcon::Mode, QIcon::State)
{
    QSize actual = pictureSize();
    if (actual.width() > size.width() || actual.height() > size.height()) {
        actual.scale(size, Qt::KeepAspectRatio);
    }
    return actual;
}

QList<QSize> TintedIconEngine::availableSizes(QIcon::Mode, QIcon::State)
{
    return {pictureSize()};
}

QSize TintedIconEngine::pictureSize() const
{
    return QSize(m_size, m_size) * devicePixelRatio;
}

QIconEngine *TintedIconEngine::clone() const
{
    return new TintedIconEngine(m_shared, m_size);
}

QString TintedIconEngine::key() const
{
    return QStringLiteral("TintedIconEngine");
}
