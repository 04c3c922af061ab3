// How long the tunnel service takes to bring a killed engine back: the real tunnel program
// installed under a private POSIX service-manager root, the engine stub as the engine, the check
// page answered on loopback. Each round installs a fresh service (so the back-off starts at its
// first, 1 s step), kills the engine with SIGKILL and polls from outside:
//   engine again  the death -> the new engine process logged its start (the back-off dominates)
//   proxy answers the death -> the probe port accepts a connection again
#include "benchreport.h"
#include "platform/exitstatus.h"
#include "platform/probeport.h"
#include "tools/devbackend/httpserver.h"

#include "tunnelfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <cstdio>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 5;
constexpr qint64 roundTimeoutMs = 20000;

bool runProgram(const TunnelFixture &fixture, const QProcessEnvironment &environment,
                const QStringList &arguments)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(fixture.programPath(), arguments);
    while (program.state() != QProcess::NotRunning) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        program.waitForFinished(10);
    }
    return program.exitStatus() == QProcess::NormalExit &&
           platform::fromExitStatus(program.exitCode()) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    HttpServer checkPage;
    checkPage.setHandler([](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->send(204, QByteArray(), QByteArray());
    });
    TunnelFixture fixture;
    if (!checkPage.listen(QHostAddress::LocalHost) || !fixture.isValid()) {
        std::fprintf(stderr, "cannot set up the installation\n");
        return 1;
    }
    const QString runLog = fixture.applicationDirectory() + u"/runs.log"_s;
    QProcessEnvironment environment = fixture.environment();
    environment.insert(QLatin1String(TunnelFixture::checkUrlsVariable),
                       u"http://127.0.0.1:%1/generate_204"_s.arg(checkPage.port()));
    environment.insert(u"SOLVIKVPN_STUB_NO_TUN"_s, u"1"_s);
    environment.insert(u"SOLVIKVPN_STUB_RUN_LOG"_s, runLog);

    std::vector<double> engineAgain, proxyAnswers;
    for (int round = 0; round < rounds; ++round) {
        const quint16 port = TunnelFixture::freePort();
        QFile::remove(runLog);
        if (!fixture.writeProfile(port) ||
            !runProgram(fixture, environment,
                        {u"--install"_s, TunnelFixture::tunnelName, fixture.profilePath()})) {
            std::fprintf(stderr, "round %d: the install failed\n", round + 1);
            return 1;
        }
        const QStringList first = TunnelFixture::logged(runLog, u"run "_s);
        QElapsedTimer clock;
        clock.start();
        if (first.size() != 1 || ::kill(first.first().mid(4).toInt(), SIGKILL) != 0) {
            std::fprintf(stderr, "round %d: no engine to kill\n", round + 1);
            return 1;
        }
        double again = -1;
        double answers = -1;
        while (answers < 0 && clock.elapsed() < roundTimeoutMs) {
            if (again < 0 && TunnelFixture::logged(runLog, u"run "_s).size() == 2) {
                again = benchreport::elapsedMs(clock);
            }
            if (again >= 0 && platform::probeLoopbackPort(port, 50)) {
                answers = benchreport::elapsedMs(clock);
            }
        }
        runProgram(fixture, environment, {u"--stop"_s, TunnelFixture::tunnelName});
        if (answers < 0) {
            std::fprintf(stderr, "round %d: the engine did not come back\n", round + 1);
            return 1;
        }
        engineAgain.push_back(again);
        proxyAnswers.push_back(answers);
    }
    std::printf("engine killed with SIGKILL, back-off step 1 s + up to 20 %%, %d rounds (from the "
                "death, polled continuously):\n",
                rounds);
    benchreport::printSpread("engine again", 13, engineAgain);
    benchreport::printSpread("proxy answers", 13, proxyAnswers);
    return 0;
}
