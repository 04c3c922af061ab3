// How long a connect takes from VpnController::connectVpn to the "Connected" report, on loopback:
// the development backend in this process, the real adapter, the real tunnel program run directly
// (as root, so no elevation prompt) under a private POSIX service-manager root, and the engine
// stub as the engine. Nothing is faked; each phase is read from outside the code it times:
//   backend      connectVpn -> the adapter's start: access check and the profile requests
//                (round 1 discovers and creates the profile; later rounds fetch it)
//   preparation  start -> busy: port reservation, tunnel profile file written (encrypted)
//   engine check busy -> the "check" process ended (configuration built, engine run, exit)
//   helper       check ended -> the service is registered: helper launch, path check, clean-up
//                of old services, service creation (polled from the service manager, ~1 ms)
//   service      registered -> RUNNING: service start, profile read, engine run, probe port open
//   health check RUNNING -> connected report: the helper's check page fetch through the probe
//                proxy, its exit, and the adapter noticing it (its 200 ms watch dominates)
// The figures are for reading, never a pass/fail verdict.
#include "benchreport.h"
#include "common/tunnelcontract.h"
#include "platform/servicecontrol.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "tools/devbackend/httpserver.h"
#include "vpn/vpncontroller.h"
#include "vpn/vpntestbed.h"
#include "vpn/windowsvless.h"

#include "tunnelfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 6;
constexpr int roundTimeoutMs = 60000;

// Milliseconds since connectVpn of the current round, for each observed moment; -1 = not seen.
struct Moments
{
    double start = -1;
    double busy = -1;
    double checkEnded = -1;
    double registered = -1;
    double running = -1;
    double connected = -1;
};

// The real adapter, with the moment the controller hands it the tunnel and the moment its engine
// check process ends recorded on the way through.
class TimedAdapter : public WindowsVless
{
public:
    TimedAdapter(QElapsedTimer &clock, Moments &moments)
        : m_clock(clock)
        , m_moments(moments)
    {
        connect(this, &TunnelAdapter::busyChanged, this, [this](bool busy) {
            if (busy && m_moments.busy < 0)
                m_moments.busy = now();
        });
    }

    void start(const QString &tunnelName, const TunnelProfile &profile) override
    {
        m_moments.start = now();
        WindowsVless::start(tunnelName, profile);
        // stateChanged precedes finished, on which the adapter launches the helper.
        if (QProcess *check = findChild<QProcess *>()) {
            connect(check, &QProcess::stateChanged, this, [this](QProcess::ProcessState state) {
                if (state == QProcess::NotRunning && m_moments.checkEnded < 0)
                    m_moments.checkEnded = now();
            });
        }
    }

private:
    double now() const { return benchreport::elapsedMs(m_clock); }

    QElapsedTimer &m_clock;
    Moments &m_moments;
};

std::optional<platform::ServiceState> serviceState(const QString &tunnelName)
{
    std::uint32_t error = 0;
    const platform::ServiceStatus status =
        TunnelFixture::serviceStatus(tunnelcontract::serviceName(tunnelName), error);
    return error == 0 ? std::optional(status.state) : std::nullopt;
}

void printPhase(const char *label, const std::vector<double> &values)
{
    benchreport::printSpread(label, 13, values);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"ConnectBench"_s);
    QCoreApplication::setApplicationVersion(u"0.8.0"_s);
    TestHome home;
    TunnelFixture fixture;
    HttpServer checkPage;
    checkPage.setHandler([](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->send(204, QByteArray(), QByteArray());
    });
    if (!home.isValid() || !fixture.isValid() || !checkPage.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "cannot set up the installation\n");
        return 1;
    }
    // Connects on this machine's own network: the block stays off here.
    settings::setBlockIfVpnDrops(false);
    qputenv("SOLVIKVPN_SERVICE_ROOT", QFile::encodeName(fixture.serviceRoot()));
    qputenv("SOLVIKVPN_ELEVATION", "direct");
    qputenv("SOLVIKVPN_STUB_NO_TUN", "1");
    qputenv(TunnelFixture::checkUrlsVariable,
            u"http://127.0.0.1:%1/generate_204"_s.arg(checkPage.port()).toUtf8());
    // Whatever happens, no service or engine stub outlives the run.
    const auto sweep = qScopeGuard([&fixture] {
        QProcess program;
        program.setProcessEnvironment(fixture.environment());
        program.start(fixture.programPath(), {u"--cleanup-all"_s});
        program.waitForFinished(roundTimeoutMs);
    });

    VpnTestBed bed;
    if (!bed.signIn()) {
        std::fprintf(stderr, "cannot sign in to the development backend\n");
        return 1;
    }
    const QString server = bed.server(0).value(u"id"_s).toString();

    QElapsedTimer clock;
    Moments moments;
    TimedAdapter adapter(clock, moments);
    adapter.setApplicationDirectory(fixture.applicationDirectory());
    VpnController controller(bed.api, adapter);
    controller.setAccount(bed.apiUrl(), bed.session.userId(), bed.session.deviceId());
    QObject::connect(&controller, &VpnController::changed, &controller, [&] {
        if (controller.state().phase == ConnectionState::Phase::Connected && moments.connected < 0)
            moments.connected = benchreport::elapsedMs(clock);
    });
    // Why a round failed, for the message that ends the run.
    QString lastError;
    for (auto signal : {&VpnController::error, &VpnController::connectFailed}) {
        QObject::connect(&controller, signal, &controller,
                         [&lastError](const QString &message) { lastError = message; });
    }
    QTimer servicePoll;
    servicePoll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&servicePoll, &QTimer::timeout, &controller, [&] {
        const QString tunnel = controller.managedTunnel();
        const std::optional<platform::ServiceState> state =
            tunnel.isEmpty() ? std::nullopt : serviceState(tunnel);
        const double now = benchreport::elapsedMs(clock);
        if (state && moments.registered < 0)
            moments.registered = now;
        if (state == platform::ServiceState::Running && moments.running < 0)
            moments.running = now;
    });

    std::vector<double> backend, preparation, check, helper, service, health, total, disconnect;
    for (int round = 0; round < rounds; ++round) {
        moments = Moments();
        servicePoll.start(1);
        clock.start();
        controller.connectVpn(server);
        const bool connected = QTest::qWaitFor(
            [&] { return !controller.connecting() && !controller.busy(); }, roundTimeoutMs);
        servicePoll.stop();
        if (!connected || !controller.running() || moments.running < 0 || moments.connected < 0) {
            std::fprintf(stderr, "round %d did not connect: %s\n", round + 1,
                         qPrintable(lastError));
            return 1;
        }
        if (round == 0) {
            std::printf("first connect (discovers and creates the profile): %.1f ms, of which "
                        "backend %.1f ms\n",
                        moments.connected, moments.start);
        } else {
            backend.push_back(moments.start);
        }
        preparation.push_back(moments.busy - moments.start);
        check.push_back(moments.checkEnded - moments.busy);
        helper.push_back(moments.registered - moments.checkEnded);
        service.push_back(moments.running - moments.registered);
        health.push_back(moments.connected - moments.running);
        total.push_back(moments.connected);

        clock.start();
        controller.disconnectVpn();
        if (!QTest::qWaitFor([&] { return !controller.busy() && !controller.running(); },
                             roundTimeoutMs)) {
            std::fprintf(stderr, "round %d did not disconnect\n", round + 1);
            return 1;
        }
        disconnect.push_back(benchreport::elapsedMs(clock));
    }

    std::printf("connect on loopback with the engine stub, %d rounds (phase durations):\n", rounds);
    printPhase("backend", backend);
    printPhase("preparation", preparation);
    printPhase("engine check", check);
    printPhase("helper", helper);
    printPhase("service", service);
    printPhase("health check", health);
    printPhase("total", total);
    printPhase("disconnect", disconnect);
    std::printf("(backend from round 2 on: access check and fetch of the existing profile; "
                "disconnect: disconnectVpn to \"Not connected\")\n");
    return 0;
}
