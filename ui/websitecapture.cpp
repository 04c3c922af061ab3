#include "ui/websitecapture.h"

#include "locations/serverlocation.h"
#include "ui/previewsamples.h"
#include "ui/windowview.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>

#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString lightSuffix = u"-light"_s;

QString baseShot(const QString &shot)
{
    return shot.endsWith(lightSuffix) ? shot.chopped(lightSuffix.size()) : shot;
}

// The parts of the shot's page that are also saved on their own, with their file names.
std::vector<std::pair<QString, WindowView::Landmark>> details(const QString &shot)
{
    using Landmark = WindowView::Landmark;
    if (shot == u"home"_s) {
        return {{u"/detail-locations.png"_s, Landmark::LocationSidebar},
                {u"/detail-traffic.png"_s, Landmark::TrafficChart},
                {u"/detail-map.png"_s, Landmark::WorldMap},
                {u"/detail-connection.png"_s, Landmark::ConnectionCard}};
    }
    if (shot == u"account"_s) {
        return {{u"/detail-devices.png"_s, Landmark::DevicesCard},
                {u"/detail-plan.png"_s, Landmark::SubscriptionCard}};
    }
    if (shot == u"account-free-light"_s) {
        return {{u"/detail-plan-free-light.png"_s, Landmark::SubscriptionCard}};
    }
    if (shot == u"settings"_s) {
        return {{u"/detail-settings.png"_s, Landmark::AppearanceCard}};
    }
    return {};
}

} // namespace

WebsiteCapture::WebsiteCapture(WindowView &window, const QString &shot, const QString &directory,
                               QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_shot(shot)
    , m_directory(directory)
{}

bool WebsiteCapture::isKnownShot(const QString &shot)
{
    const QString base = baseShot(shot);
    return base == u"home"_s || base == u"account"_s || base == u"account-free"_s ||
           base == u"settings"_s;
}

bool WebsiteCapture::start()
{
    if (!isKnownShot(m_shot)) {
        return false;
    }
    const QString base = baseShot(m_shot);
    PreviewAccount account = PreviewAccount::website(QDateTime::currentDateTimeUtc());
    if (base == u"account-free"_s) {
        account.access = PreviewAccount::freeAccess();
    }
    m_window.showSampleAccount(account);
    if (base == u"home"_s) {
        const ServerLocation warsaw{u"PL"_s, u"Poland"_s, u"Warsaw"_s, 21.01, 52.23, true, true};
        m_window.showSampleConnection(account.selectedServerId, u"24:18"_s, warsaw);
    } else {
        m_window.showPage(base == u"settings"_s ? WindowView::Settings : WindowView::Account);
    }
    QTimer::singleShot(settleMs, this, &WebsiteCapture::saveAll);
    return true;
}

bool WebsiteCapture::savePicture(const QPixmap &picture, const QString &path)
{
    const QFileInfo existing(path);
    if (existing.isSymLink() || existing.isJunction() ||
        (existing.exists() && !existing.isFile())) {
        return false;
    }
    // Removed rather than opened, so a hard link to someone else's file is not written into.
    if (existing.exists() && !QFile::remove(path)) {
        return false;
    }
    // Creating only a new file fails on whatever appears at the name meanwhile, a link included.
    QFile file(path);
    return file.open(QIODevice::NewOnly) && picture.save(&file, "PNG") && file.flush();
}

void WebsiteCapture::saveAll()
{
    bool saved = save(&m_window.surface(), u"/app-"_s + m_shot + u".png"_s);
    for (const auto &[name, landmark] : details(m_shot)) {
        saved = save(m_window.landmark(landmark), name) && saved;
    }
    m_finished = saved;
}

bool WebsiteCapture::save(QWidget *region, const QString &name)
{
    QWidget &window = m_window.surface();
    QRect area = window.rect();
    if (region != &window) {
        // A card below the fold is scrolled into view first.
        for (QWidget *ancestor = region->parentWidget(); ancestor != nullptr;
             ancestor = ancestor->parentWidget()) {
            if (auto *scrollArea = qobject_cast<QScrollArea *>(ancestor)) {
                scrollArea->ensureWidgetVisible(region, 0, 0);
                break;
            }
        }
        // Exactly the widget: nothing of its neighbours (the rail, the map) at the edges.
        area =
            QRect(region->mapTo(&window, QPoint(0, 0)), region->size()).intersected(window.rect());
    }
    return savePicture(window.grab(area), m_directory + name);
}
