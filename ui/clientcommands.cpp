#include "ui/clientcommands.h"

#include "api/session.h"
#include "locations/latencyprobe.h"
#include "locations/servercatalogue.h"
#include "locations/serverlocation.h"
#include "settings/settingskeys.h"
#include "ui/clientservices.h"
#include "ui/pages/connectionpage.h"
#include "vpn/connectionstate.h"
#include "vpn/tunneladapter.h"
#include "vpn/vpncontroller.h"

#include <QLocale>
#include <QTimer>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString signedOutLine = u"Not signed in. Open Solvik VPN and sign in first."_s;

// Where the tree and the map place the server, so the line names what the window shows.
QString locationOf(const ServerCatalogue &catalogue, const QString &id)
{
    const api::ServerRecord *record = catalogue.record(id);
    const ServerLocation location = record ? serverLocation(*record) : ServerLocation();
    if (!location.known) {
        return {};
    }
    return location.city.isEmpty() ? location.country
                                   : location.country + u" \u00b7 "_s + location.city;
}

} // namespace

ClientCommands::ClientCommands(ClientServices &services, PageSource page, QObject *parent)
    : QObject(parent)
    , m_services(services)
    , m_page(std::move(page))
{}

QString ClientCommands::serverFor(const QString &target, const ServerCatalogue &catalogue,
                                  const LatencyProbe &latencies)
{
    if (catalogue.contains(target)) {
        return target;
    }
    QString best;
    int bestLatency = 0;
    for (const api::ServerRecord &server : catalogue.servers()) {
        if (!server.usable ||
            serverLocation(server).countryCode.compare(target, Qt::CaseInsensitive) != 0) {
            continue;
        }
        const int latency = latencies.latency(server.id);
        if (best.isEmpty() || (latency > 0 && (bestLatency <= 0 || latency < bestLatency))) {
            best = server.id;
            bestLatency = latency;
        }
    }
    return best;
}

QString ClientCommands::statusLine(const ConnectionState &state, const QString &location,
                                   const QDateTime &since)
{
    if (state.phase != ConnectionState::Phase::Connected) {
        return state.statusText();
    }
    QString line = location.isEmpty() ? u"Connected"_s : u"Connected to "_s + location;
    if (since.isValid()) {
        line += u" since "_s + QLocale().toString(since.toLocalTime().time(), u"HH:mm"_s);
    }
    return line;
}

QString ClientCommands::currentLine() const
{
    const VpnController &controller = m_services.controller();
    return statusLine(controller.state(),
                      locationOf(m_services.catalogue(), controller.currentServerId()),
                      controller.connectedSince());
}

void ClientCommands::status(const Reply &reply)
{
    if (!m_services.session().authenticated()) {
        reply(exitSignedOut, signedOutLine);
        return;
    }
    const bool connected =
        m_services.controller().state().phase == ConnectionState::Phase::Connected;
    reply(connected ? exitDone : exitNotConnected, currentLine());
}

ClientCommands::Answer ClientCommands::standaloneStatus(TunnelAdapter &adapter)
{
    if (!Session::hasStoredSession()) {
        return {exitSignedOut, signedOutLine};
    }
    ConnectionState state{ConnectionState::Phase::NotConnected};
    const QString tunnel = settings::managedVlessTunnel();
    if (!tunnel.isEmpty()) {
        const QMetaObject::Connection report =
            QObject::connect(&adapter, &TunnelAdapter::stateChanged,
                             [&state](const ConnectionState &reported) { state = reported; });
        adapter.refresh(tunnel);
        QObject::disconnect(report);
    }
    const bool connected = state.phase == ConnectionState::Phase::Connected;
    return {
        connected ? exitDone : exitNotConnected,
        statusLine(state, QString(), connected ? settings::connectionStartedAt() : QDateTime())};
}

void ClientCommands::whenReady(const Reply &reply, const std::function<void()> &action)
{
    Session &session = m_services.session();
    ServerCatalogue &catalogue = m_services.catalogue();
    const auto ready = [&session, &catalogue] {
        return session.authenticated() && !catalogue.isLoading() && !catalogue.servers().isEmpty();
    };
    if (ready()) {
        action();
        return;
    }
    // Right after a start the session is still being restored and the list loaded: the step
    // runs when they are, or answers for them at the time-out. Going, the waiter takes its
    // connections and the time-out with it.
    auto *waiter = new QObject(this);
    auto done = std::make_shared<bool>(false);
    const auto check = [waiter, done, ready, action] {
        if (!*done && ready()) {
            *done = true;
            waiter->deleteLater();
            action();
        }
    };
    connect(&session, &Session::changed, waiter, check);
    connect(&catalogue, &ServerCatalogue::loaded, waiter, check);
    QTimer::singleShot(m_timings.readyMs, waiter, [waiter, done, &session, reply] {
        *done = true;
        waiter->deleteLater();
        const bool signedIn = session.authenticated();
        reply(signedIn ? exitFailed : exitSignedOut,
              signedIn ? u"The server list could not be loaded."_s : signedOutLine);
    });
}

void ClientCommands::awaitTunnel(const Reply &reply, const std::function<bool()> &done)
{
    VpnController &controller = m_services.controller();
    auto answered = std::make_shared<bool>(false);
    auto connections = std::make_shared<QList<QMetaObject::Connection>>();
    const auto finish = [this, reply, answered, connections](int code, const QString &line) {
        if (*answered) {
            return;
        }
        *answered = true;
        for (const QMetaObject::Connection &connection : std::as_const(*connections)) {
            QObject::disconnect(connection);
        }
        reply(code, line);
    };
    const auto failure = [finish](const QString &message) { finish(exitFailed, message); };
    *connections << connect(&controller, &VpnController::changed, this, [this, done, finish] {
        if (done()) {
            finish(exitDone, currentLine());
        }
    });
    *connections << connect(&controller, &VpnController::startFailed, this, failure)
                 << connect(&controller, &VpnController::connectFailed, this, failure)
                 << connect(&controller, &VpnController::error, this, failure);
    QTimer::singleShot(m_timings.tunnelMs, this,
                       [finish] { finish(exitFailed, u"The VPN did not finish in time."_s); });
    if (done()) {
        finish(exitDone, currentLine());
    }
}

void ClientCommands::connectTo(const QString &target, const Reply &reply)
{
    whenReady(reply, [this, target, reply] { startConnect(target, reply); });
}

void ClientCommands::startConnect(const QString &target, const Reply &reply)
{
    VpnController &controller = m_services.controller();
    QString id = target.isEmpty()
                     ? settings::lastServerId()
                     : serverFor(target, m_services.catalogue(), m_services.latencyProbe());
    if (!target.isEmpty() && id.isEmpty()) {
        reply(exitBadInput, u"No server or country \"%1\" in the server list."_s.arg(target));
        return;
    }
    if (!m_services.catalogue().contains(id)) {
        id.clear();
    }
    if (controller.connecting() || controller.busy() || controller.disconnecting()) {
        reply(exitFailed, u"A connect or disconnect is already under way."_s);
        return;
    }
    const auto up = [&controller, id] {
        return controller.state().phase == ConnectionState::Phase::Connected &&
               !controller.connecting() && !controller.busy() &&
               (id.isEmpty() || controller.currentServerId() == id);
    };
    if (up()) {
        reply(exitDone, currentLine());
        return;
    }
    awaitTunnel(reply, up);
    if (id.isEmpty()) {
        m_page().quickConnect();
    } else {
        m_page().chooseServer(id);
        controller.connectVpn(id);
    }
}

void ClientCommands::disconnect(const Reply &reply)
{
    VpnController &controller = m_services.controller();
    const auto down = [&controller] {
        return !controller.running() && !controller.disconnecting() && !controller.busy();
    };
    if (down()) {
        reply(exitDone, currentLine());
        return;
    }
    awaitTunnel(reply, down);
    controller.disconnectVpn();
}
