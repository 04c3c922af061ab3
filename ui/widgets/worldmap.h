#pragma once

#include "locations/serverlocation.h"
#include "ui/mapview.h"
#include "ui/theme/themepalette.h"

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QPolygonF>
#include <QWidget>

#include <future>
#include <optional>

class QTimer;
class QVariantAnimation;

// A pannable, zoomable map of the land masses with the servers as dots, the user's approximate
// position as a "You" marker and, while a connection is made or held, an animated arc from the
// user to the server. Everything is painted here; nothing is fetched.
class WorldMap : public QWidget
{
    Q_OBJECT

public:
    // A map of the built-in land outline.
    explicit WorldMap(QWidget *parent = nullptr);
    // A map of `land`, polygons in map units (see parseLandOutline()).
    explicit WorldMap(QList<QPolygonF> land, QWidget *parent = nullptr);

    // One dot per server record (wrapped or not); locations without coordinates get none.
    void setServers(const QList<api::ServerRecord> &servers);
    // Highlights the server and flies to it, unless connected: then the map stays on the
    // connected server.
    void setSelectedServer(const QString &id);
    // Flies to the server's dot, or back to the whole world when it has none; stays put while
    // connected.
    void focusServer(const QString &id);
    // `serverAddress` is the endpoint of the server the tunnel uses.
    void setConnectionState(bool busy, bool connected, const QString &serverAddress);
    // Shows the "You" marker when the location has coordinates.
    void setOwnLocation(const ServerLocation &location);
    void setAppearance(bool light, const QColor &accent);

    const MapView &view() const { return m_view; }
    const QString &selectedId() const { return m_selectedId; }
    qsizetype markerCount() const { return m_markers.size(); }
    // Whether the frame timer runs: only while the map is shown and something on it moves.
    bool isAnimating() const;

signals:
    void serverClicked(const QString &id);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Marker
    {
        QString id;
        QString name;
        QString endpoint;
        ServerLocation location;
    };

    WorldMap(std::optional<QList<QPolygonF>> land, QWidget *parent);

    QRectF zoomInRect() const;
    QRectF zoomOutRect() const;
    const Marker *highlightedMarker() const;
    // The id of the nearest dot within `radius` pixels of `point`; empty when none.
    QString serverNear(const QPointF &point, double radius) const;
    // The tool tip for the pointer at `point`: none when it is over nothing that reacts, an
    // empty text over a zoom button.
    std::optional<QString> hoverTip(const QPointF &point) const;
    void zoomAt(double factor, const QPointF &point);
    void stopAnimations();
    void updateFrameTimer();

    void paintArc(QPainter &painter, const QPointF &end, double elapsed) const;
    // Every server's dot, then the highlighted one's at `at` on top.
    void paintDots(QPainter &painter, const Marker *highlighted, const QPointF &at,
                   double elapsed) const;
    void paintOwnLocation(QPainter &painter, double elapsed) const;
    void paintZoomButtons(QPainter &painter) const;

    struct BackgroundKey
    {
        QSize size;
        qreal devicePixelRatio = 0;
        QPointF centre;
        double zoom = 0;
        bool light = false;
        bool operator==(const BackgroundKey &) const = default;
    };

    BackgroundKey backgroundKey() const;
    // Fill, glow, land and top fade for a view and theme; safe on any thread.
    static QImage paintBackground(const BackgroundKey &key, const QTransform &view,
                                  const ThemePalette::Map &colours, const QList<QPolygonF> &land);

    QList<Marker> m_markers;
    // Unset for the built-in outline until the first paint needs it.
    std::optional<QList<QPolygonF>> m_land;
    QString m_selectedId;
    QString m_connectionAddress;
    MapView m_view;
    QVariantAnimation *m_panAnimation;
    QVariantAnimation *m_zoomAnimation;
    QTimer *m_frameTimer;
    QElapsedTimer m_clock;
    QImage m_background;
    BackgroundKey m_backgroundKey;
    std::future<QImage> m_pendingBackground;
    BackgroundKey m_pendingKey;
    QPointF m_pressPos;
    QPointF m_lastPos;
    QString m_pressedServerId;
    ServerLocation m_own;
    bool m_hasOwnLocation = false;
    bool m_dragging = false;
    bool m_dragMoved = false;
    bool m_busy = false;
    bool m_connected = false;
    bool m_shown = false;
    ThemePalette m_palette;
};
