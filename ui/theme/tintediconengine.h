#pragma once

#include <QIcon>
#include <QIconEngine>
#include <QImage>

#include <future>
#include <memory>

// An icon drawn from SVG bytes at twice `size` for dense screens: the normal picture, which also
// serves the hovered and selected modes, and the disabled one at 40 % opacity. Both are rendered
// on the application's thread pool as soon as the engine is made, so that an icon made while a
// window is built is ready, or nearly, when the window first paints; the first use waits for it.
// Copies share the pictures.
class TintedIconEngine : public QIconEngine
{
public:
    TintedIconEngine(const QByteArray &svg, int size);

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QIconEngine *clone() const override;
    QString key() const override;

private:
    struct Pictures
    {
        QImage normal;
        QImage disabled;
    };
    struct Shared
    {
        // Taken, and so let go, at the first use, on the GUI thread, which makes `icon` of them.
        std::future<Pictures> rendered;
        QIcon icon;
    };

    explicit TintedIconEngine(std::shared_ptr<Shared> shared, int size);
    static Pictures render(const QByteArray &svg, int size);
    const QIcon &icon();
    QSize pictureSize() const;

    std::shared_ptr<Shared> m_shared;
    int m_size;
};
