#include "ui/widgets/worldmap.h"

#include "ui/landoutline.h"
#include "ui/theme/uifont.h"
#include "ui/widgetfactory.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimer>
#include <QToolTip>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int frameIntervalMs = 33;
constexpr int flightMs = 750;
constexpr double focusZoom = 3.0;
const QPointF worldCentre{0, 20};
// A press that travels no further than this (Manhattan) is a click.
constexpr double dragThreshold = 6;
constexpr double pressRadius = 18;
constexpr double hoverRadius = 13;
constexpr double fadeHeight = 160;
constexpr double buttonSize = 36;
constexpr double buttonRadius = 10;

struct LabelStyle
{
    int pixelSize;
    QSizeF padding;
    // From the anchor to the box's near edge.
    double gap;
    bool above;
    double radius;
};

constexpr LabelStyle youLabel{12, {22, 14}, 12, false, 9};
constexpr LabelStyle serverLabel{14, {26, 18}, 15, true, 10};

double distance(const QPointF &a, const QPointF &b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

QPen arcPen(const QColor &colour, double width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin);
}

// A rounded box with `text` centred in it, horizontally centred on `anchor`.
void paintLabel(QPainter &painter, const QString &text, const LabelStyle &style,
                const QPointF &anchor, const ThemePalette::Map &colours)
{
    const QFont font = uiFont(style.pixelSize, 500);
    const QSizeF size = QFontMetricsF(font).size(Qt::TextSingleLine, text) + style.padding;
    const double top =
        style.above ? anchor.y() - style.gap - size.height() : anchor.y() + style.gap;
    const QRectF box(QPointF(anchor.x() - size.width() / 2, top), size);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colours.label);
    painter.drawRoundedRect(box, style.radius, style.radius);
    painter.setFont(font);
    painter.setPen(colours.labelText);
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
}

} // namespace

WorldMap::WorldMap(QWidget *parent)
    : WorldMap(std::nullopt, parent)
{
    preloadLandOutline();
}

WorldMap::WorldMap(QList<QPolygonF> land, QWidget *parent)
    : WorldMap(std::optional(std::move(land)), parent)
{}

WorldMap::WorldMap(std::optional<QList<QPolygonF>> land, QWidget *parent)
    : QWidget(parent)
    , m_land(std::move(land))
    , m_panAnimation(new QVariantAnimation(this))
    , m_zoomAnimation(new QVariantAnimation(this))
    , m_frameTimer(new QTimer(this))
{
    setMinimumSize(300, 260);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::OpenHandCursor);
    setToolTip(u"Drag to move the map \u00b7 scroll to zoom"_s);

    for (QVariantAnimation *animation : {m_panAnimation, m_zoomAnimation}) {
        animation->setDuration(flightMs);
        animation->setEasingCurve(QEasingCurve::InOutCubic);
    }
    connect(m_panAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_view.setCentre(value.toPointF());
        update();
    });
    connect(m_zoomAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_view.setZoom(value.toDouble());
        update();
    });
    m_frameTimer->setInterval(frameIntervalMs);
    connect(m_frameTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_clock.start();
    m_view.setSize(size());
}

void WorldMap::setServers(const QList<api::ServerRecord> &servers)
{
    m_markers.clear();
    m_markers.reserve(servers.size());
    for (const api::ServerRecord &record : servers) {
        m_markers.append({record.id, record.name, record.endpoint, serverLocation(record)});
    }
    updateFrameTimer();
    update();
}

void WorldMap::setSelectedServer(const QString &id)
{
    // While connected the map stays on the connected server.
    const bool fly = id != m_selectedId && !m_connected;
    m_selectedId = id;
    updateFrameTimer();
    if (fly) {
        focusServer(id);
    } else {
        update();
    }
}

void WorldMap::focusServer(const QString &id)
{
    if (m_connected) {
        update();
        return;
    }
    QPointF target = worldCentre;
    double zoom = MapView::minimumZoom;
    const auto found = std::find_if(m_markers.cbegin(), m_markers.cend(), [&](const Marker &m) {
        return m.id == id && m.location.hasCoordinates;
    });
    if (found != m_markers.cend()) {
        target = {found->location.longitude, found->location.latitude};
        zoom = focusZoom;
    }
    // Far north, south or at the date line the dot would sit at the map's very edge.
    target = {std::clamp(target.x(), -160.0, 160.0), std::clamp(target.y(), -45.0, 65.0)};
    stopAnimations();
    m_panAnimation->setStartValue(m_view.centre());
    m_panAnimation->setEndValue(target);
    m_zoomAnimation->setStartValue(m_view.zoom());
    m_zoomAnimation->setEndValue(zoom);
    m_panAnimation->start();
    m_zoomAnimation->start();
    update();
}

void WorldMap::setConnectionState(bool busy, bool connected, const QString &serverAddress)
{
    m_busy = busy;
    m_connected = connected;
    m_connectionAddress = serverAddress;
    updateFrameTimer();
    update();
}

void WorldMap::setOwnLocation(const ServerLocation &location)
{
    m_own = location;
    m_hasOwnLocation = location.hasCoordinates;
    updateFrameTimer();
    update();
}

void WorldMap::setAppearance(bool light, const QColor &accent)
{
    m_palette = ThemePalette(light, accent);
    update();
}

bool WorldMap::isAnimating() const
{
    return m_frameTimer->isActive();
}

bool WorldMap::event(QEvent *event)
{
    // Over a dot, the "You" marker or a button the hover has put up its own tip (or none); the
    // widget's general tip would replace it.
    if (event->type() == QEvent::ToolTip &&
        hoverTip(static_cast<QHelpEvent *>(event)->pos()).has_value()) {
        return true;
    }
    return QWidget::event(event);
}

void WorldMap::showEvent(QShowEvent *event)
{
    m_shown = true;
    updateFrameTimer();
    // Painted on another thread while the rest of the window paints; the first paint takes it.
    const BackgroundKey key = backgroundKey();
    if (key != m_backgroundKey && !m_pendingBackground.valid()) {
        m_pendingKey = key;
        m_pendingBackground =
            std::async(std::launch::async, [key, view = m_view.transform(), colours = m_palette.map,
                                            land = m_land] {
                return paintBackground(key, view, colours, land ? *land : loadLandOutline());
            });
    }
    QWidget::showEvent(event);
}

void WorldMap::hideEvent(QHideEvent *event)
{
    m_shown = false;
    updateFrameTimer();
    // A hidden map keeps no picture of itself.
    m_background = QImage();
    m_backgroundKey = {};
    QWidget::hideEvent(event);
}

void WorldMap::resizeEvent(QResizeEvent *event)
{
    m_view.setSize(size());
    QWidget::resizeEvent(event);
}

void WorldMap::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF pos = event->position();
    if (zoomInRect().contains(pos)) {
        zoomAt(1.25, m_view.focalPoint());
        return;
    }
    if (zoomOutRect().contains(pos)) {
        zoomAt(0.8, m_view.focalPoint());
        return;
    }
    m_dragging = true;
    m_dragMoved = false;
    m_pressPos = pos;
    m_lastPos = pos;
    m_pressedServerId = serverNear(pos, pressRadius);
    setCursor(Qt::ClosedHandCursor);
}

void WorldMap::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    if (m_dragging && event->buttons().testFlag(Qt::LeftButton)) {
        if (!m_dragMoved) {
            const QPointF travel = pos - m_pressPos;
            if (std::abs(travel.x()) + std::abs(travel.y()) <= dragThreshold) {
                m_lastPos = pos;
                return;
            }
            m_dragMoved = true;
            m_pressedServerId.clear();
        }
        stopAnimations();
        m_view.panBy(pos - m_lastPos);
        m_lastPos = pos;
        update();
        return;
    }
    const std::optional<QString> tip = hoverTip(pos);
    setCursor(tip ? Qt::PointingHandCursor : Qt::OpenHandCursor);
    if (tip && !tip->isEmpty()) {
        QToolTip::showText(event->globalPosition().toPoint(), *tip, this);
    } else {
        QToolTip::hideText();
    }
}

void WorldMap::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    setCursor(Qt::OpenHandCursor);
    const QString clicked = m_dragMoved ? QString() : m_pressedServerId;
    m_pressedServerId.clear();
    m_dragMoved = false;
    if (!clicked.isEmpty()) {
        emit serverClicked(clicked);
    }
}

void WorldMap::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    zoomAt(delta > 0 ? 1.2 : 1 / 1.2, event->position());
    event->accept();
}

void WorldMap::paintEvent(QPaintEvent *)
{
    const double elapsed = double(m_clock.elapsed());
    // The fill, the glow, the land and the fade change only with the view and the theme, while
    // the dots, the arc and the halo move every frame: the first four are painted once per view.
    const BackgroundKey key = backgroundKey();
    if (m_pendingBackground.valid()) {
        QImage ready = m_pendingBackground.get();
        if (m_pendingKey == key) {
            m_background = std::move(ready);
            m_backgroundKey = key;
        }
    }
    if (key != m_backgroundKey) {
        m_backgroundKey = key;
        if (!m_land) {
            m_land = loadLandOutline();
        }
        m_background = paintBackground(key, m_view.transform(), m_palette.map, *m_land);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(QPointF(0, 0), m_background);

    const Marker *highlighted = highlightedMarker();
    const QPointF highlightedAt = highlighted ? m_view.project(highlighted->location.longitude,
                                                               highlighted->location.latitude)
                                              : QPointF();
    // The arc runs from the user's own place; while that is unknown there is none.
    if (highlighted && (m_busy || m_connected) && m_hasOwnLocation) {
        paintArc(painter, highlightedAt, elapsed);
    }
    paintDots(painter, highlighted, highlightedAt, elapsed);
    if (m_hasOwnLocation) {
        paintOwnLocation(painter, elapsed);
    }
    if (highlighted) {
        const ServerLocation &location = highlighted->location;
        paintLabel(painter, location.city.isEmpty() ? location.country : location.city, serverLabel,
                   highlightedAt, m_palette.map);
    }
    paintZoomButtons(painter);
}

QImage WorldMap::paintBackground(const BackgroundKey &key, const QTransform &view,
                                 const ThemePalette::Map &colours, const QList<QPolygonF> &land)
{
    const double w = key.size.width();
    const double h = key.size.height();
    const QRectF rect(0, 0, w, h);
    QImage background(key.size * key.devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    background.setDevicePixelRatio(key.devicePixelRatio);
    QPainter painter(&background);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.fillRect(rect, colours.sea);
    QRadialGradient glow(QPointF(0.62 * w, 0.35 * h), 0.8 * w);
    glow.setColorAt(0, colours.glow);
    glow.setColorAt(1, colours.sea);
    painter.fillRect(rect, glow);

    painter.save();
    painter.setTransform(view, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colours.land);
    for (const QPolygonF &polygon : land) {
        painter.drawPolygon(polygon, Qt::OddEvenFill);
    }
    painter.restore();

    QLinearGradient fade(0, 0, 0, fadeHeight);
    fade.setColorAt(0, colours.fade);
    fade.setColorAt(1, withAlpha(colours.fade, 0));
    painter.fillRect(QRectF(0, 0, w, fadeHeight), fade);
    return background;
}

WorldMap::BackgroundKey WorldMap::backgroundKey() const
{
    return {size(), devicePixelRatioF(), m_view.centre(), m_view.zoom(), m_palette.light};
}

QRectF WorldMap::zoomInRect() const
{
    return {width() - 54.0, 28, buttonSize, buttonSize};
}

QRectF WorldMap::zoomOutRect() const
{
    return {width() - 54.0, 72, buttonSize, buttonSize};
}

const WorldMap::Marker *WorldMap::highlightedMarker() const
{
    // Connected, the dot follows the tunnel's server rather than the list's selection.
    const QString &key = m_connected ? m_connectionAddress : m_selectedId;
    if (key.isEmpty()) {
        return nullptr;
    }
    const auto found = std::find_if(m_markers.cbegin(), m_markers.cend(), [&](const Marker &m) {
        return (m_connected ? m.endpoint : m.id) == key;
    });
    return found != m_markers.cend() && found->location.hasCoordinates ? &*found : nullptr;
}

QString WorldMap::serverNear(const QPointF &point, double radius) const
{
    QString nearest;
    double best = radius;
    for (const Marker &marker : m_markers) {
        if (!marker.location.hasCoordinates) {
            continue;
        }
        const double away =
            distance(m_view.project(marker.location.longitude, marker.location.latitude), point);
        if (away < best) {
            best = away;
            nearest = marker.id;
        }
    }
    return nearest;
}

std::optional<QString> WorldMap::hoverTip(const QPointF &point) const
{
    if (zoomInRect().contains(point) || zoomOutRect().contains(point)) {
        return QString();
    }
    if (m_hasOwnLocation &&
        distance(m_view.project(m_own.longitude, m_own.latitude), point) < hoverRadius) {
        return u"Your approximate location based on your public IP"_s;
    }
    for (const Marker &marker : m_markers) {
        if (marker.location.hasCoordinates &&
            distance(m_view.project(marker.location.longitude, marker.location.latitude), point) <
                hoverRadius) {
            return widgetfactory::plainToolTip(marker.name + u"\nApproximate server location"_s);
        }
    }
    return std::nullopt;
}

void WorldMap::zoomAt(double factor, const QPointF &point)
{
    stopAnimations();
    m_view.zoomAt(factor, point);
    update();
}

void WorldMap::stopAnimations()
{
    m_panAnimation->stop();
    m_zoomAnimation->stop();
}

void WorldMap::updateFrameTimer()
{
    // The "You" halo, the selection's ring and the connection's arc move; nothing else does.
    if (m_shown && (m_hasOwnLocation || highlightedMarker())) {
        m_frameTimer->start();
    } else {
        m_frameTimer->stop();
    }
}

void WorldMap::paintArc(QPainter &painter, const QPointF &end, double elapsed) const
{
    const QPointF start = m_view.project(m_own.longitude, m_own.latitude);
    const QPointF span = end - start;
    const double length = std::hypot(span.x(), span.y());
    QPointF normal = length > 1 ? QPointF(-span.y() / length, span.x() / length) : QPointF(0, -1);
    // The arc always bows upwards.
    if (normal.y() > 0) {
        normal = -normal;
    }
    const QPointF control = (start + end) / 2 + normal * std::min(0.22 * length, 80.0);
    QPainterPath path(start);
    path.quadTo(control, end);

    painter.setBrush(Qt::NoBrush);
    const QColor &accent = m_palette.accent;
    painter.setPen(arcPen(withAlpha(accent, 25), 6.0));
    painter.drawPath(path);
    painter.setPen(arcPen(withAlpha(accent, 110), 2.0));
    painter.drawPath(path);

    // A short bright stretch runs along the arc towards the server.
    const double phase = std::fmod(elapsed / 2400, 1.0);
    const double tail = std::max(phase - 0.22, 0.0);
    constexpr int steps = 24;
    QPolygonF stretch;
    for (int step = 0; step <= steps; ++step) {
        stretch.append(path.pointAtPercent(tail + (phase - tail) * step / steps));
    }
    painter.setPen(arcPen(accent, 2.5));
    painter.drawPolyline(stretch);
}

void WorldMap::paintDots(QPainter &painter, const Marker *highlighted, const QPointF &at,
                         double elapsed) const
{
    const ThemePalette::Map &colours = m_palette.map;
    const QColor &accent = m_palette.accent;
    const QRectF inside = QRectF(rect()).adjusted(10, 10, -10, -10);
    const auto dotPen = [](const QColor &colour) {
        return QPen(colour, 1.8, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    };
    for (const Marker &marker : m_markers) {
        if (!marker.location.hasCoordinates || &marker == highlighted) {
            continue;
        }
        const QPointF dot = m_view.project(marker.location.longitude, marker.location.latitude);
        if (inside.contains(dot)) {
            painter.setPen(dotPen(colours.dotOutline));
            painter.setBrush(colours.dot);
            painter.drawEllipse(dot, 4, 4);
        }
    }
    // Last, so other servers of the same city never cover the chosen or connected one.
    if (highlighted && inside.contains(at)) {
        const double pulse = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * elapsed / 2600);
        const double ring = 11 + 9 * pulse;
        painter.setPen(QPen(withAlpha(accent, int(std::lround(65 + 25 * pulse))), 1.3));
        painter.setBrush(withAlpha(accent, 16));
        painter.drawEllipse(at, ring, ring);
        painter.setPen(dotPen(accent));
        painter.setBrush(accent);
        painter.drawEllipse(at, 6, 6);
    }
}

void WorldMap::paintOwnLocation(QPainter &painter, double elapsed) const
{
    const QPointF at = m_view.project(m_own.longitude, m_own.latitude);
    if (!QRectF(rect()).adjusted(-20, -20, 20, 20).contains(at)) {
        return;
    }
    const ThemePalette::Map &colours = m_palette.map;
    const double halo = 7 + 2.5 * (0.5 + 0.5 * std::sin(elapsed / 360)) + 5;
    painter.setPen(QPen(withAlpha(colours.you, 105), 1.5));
    painter.setBrush(withAlpha(colours.you, 26));
    painter.drawEllipse(at, halo, halo);
    painter.setPen(QPen(colours.youRing, 2.0));
    painter.setBrush(colours.you);
    painter.drawEllipse(at, 6, 6);
    const QString place = m_own.city.isEmpty() ? m_own.country : m_own.city;
    paintLabel(painter, u"You \u00b7 %1"_s.arg(place), youLabel, at, colours);
}

void WorldMap::paintZoomButtons(QPainter &painter) const
{
    const ThemePalette::Map &colours = m_palette.map;
    painter.setFont(uiFont(20, 500));
    for (const auto &[button, label] :
         {std::pair{zoomInRect(), u"+"_s}, std::pair{zoomOutRect(), u"\u2212"_s}}) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colours.button);
        painter.drawRoundedRect(button, buttonRadius, buttonRadius);
        painter.setPen(colours.buttonText);
        painter.drawText(button, Qt::AlignCenter, label);
    }
}
