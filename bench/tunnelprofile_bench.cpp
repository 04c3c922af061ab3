// Prints how long validating a link and building the engine configuration take. The client
// does both on its window thread for every connection attempt, so they must stay far below a
// frame; the figures are for reading, never a pass/fail verdict.
#include "benchreport.h"
#include "common/engineconfiguration.h"
#include "common/tunnelprofile.h"

#include <QElapsedTimer>
#include <QJsonObject>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 20000;

void report(const char *what, qint64 nanoseconds)
{
    benchreport::printPerCall(what, 26, nanoseconds, rounds);
}

} // namespace

int main()
{
    const QJsonObject connection{
        {u"uri"_s,
         u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@vpn.example.net:443?security=reality"
         u"&type=tcp&encryption=none&sni=www.example.com"
         u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd&fp=chrome"
         u"&flow=xtls-rprx-vision"_s}};

    QElapsedTimer timer;
    int accepted = 0;
    timer.start();
    for (int i = 0; i < rounds; ++i) {
        accepted += parseTunnelProfile(connection).has_value() ? 1 : 0;
    }
    report("parseTunnelProfile", timer.nsecsElapsed());

    const TunnelProfile profile = parseTunnelProfile(connection).value_or(TunnelProfile{});
    qsizetype bytes = 0;
    timer.restart();
    for (int i = 0; i < rounds; ++i) {
        bytes += buildEngineConfiguration(profile, 20808, u"solvikvpn"_s,
                                          u"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35"_s)
                     .size();
    }
    report("buildEngineConfiguration", timer.nsecsElapsed());
    std::printf("accepted %d links, %lld configuration bytes\n", accepted,
                static_cast<long long>(bytes));
    return accepted == rounds ? 0 : 1;
}
