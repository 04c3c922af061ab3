// Prints how long the VPN controller's per-change work takes: the window asks for the current
// server on every changed() to highlight the tree and the map, and applies the account (reading
// and decrypting the stored profile) on every session change. Both run on the window thread.
// The figures are for reading, never a pass/fail verdict.
#include "api/apiclient.h"
#include "benchreport.h"
#include "common/protectedstore.h"
#include "support/faketunneladapter.h"
#include "support/testhome.h"
#include "vpn/vpncontroller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int servers = 2000;

void report(const char *what, qint64 nanoseconds, int rounds)
{
    benchreport::printPerCall(what, 36, nanoseconds, rounds);
}

QString endpointOf(int index)
{
    return u"198.51.%1.%2:443"_s.arg(index / 250).arg(index % 250 + 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"Bench"_s);
    TestHome home;

    QList<api::ServerRecord> catalogue;
    for (int index = 0; index < servers; ++index)
        catalogue.append(api::serverRecord(
            QJsonObject{{u"id"_s, u"srv_%1"_s.arg(index)}, {u"endpoint"_s, endpointOf(index)}}));
    // No "serverId": the current server is found by the endpoint of the last record.
    const QString uri = u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@%1"
                        u"?security=reality&type=tcp&encryption=none&sni=www.example.com"
                        u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd"
                        u"&fp=chrome&flow=xtls-rprx-vision"_s.arg(endpointOf(servers - 1));
    const QJsonObject profile{{u"id"_s, u"vp_bench"_s},
                              {u"accountDeviceId"_s, u"dev_bench"_s},
                              {u"connection"_s, QJsonObject{{u"uri"_s, uri}}},
                              {u"tunnelName"_s, u"tnel_0123456789abcdef0123"_s}};
    const QString apiUrl = u"http://127.0.0.1:3000"_s;
    const QString key = VpnController::storageKeyFor(apiUrl, u"user_bench"_s, u"dev_bench"_s);
    protectedstore::writeProtected(
        key, QJsonDocument(QJsonObject{{u"local"_s, profile}, {u"pendingProfile"_s, QJsonObject()}})
                 .toJson(QJsonDocument::Compact));

    ApiClient api;
    FakeTunnelAdapter adapter;
    VpnController controller(api, adapter);
    controller.setServers(catalogue);

    QElapsedTimer timer;
    constexpr int accountRounds = 200;
    timer.start();
    for (int i = 0; i < accountRounds; ++i)
        controller.setAccount(apiUrl, u"user_bench"_s, u"dev_bench"_s);
    report("setAccount (stored profile)", timer.nsecsElapsed(), accountRounds);

    constexpr int lookupRounds = 500;
    int found = 0;
    timer.restart();
    for (int i = 0; i < lookupRounds; ++i)
        found += controller.currentServerId().isEmpty() ? 0 : 1;
    report("currentServerId (2000 servers)", timer.nsecsElapsed(), lookupRounds);

    constexpr int nameRounds = 20000;
    qsizetype length = 0;
    timer.restart();
    for (int i = 0; i < nameRounds; ++i)
        length += VpnController::tunnelNameFor(key, QString::number(i)).size();
    report("tunnelNameFor", timer.nsecsElapsed(), nameRounds);

    std::printf("(%d lookups matched, %lld name characters)\n", found,
                static_cast<long long>(length));
    return found == lookupRounds ? 0 : 1;
}
