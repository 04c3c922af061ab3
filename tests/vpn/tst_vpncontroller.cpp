#include "api/backendcatalogue.h"
#include "api/devicecredentials.h"
#include "api/replyrules.h"
#include "common/protectedstore.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "vpntestbed.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QRegularExpression tunnelNamePattern(u"^tnel_[a-f0-9]{20}$"_s);
const QRegularExpression
    requestKeyPattern(u"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"_s);

QString idOf(const QJsonObject &record)
{
    return api::jsonText(record.value(u"id"_s));
}

// The adapter calls other than status polls, in order.
QStringList tunnelCommands(const FakeTunnelAdapter &adapter)
{
    QStringList commands;
    for (const QString &call : adapter.calls) {
        if (!call.startsWith(u"refresh "_s))
            commands.append(call);
    }
    return commands;
}

QString lastText(const QSignalSpy &spy)
{
    return spy.isEmpty() ? QString() : spy.constLast().at(0).toString();
}

} // namespace

class VpnControllerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void connectFlowStartsTunnel();
    void lostCreationReplyRepeatsSameKey();
    void storedProfileOutcomes_data();
    void storedProfileOutcomes();
    void connectRequestGate_data();
    void connectRequestGate();
    void discoveryPaging_data();
    void discoveryPaging();
    void switchServerWhileConnected();
    void switchAfterProfileGoneOnBackend();
    void unsavableStateSendsNoCreation();
    void replyAfterAccountChangeIsDropped();
    void signOutStopsTunnelAndKeepsProfile();
    void names_data();
    void names();
    void tunnelNamesDifferPerAccount();

private:
    std::unique_ptr<TestHome> m_home;
};

void VpnControllerTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    QCoreApplication::setApplicationVersion(u"0.8.0"_s);
}

void VpnControllerTest::init()
{
    settings::clearAll();
}

void VpnControllerTest::connectFlowStartsTunnel()
{
    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    QSignalSpy statuses(controller.get(), &VpnController::status);
    QSignalSpy errors(controller.get(), &VpnController::error);
    const QJsonObject server = bed.server(3);
    const QString serverId = idOf(server);

    // The creation is held back so the pending request can be seen on disk while it travels.
    bed.backend.setFault(u"POST /vpn-profiles"_s, DevBackendFault::delay(300, 1));
    controller->connectVpn(serverId);
    QVERIFY(controller->connecting());
    QCOMPARE(lastText(statuses), u"Connecting\u2026"_s);
    QTRY_COMPARE(bed.backend.requestCount(u"POST /vpn-profiles"_s), 1);
    const QJsonObject pending = bed.storedState().value(u"pendingProfile"_s).toObject();
    QVERIFY(requestKeyPattern.match(pending.value(u"requestKey"_s).toString()).hasMatch());
    QCOMPARE(pending.value(u"name"_s).toString(), u"test-machine"_s);
    QCOMPARE(pending.value(u"serverId"_s).toString(), serverId);

    QTRY_COMPARE(bed.adapter.startedProfiles.size(), 1);
    QCOMPARE(bed.backend.requestCount(u"GET /access/me"_s), 1);
    QCOMPARE(bed.backend.requestCount(u"GET /vpn-profiles"_s), 1);
    const QString tunnelName = controller->profile().tunnelName();
    QVERIFY(tunnelNamePattern.match(tunnelName).hasMatch());
    QCOMPARE(tunnelName,
             VpnController::tunnelNameFor(bed.storageKey(), controller->profile().id()));
    QCOMPARE(tunnelCommands(bed.adapter), QStringList{u"start "_s + tunnelName});
    QCOMPARE(bed.adapter.startedProfiles.first().endpoint, server.value(u"endpoint"_s).toString());
    QCOMPARE(controller->currentServerId(), serverId);
    QCOMPARE(settings::managedVlessTunnel(), tunnelName);
    QVERIFY(controller->starting());

    const QJsonObject stored = bed.storedState();
    QCOMPARE(stored.value(u"local"_s).toObject().value(u"tunnelName"_s).toString(), tunnelName);
    QVERIFY(stored.value(u"pendingProfile"_s).toObject().isEmpty());

    bed.adapter.finishStart();
    QCOMPARE(lastText(statuses), u"Connected \u00b7 VLESS + REALITY"_s);
    QVERIFY(controller->running());
    QVERIFY(!controller->connecting() && !controller->starting());
    QVERIFY(controller->connectedSince().isValid());
    QCOMPARE(settings::connectionStartedAt(), controller->connectedSince());
    QVERIFY(errors.isEmpty());

    // Connecting again to the same server while connected asks nothing of anyone.
    QSignalSpy serverChanges(controller.get(), &VpnController::serverChangeRequired);
    controller->connectVpn(serverId);
    QCOMPARE(bed.backend.requestCount(u"GET /access/me"_s), 1);
    QVERIFY(serverChanges.isEmpty());
    QVERIFY(!controller->connecting());
}

void VpnControllerTest::lostCreationReplyRepeatsSameKey()
{
    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    QSignalSpy errors(controller.get(), &VpnController::error);
    // The backend makes the profile, then the reply is lost (twice: Qt re-sends once silently).
    bed.backend.setFault(u"POST /vpn-profiles"_s, DevBackendFault::drop(2, true));
    controller->connectVpn(QString());
    QTRY_VERIFY(!controller->connecting());
    QCOMPARE(lastText(errors),
             u"Could not reach the server. Check your internet connection and try again."_s);
    QVERIFY(bed.adapter.startedProfiles.isEmpty());
    const QString deviceId = bed.session.deviceId();
    QCOMPARE(bed.backend.profileCount(deviceId), 1);
    const QString requestKey =
        bed.storedState().value(u"pendingProfile"_s).toObject().value(u"requestKey"_s).toString();
    QVERIFY(requestKeyPattern.match(requestKey).hasMatch());

    // With the first server disabled, only the same key can bring back the same profile: a new
    // key would make the backend create a second profile on another server.
    const std::optional<ApiResult> listed =
        sendAndWait(bed.api, "GET", backend::vpnProfilesPage(1), {}, true);
    QVERIFY(listed && listed->successful());
    const QJsonObject created = api::pageItems(listed->body).first().toObject();
    bed.backend.setServerEnabled(api::jsonText(created.value(u"serverId"_s)), false);

    controller.reset();
    auto restarted = bed.makeController();
    QVERIFY(restarted->pendingProfile().requestKey == requestKey);
    QVERIFY(bed.connectUntilStart(*restarted, QString()));
    QCOMPARE(bed.backend.profileCount(deviceId), 1);
    QCOMPARE(restarted->profile().id(), idOf(created));
    QVERIFY(bed.storedState().value(u"pendingProfile"_s).toObject().isEmpty());
}

void VpnControllerTest::storedProfileOutcomes_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("deletesByClient");
    QTest::addColumn<bool>("switching");

    QTest::newRow("deleted elsewhere: 404") << u"delete"_s << 0 << false;
    QTest::newRow("revoked: dropped locally") << u"revoke"_s << 0 << false;
    QTest::newRow("inactive: replaced") << u"inactive"_s << 1 << true;
}

void VpnControllerTest::storedProfileOutcomes()
{
    QFETCH(QString, change);
    QFETCH(int, deletesByClient);
    QFETCH(bool, switching);

    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    QVERIFY(bed.connectUntilRunning(*controller, QString()));
    const QJsonObject first = controller->profile().record();
    controller->disconnectVpn();
    bed.adapter.finishStop();
    QVERIFY(!controller->running());

    int deletesBefore = 0;
    if (change == u"delete") {
        const std::optional<ApiResult> removed =
            sendAndWait(bed.api, "DELETE", backend::vpnProfile(idOf(first)), {}, true);
        QVERIFY(removed && removed->successful());
        deletesBefore = 1;
    } else if (change == u"revoke") {
        bed.backend.revokeProfiles(bed.session.deviceId());
    } else {
        QJsonObject inactive = first;
        inactive.remove(u"tunnelName"_s);
        inactive.insert(u"active"_s, false);
        bed.backend.setFault(
            u"GET /vpn-profiles/*"_s,
            DevBackendFault::withStatus(
                200, QJsonDocument(QJsonObject{{u"data"_s, inactive}}).toJson(), 1));
    }

    // The discovery that follows fails once, freezing the stored state it started from.
    bed.backend.setFault(u"GET /vpn-profiles"_s, DevBackendFault::withStatus(500, {}, 1));
    QSignalSpy statuses(controller.get(), &VpnController::status);
    QSignalSpy errors(controller.get(), &VpnController::error);
    controller->connectVpn(QString());
    QTRY_VERIFY(!controller->connecting());
    QCOMPARE(lastText(errors), u"Something went wrong on our side. Please try again later."_s);
    // Discovery starts over at the first page, as if nothing had been stored.
    const QList<HttpRequest> discoveries = bed.backend.requests(u"GET /vpn-profiles"_s);
    QCOMPARE(discoveries.size(), 2);
    QCOMPARE(
        QUrlQuery(QUrl::fromEncoded(discoveries.last().target).query()).queryItemValue(u"page"_s),
        u"1"_s);
    QVERIFY(bed.storedState().value(u"local"_s).toObject().isEmpty());
    QCOMPARE(statuses.contains(QVariantList{u"Switching servers\u2026"_s}), switching);
    QCOMPARE(bed.backend.requestCount(u"DELETE /vpn-profiles/*"_s) - deletesBefore,
             deletesByClient);

    // The next attempt discovers nothing usable and obtains a fresh profile.
    QVERIFY(bed.connectUntilStart(*controller, QString()));
    QVERIFY(controller->profile().id() != idOf(first));
    QVERIFY(!controller->profile().revoked());
}

void VpnControllerTest::connectRequestGate_data()
{
    QTest::addColumn<bool>("endpointMatches");
    QTest::addColumn<bool>("pendingForOtherServer");
    QTest::addColumn<bool>("serverChange");
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<bool>("proceeds");

    const QString pendingError =
        u"A profile request is still pending. Use Quick connect to retry the same request."_s;
    QTest::newRow("no serverId, endpoint matches no server")
        << false << false << true << QString() << false;
    QTest::newRow("no serverId, endpoint matches the server")
        << true << false << false << QString() << true;
    QTest::newRow("pending request for another server")
        << true << true << false << pendingError << false;
}

void VpnControllerTest::connectRequestGate()
{
    QFETCH(bool, endpointMatches);
    QFETCH(bool, pendingForOtherServer);
    QFETCH(bool, serverChange);
    QFETCH(QString, expectedError);
    QFETCH(bool, proceeds);

    VpnTestBed bed;
    QVERIFY(bed.signIn());
    const QJsonArray servers = bed.servers();
    const QJsonObject target = servers.at(2).toObject();
    const QString endpoint =
        endpointMatches ? target.value(u"endpoint"_s).toString() : u"198.51.100.250:443"_s;
    const QJsonObject pending =
        pendingForOtherServer
            ? QJsonObject{{u"name"_s, u"pc"_s},
                          {u"requestKey"_s, QUuid::createUuid().toString(QUuid::WithoutBraces)},
                          {u"serverId"_s, idOf(servers.at(5).toObject())}}
            : QJsonObject();
    QVERIFY(bed.writeStoredState(fabricatedProfile(u"vp_local"_s, bed.session.deviceId(), endpoint),
                                 pending));
    auto controller = bed.makeController();
    QList<api::ServerRecord> records;
    api::appendUsableServers(records, servers, servers.size());
    controller->setServers(records);
    QCOMPARE(controller->currentServerId(), endpointMatches ? idOf(target) : QString());

    QSignalSpy changes(controller.get(), &VpnController::serverChangeRequired);
    QSignalSpy errors(controller.get(), &VpnController::error);
    QSignalSpy changed(controller.get(), &VpnController::changed);
    controller->connectVpn(idOf(target));
    QCOMPARE(changes.size(), serverChange ? 1 : 0);
    if (serverChange)
        QCOMPARE(changes.first().at(0).toString(), idOf(target));
    QCOMPARE(lastText(errors), expectedError);
    QCOMPARE(controller->connecting(), proceeds);
    QCOMPARE(changed.isEmpty(), !proceeds);
    // Only an accepted request has the access check on its way.
    QCOMPARE(bed.api.activeCount(), proceeds ? 1 : 0);
}

void VpnControllerTest::discoveryPaging_data()
{
    QTest::addColumn<bool>("ownProfileOnPage2");

    QTest::newRow("own profile on page 2 is adopted") << true;
    QTest::newRow("no own profile: creation after the short page") << false;
}

void VpnControllerTest::discoveryPaging()
{
    QFETCH(bool, ownProfileOnPage2);

    VpnTestBed bed;
    QVERIFY(bed.signIn());
    const QJsonArray servers = bed.servers();

    // Another device of the same account fills page 1 and part of page 2.
    ApiClient other;
    other.setBaseUrl(bed.backend.baseUrl());
    const QJsonObject otherDevice = api::deviceObject(
        QJsonObject{{u"installationId"_s, QUuid::createUuid().toString(QUuid::WithoutBraces)},
                    {u"deviceToken"_s, QString(43, u'q')}},
        u"other"_s, u"0.8.0"_s);
    const std::optional<ApiResult> login =
        sendAndWait(other, "POST", backend::login,
                    QJsonObject{{u"email"_s, bed.backend.options().demoEmail},
                                {u"password"_s, bed.backend.options().demoPassword},
                                {u"device"_s, otherDevice}},
                    false);
    QVERIFY(login && login->successful());
    const QJsonObject tokens = api::unwrapData(login->body);
    other.setTokens(tokens.value(u"accessToken"_s).toString(),
                    tokens.value(u"refreshToken"_s).toString());
    for (int index = 0; index < 21; ++index) {
        const std::optional<ApiResult> created = sendAndWait(
            other, "POST", QString(backend::vpnProfiles),
            QJsonObject{{u"name"_s, u"other"_s},
                        {u"requestKey"_s, QUuid::createUuid().toString(QUuid::WithoutBraces)},
                        {u"serverId"_s, idOf(servers.at(index).toObject())}},
            true);
        QVERIFY(created && created->successful());
    }
    QString ownId;
    if (ownProfileOnPage2) {
        const std::optional<ApiResult> own = sendAndWait(
            bed.api, "POST", QString(backend::vpnProfiles),
            QJsonObject{{u"name"_s, u"mine"_s},
                        {u"requestKey"_s, QUuid::createUuid().toString(QUuid::WithoutBraces)},
                        {u"serverId"_s, idOf(servers.at(30).toObject())}},
            true);
        QVERIFY(own && own->successful());
        ownId = idOf(api::unwrapData(own->body));
    }
    const int creationsBefore = bed.backend.requestCount(u"POST /vpn-profiles"_s);

    auto controller = bed.makeController();
    QVERIFY(bed.connectUntilStart(*controller, QString()));
    QCOMPARE(bed.backend.requestCount(u"GET /vpn-profiles"_s), 2);
    QCOMPARE(bed.backend.requestCount(u"POST /vpn-profiles"_s) - creationsBefore,
             ownProfileOnPage2 ? 0 : 1);
    if (ownProfileOnPage2)
        QCOMPARE(controller->profile().id(), ownId);
    QCOMPARE(controller->profile().accountDeviceId(), bed.session.deviceId());
}

void VpnControllerTest::switchServerWhileConnected()
{
    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    // The window hands every server change request straight back as a switch.
    connect(controller.get(), &VpnController::serverChangeRequired, controller.get(),
            &VpnController::switchServer);
    const QJsonArray servers = bed.servers();
    const QString first = idOf(servers.at(1).toObject());
    const QString second = idOf(servers.at(7).toObject());
    QVERIFY(bed.connectUntilRunning(*controller, first));
    const QString firstTunnel = controller->managedTunnel();

    controller->connectVpn(second);
    QVERIFY(controller->switchAfterStop() && controller->connecting());
    QCOMPARE(tunnelCommands(bed.adapter).constLast(), u"stop "_s + firstTunnel);
    QCOMPARE(bed.backend.requestCount(u"DELETE /vpn-profiles/*"_s), 0);

    bed.adapter.finishStop();
    QTRY_COMPARE(bed.adapter.startedProfiles.size(), 2);
    QCOMPARE(bed.backend.requestCount(u"DELETE /vpn-profiles/*"_s), 1);
    QCOMPARE(controller->currentServerId(), second);
    QCOMPARE(bed.backend.profileCount(bed.session.deviceId()), 1);
    const QString secondTunnel = controller->managedTunnel();
    QVERIFY(secondTunnel != firstTunnel);
    QCOMPARE(tunnelCommands(bed.adapter),
             (QStringList{u"start "_s + firstTunnel, u"stop "_s + firstTunnel,
                          u"start "_s + secondTunnel}));
    bed.adapter.finishStart();
    QVERIFY(controller->running());
}

void VpnControllerTest::switchAfterProfileGoneOnBackend()
{
    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    const QJsonArray servers = bed.servers();
    const QString first = idOf(servers.at(1).toObject());
    const QString second = idOf(servers.at(7).toObject());
    QVERIFY(bed.connectUntilRunning(*controller, first));
    controller->disconnectVpn();
    bed.adapter.finishStop();
    QVERIFY(!controller->running());

    // The profile is already gone on the backend, so the client's own DELETE meets 404: the
    // switch must go on rather than leave a profile behind that can never be deleted.
    const std::optional<ApiResult> removed =
        sendAndWait(bed.api, "DELETE", backend::vpnProfile(controller->profile().id()), {}, true);
    QVERIFY(removed && removed->successful());
    QSignalSpy errors(controller.get(), &VpnController::error);
    controller->switchServer(second);
    QTRY_COMPARE(bed.adapter.startedProfiles.size(), 2);
    QVERIFY(errors.isEmpty());
    QCOMPARE(controller->currentServerId(), second);
    QCOMPARE(bed.backend.profileCount(bed.session.deviceId()), 1);
}

void VpnControllerTest::unsavableStateSendsNoCreation()
{
    VpnTestBed bed;
    QVERIFY(bed.signIn());
    // A directory where the state file belongs makes every atomic replacement fail.
    QVERIFY(QDir().mkpath(protectedstore::dataDirectory() + u'/' + bed.storageKey() + u".dpapi"_s));
    auto controller = bed.makeController();
    QSignalSpy errors(controller.get(), &VpnController::error);
    controller->connectVpn(QString());
    QTRY_VERIFY(!controller->connecting());
    QCOMPARE(lastText(errors), u"Could not securely save your VPN profile. Please try again."_s);
    // Without the request key on disk, no creation request may leave.
    QTRY_COMPARE(bed.api.activeCount(), 0);
    QCOMPARE(bed.backend.requestCount(u"GET /vpn-profiles"_s), 1);
    QCOMPARE(bed.backend.requestCount(u"POST /vpn-profiles"_s), 0);
    QVERIFY(bed.adapter.startedProfiles.isEmpty());
}

void VpnControllerTest::replyAfterAccountChangeIsDropped()
{
    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    bed.backend.setFault(u"GET /access/me"_s, DevBackendFault::delay(200, 1));
    controller->connectVpn(QString());
    QTRY_COMPARE(bed.backend.requestCount(u"GET /access/me"_s), 1);
    controller->setAccount(QString(), QString(), QString());
    QVERIFY(!controller->connecting());

    QSignalSpy statuses(controller.get(), &VpnController::status);
    QSignalSpy errors(controller.get(), &VpnController::error);
    QTRY_COMPARE(bed.api.activeCount(), 0);
    QTest::qWait(50);
    QCOMPARE(bed.backend.requestCount(u"GET /vpn-profiles"_s), 0);
    QVERIFY(statuses.isEmpty() && errors.isEmpty());
    QVERIFY(!controller->connecting());
    QVERIFY(bed.adapter.startedProfiles.isEmpty());
}

void VpnControllerTest::signOutStopsTunnelAndKeepsProfile()
{
    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    QVERIFY(bed.connectUntilRunning(*controller, QString()));
    const QString tunnel = controller->managedTunnel();
    const QString profileId = controller->profile().id();
    QSignalSpy errors(controller.get(), &VpnController::error);
    QSignalSpy statuses(controller.get(), &VpnController::status);

    controller->setAccount(QString(), QString(), QString());
    QCOMPARE(tunnelCommands(bed.adapter).constLast(), u"stop "_s + tunnel);
    bed.adapter.finishStop();
    QCOMPARE(lastText(statuses), u"Not connected"_s);
    QVERIFY(errors.isEmpty());

    // A tunnel found running while nobody is signed in is stopped, after the report is handled.
    const qsizetype stops = tunnelCommands(bed.adapter).size();
    bed.adapter.report(ConnectionState::Phase::Connected);
    QCOMPARE(tunnelCommands(bed.adapter).size(), stops);
    QTRY_COMPARE(tunnelCommands(bed.adapter).size(), stops + 1);
    QCOMPARE(tunnelCommands(bed.adapter).constLast(), u"stop "_s + tunnel);
    bed.adapter.finishStop();

    // The stored profile outlives the sign-out and comes back with the same account.
    QCOMPARE(idOf(bed.storedState().value(u"local"_s).toObject()), profileId);
    controller->setAccount(bed.apiUrl(), bed.session.userId(), bed.session.deviceId());
    QCOMPARE(controller->profile().id(), profileId);
    QCOMPARE(controller->managedTunnel(), tunnel);
}

void VpnControllerTest::names_data()
{
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << u"office-pc"_s << u"office-pc"_s;
    QTest::newRow("trimmed") << u"  office-pc \t"_s << u"office-pc"_s;
    QTest::newRow("blanks only") << u"   "_s << u"Windows PC"_s;
    QTest::newRow("empty") << QString() << u"Windows PC"_s;
    QTest::newRow("100 characters cut to 80") << QString(100, u'h') << QString(80, u'h');
    QTest::newRow("pair not split at the cut")
        << QString(79, u'h') + u"\U0001F600tail"_s << QString(79, u'h');
}

void VpnControllerTest::names()
{
    QFETCH(QString, hostName);
    QFETCH(QString, expected);
    QCOMPARE(api::deviceName(hostName), expected);
}

void VpnControllerTest::tunnelNamesDifferPerAccount()
{
    // Independently computed: printf '%s' 'http://127.0.0.1:3000|u1|d1' | sha256sum
    QCOMPARE(VpnController::storageKeyFor(u"http://127.0.0.1:3000"_s, u"u1"_s, u"d1"_s),
             u"vless_device_163d4e1484a8a3ffa515a1bc260b5083155da0b1a98a7d3b5beb6567f460263d"_s);
    // printf '%s' 'vless_device_x' | sha256sum: key and id are joined without a separator.
    QCOMPARE(VpnController::tunnelNameFor(u"vless_device_"_s, u"x"_s),
             u"tnel_3bc3e813be16906755e4"_s);
    const QString one = VpnController::storageKeyFor(u"http://127.0.0.1:3000"_s, u"u1"_s, u"d1"_s);
    const QStringList keys{
        one, VpnController::storageKeyFor(u"https://api.example.com"_s, u"u1"_s, u"d1"_s),
        VpnController::storageKeyFor(u"http://127.0.0.1:3000"_s, u"u2"_s, u"d1"_s),
        VpnController::storageKeyFor(u"http://127.0.0.1:3000"_s, u"u1"_s, u"d2"_s)};
    QStringList names;
    for (const QString &key : keys) {
        const QString name = VpnController::tunnelNameFor(key, u"vp_same"_s);
        QVERIFY(tunnelNamePattern.match(name).hasMatch());
        QVERIFY(!names.contains(name));
        names.append(name);
    }
}

QTEST_GUILESS_MAIN(VpnControllerTest)
#include "tst_vpncontroller.moc"
