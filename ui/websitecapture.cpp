#include "ui/websitecapture.h"

#include "locations/serverlocation.h"
#include "ui/mainwindow.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/settingspage.h"
#include "ui/previewsamples.h"
#include "ui/widgets/contentcard.h"
#include "ui/widgets/trafficwidget.h"
#include "ui/widgets/worldmap.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QPixmap>
#include <QScrollArea>
#include <QTimer>

#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Room around a detail, so its rounded corners and shadow are not cut.
constexpr int detailMargin = 12;
const QString lightSuffix = u"-light"_s;

QString baseShot(const QString &shot)
{
    return shot.endsWith(lightSuffix) ? shot.chopped(lightSuffix.size()) : shot;
}

// The parts of the shot's page that are also saved on their own, with their file names.
std::vector<std::pair<QString, QWidget *>> details(const MainWindow &window, const QString &shot)
{
    const ConnectionPage *connection = window.connectionPage();
    const AccountPage *account = window.accountPage();
    if (shot == u"home"_s) {
        return {{u"/detail-locations.png"_s, connection->sidebar()},
                {u"/detail-traffic.png"_s, connection->trafficChart()},
                {u"/detail-map.png"_s, connection->worldMap()},
                {u"/detail-connection.png"_s, connection->connectionCard()}};
    }
    if (shot == u"account"_s) {
        return {{u"/detail-devices.png"_s, account->devicesCard()},
                {u"/detail-plan.png"_s, account->subscriptionCard()}};
    }
    if (shot == u"account-free-light"_s) {
        return {{u"/detail-plan-free-light.png"_s, account->subscriptionCard()}};
    }
    if (shot == u"settings"_s) {
        return {{u"/detail-settings.png"_s, window.settingsPage()->appearanceCard()}};
    }
    return {};
}

} // namespace

WebsiteCapture::WebsiteCapture(MainWindow &window, const QString &shot, const QString &directory,
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
        ConnectionPage *page = m_window.connectionPage();
        const ServerLocation warsaw{u"PL"_s, u"Poland"_s, u"Warsaw"_s, 21.01, 52.23, true, true};
        page->worldMap()->setOwnLocation(warsaw);
        page->showSampleConnection(account.selectedServerId, u"24:18"_s);
    } else {
        m_window.showPage(base == u"settings"_s ? MainWindow::Settings : MainWindow::Account);
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
    bool saved = save(&m_window, u"/app-"_s + m_shot + u".png"_s);
    for (const auto &[name, region] : details(m_window, m_shot)) {
        saved = save(region, name) && saved;
    }
    m_finished = saved;
}

bool WebsiteCapture::save(QWidget *region, const QString &name)
{
    QRect area = m_window.rect();
    if (region != &m_window) {
        // A card below the fold is scrolled into view first.
        for (QWidget *ancestor = region->parentWidget(); ancestor != nullptr;
             ancestor = ancestor->parentWidget()) {
            if (auto *scrollArea = qobject_cast<QScrollArea *>(ancestor)) {
                scrollArea->ensureWidgetVisible(region, 0, detailMargin);
                break;
            }
        }
        area = QRect(region->mapTo(&m_window, QPoint(0, 0)), region->size())
                   .adjusted(-detailMargin, -detailMargin, detailMargin, detailMargin)
                   .intersected(m_window.rect());
    }
    return savePicture(m_window.grab(area), m_directory + name);
}
