#pragma once

#include <QObject>
#include <QString>

class QPixmap;
class QWidget;
class WindowView;

// The website's pictures of the client: the marketing sample account on the page a shot names
// ("home", "account", "account-free" or "settings", each also with "-light"), saved whole as
// "app-<shot>.png" and in detail regions around the telling parts, into the capture directory.
// Only these names are taken, so nothing is ever written outside that directory.
class WebsiteCapture : public QObject
{
    Q_OBJECT

public:
    // Time for the page switch and the map's flight to the connected server to end.
    static constexpr int settleMs = 800;

    WebsiteCapture(WindowView &window, const QString &shot, const QString &directory,
                   QObject *parent = nullptr);

    static bool isKnownShot(const QString &shot);
    // Writes `picture` as a PNG file at `path` without ever writing through a link: a link or
    // anything but a file already at `path` is refused, a file there is replaced by a new one.
    static bool savePicture(const QPixmap &picture, const QString &path);

    // Shows the shot's page now and saves its pictures once it has settled; false for an unknown
    // shot, which shows and saves nothing.
    bool start();
    // True once every picture was written.
    bool finished() const { return m_finished; }

private:
    void saveAll();
    bool save(QWidget *region, const QString &name);

    WindowView &m_window;
    QString m_shot;
    QString m_directory;
    bool m_finished = false;
};
