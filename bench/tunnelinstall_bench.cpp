// One full "--install" of a tunnel, phase by phase, with the engine stub as the engine and the
// connectivity check answered on loopback; then the "--stop". The phases are read from outside
// the helper by polling the service manager, as the client would see them:
//   created   the helper validated the path, cleared old services and registered the service
//   running   the service read its profile, started the engine and saw the probe port open
//   checked   the helper fetched the check page through the probe proxy and exited
//   stopped   "--stop" took the service down and deleted it
#include "benchreport.h"
#include "common/tunnelcontract.h"
#include "platform/exitstatus.h"
#include "platform/servicecontrol.h"
#include "tools/devbackend/httpserver.h"

#include "tunnelfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 7;

struct Phases
{
    double created = -1;
    double running = -1;
    double checked = -1;
    double stopped = -1;
};

double runHelper(const TunnelFixture &fixture, const QProcessEnvironment &environment,
                 const QStringList &arguments, Phases *phases)
{
    const QString name = tunnelcontract::serviceName(TunnelFixture::tunnelName);
    QProcess helper;
    helper.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    helper.start(fixture.programPath(), arguments);
    while (helper.state() != QProcess::NotRunning) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (phases) {
            std::uint32_t error = 0;
            const platform::ServiceState state = TunnelFixture::serviceStatus(name, error).state;
            const bool exists = error == 0;
            const double now = benchreport::elapsedMs(timer);
            if (exists && phases->created < 0) {
                phases->created = now;
            }
            if (state == platform::ServiceState::Running && exists && phases->running < 0) {
                phases->running = now;
            }
        }
        helper.waitForFinished(1);
    }
    const double total = benchreport::elapsedMs(timer);
    if (helper.exitStatus() != QProcess::NormalExit ||
        platform::fromExitStatus(helper.exitCode()) != 0) {
        std::fprintf(stderr, "helper %s failed with %u\n", qPrintable(arguments.first()),
                     platform::fromExitStatus(helper.exitCode()));
        return -1;
    }
    return total;
}

void printPhase(const char *label, const std::vector<double> &values)
{
    benchreport::printSpread(label, 9, values);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    HttpServer server;
    server.setHandler([](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->send(204, QByteArray(), QByteArray());
    });
    TunnelFixture fixture;
    if (!server.listen(QHostAddress::LocalHost) || !fixture.isValid()) {
        std::fprintf(stderr, "cannot set up the installation\n");
        return 1;
    }
    qputenv("SOLVIKVPN_SERVICE_ROOT", fixture.serviceRoot().toUtf8());
    QProcessEnvironment environment = fixture.environment();
    environment.insert(QLatin1String(TunnelFixture::checkUrlsVariable),
                       u"http://127.0.0.1:%1/generate_204"_s.arg(server.port()));
    environment.insert(u"SOLVIKVPN_STUB_NO_TUN"_s, u"1"_s);

    std::vector<double> created, running, checked, stopped;
    for (int round = 0; round < rounds; ++round) {
        if (!fixture.writeProfile(TunnelFixture::freePort())) {
            return 1;
        }
        Phases phases;
        const double installed =
            runHelper(fixture, environment,
                      {u"--install"_s, TunnelFixture::tunnelName, fixture.profilePath()}, &phases);
        const double stop =
            runHelper(fixture, environment, {u"--stop"_s, TunnelFixture::tunnelName}, nullptr);
        if (installed < 0 || stop < 0 || phases.created < 0 || phases.running < 0) {
            return 1;
        }
        created.push_back(phases.created);
        running.push_back(phases.running - phases.created);
        checked.push_back(installed - phases.running);
        stopped.push_back(stop);
    }
    std::printf("tunnel install with the engine stub, %d rounds (phase durations, polled every "
                "~1 ms):\n",
                rounds);
    printPhase("created", created);
    printPhase("running", running);
    printPhase("checked", checked);
    printPhase("stopped", stopped);
    return 0;
}
