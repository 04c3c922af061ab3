#include "tunnel/enginesupervisor.h"

#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "common/tunnelcontract.h"
#include "common/tunnelstatus.h"
#include "platform/networkwatch.h"
#include "platform/probeport.h"
#include "platform/systemfolder.h"
#include "platform/winerror.h"
#include "tunnel/enginerun.h"
#include "tunnel/healthcheck.h"
#include "tunnel/tunnelfirewall.h"
#include "tunnel/tunnelprofilefile.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QThread>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

using namespace Qt::Literals::StringLiterals;
using platform::ServiceState;
namespace winerror = platform::winerror;

namespace {

// Written only into the folder that nobody but the administrators can change, and readable by
// the account that wrote the profile; a failed write is ignored.
void writeServiceFile(const QString &path, const QString &tunnelName, QByteArray bytes,
                      const QString &ownerAccount)
{
    if (platform::prepareTunnelErrorDirectory(ownerAccount.toStdString()) == 0) {
        protectedstore::writeMachineProtectedFile(path, tunnelName, bytes, ownerAccount);
    }
    secretwipe::wipe(bytes);
}

// Plain reasons only: the engine's own words may hold the configuration's secrets.
QString exitReason(EngineRun &engine)
{
    return u"The VPN engine stopped (exit code %1)."_s.arg(engine.process().exitCode());
}

// The engine's last words, for the service log only and through its redaction.
LogText lastOutputLine(EngineRun &engine)
{
    const QList<QByteArray> lines = engine.output().bytes().trimmed().split('\n');
    return LogText::redacted(QString::fromUtf8(lines.constLast()));
}

using Level = DiagnosticLog::Level;

// The health check needs an event loop; the service thread is the service manager's, not Qt's,
// and the toolkit's per-thread state left on it breaks the process's end under Windows. A
// thread of Qt's own, ended before this returns, keeps that state where it is cleaned up. A stop
// ends the check at once rather than after the pages' time-outs.
bool passesHealthCheck(const tunnelcontract::TunnelProfileFile &profile,
                       const platform::Event &stop)
{
    bool passed = false;
    const std::unique_ptr<QThread> thread(
        QThread::create([&] { passed = healthcheck::checkTunnelHealth(profile); }));
    thread->start();
    while (!thread->wait(QDeadlineTimer(healthcheck::interruptionPollMs))) {
        if (stop.isSet()) {
            thread->requestInterruption();
        }
    }
    return passed;
}

} // namespace

EngineSupervisor::EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                                   const QString &profilePath,
                                   const tunnelcontract::TunnelOptions &options,
                                   StatusReporter reporter)
    : EngineSupervisor(applicationDirectory, tunnelName, profilePath, options, std::move(reporter),
                       Timings())
{}

EngineSupervisor::EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                                   const QString &profilePath,
                                   const tunnelcontract::TunnelOptions &options,
                                   StatusReporter reporter, Timings timings)
    : m_applicationDirectory(applicationDirectory)
    , m_tunnelName(tunnelName)
    , m_profilePath(profilePath)
    , m_options(options)
    , m_report(std::move(reporter))
    , m_timings(timings)
{}

std::uint32_t EngineSupervisor::run(const platform::Event &stop)
{
    m_report(ServiceState::StartPending, 0);
    // The engine's containment, pipes and console are gone before STOPPED is reported.
    const std::uint32_t exitCode = superviseEngine(stop);
    m_report(ServiceState::Stopped, exitCode);
    return exitCode;
}

void EngineSupervisor::requestCheck()
{
    m_checkWanted = true;
}

std::uint32_t EngineSupervisor::superviseEngine(const platform::Event &stop)
{
    // The command line came through the service manager: the file is judged again here.
    TunnelProfileRead profile = readTunnelProfileFile(m_tunnelName, m_profilePath);
    if (!profile.content) {
        return tunnelcontract::exitcode::invalidTunnelProfile;
    }
    // Kept for a restart rather than read again: by then the file may be gone or replaced, and
    // the checks on its one open handle ran only now.
    const auto wipe =
        qScopeGuard([&profile] { tunnelcontract::wipeTunnelProfileFile(*profile.content); });
    m_log.emplace(m_tunnelName, profile.ownerAccount);
    m_log->write(Level::Info, "service.start",
                 {{"port", profile.content->proxyPort},
                  {"reconnect", m_options.reconnect ? 1 : 0},
                  {"block", m_options.block ? 1 : 0}});
    if (m_options.block) {
        m_firewall = tunnelfirewall::open();
        if (const std::uint32_t error = applyBlock(); error != 0) {
            m_log->write(Level::Error, "firewall.failed", {{"error", qint64(error)}});
            m_firewall.reset();
            return tunnelcontract::exitcode::firewallFailed;
        }
    }
    // Whatever way the run ends, a block that is not to stay comes down after the engine.
    bool keepBlock = false;
    const auto liftBlock = qScopeGuard([this, &keepBlock] {
        if (m_firewall && !keepBlock) {
            m_firewall->remove();
        }
        m_firewall.reset();
    });
    auto engine = std::make_unique<EngineRun>(m_timings);
    if (const std::uint32_t error =
            engine->start(m_applicationDirectory, *profile.content, m_options.block);
        error != 0) {
        m_log->write(Level::Error, "engine.startFailed", {{"error", qint64(error)}});
        return error;
    }
    bool ran = false;
    bool lost = false;
    if (engine->waitUntilReady(profile.content->proxyPort, stop)) {
        m_log->write(Level::Info, "engine.ready");
        // Now with the tunnel adapter the engine made; a failure leaves the earlier block
        // standing, which holds the adapter's traffic back too.
        applyBlock();
        m_report(ServiceState::Running, 0);
        ran = true;
        if (m_options.reconnect) {
            lost = !superviseRestarts(engine, profile, stop);
        } else {
            lost = engine->process().wait(-1, &stop) !=
                   platform::SupervisedProcess::WaitResult::EventSet;
        }
    }

    m_report(ServiceState::StopPending, 0);
    engine->stop();
    m_log->write(lost || !ran ? Level::Error : Level::Info, "service.stop",
                 {{"ran", ran ? 1 : 0},
                  {"lost", lost ? 1 : 0},
                  {"engineExit", engine->process().exitCode()},
                  {"output", lastOutputLine(*engine)}});
    keepBlock = lost && m_firewall;
    if (keepBlock && !m_options.reconnect) {
        TunnelStatus status;
        status.state = TunnelStatus::State::Blocked;
        status.lastError = exitReason(*engine);
        writeServiceFile(tunnelcontract::tunnelStatusPath(m_tunnelName), m_tunnelName,
                         status.serialize(), profile.ownerAccount);
    } else if (!keepBlock && m_options.reconnect && stop.isSet()) {
        // Not through QFile: the toolkit's per-thread state must not be left on the service
        // manager's thread (see passesHealthCheck).
        std::error_code ignored;
        std::filesystem::remove(
            std::filesystem::path(tunnelcontract::tunnelStatusPath(m_tunnelName).toStdU16String()),
            ignored);
    }
    // Written before STOPPED is reported, so a client that sees the service stopped finds the
    // file complete.
    if (!engine->output().isEmpty()) {
        writeServiceFile(tunnelcontract::tunnelErrorPath(m_tunnelName), m_tunnelName,
                         engine->output().bytes(), profile.ownerAccount);
    }
    engine->output().wipe();
    return ran ? 0 : winerror::serviceNotActive;
}

bool EngineSupervisor::superviseRestarts(std::unique_ptr<EngineRun> &engine,
                                         const TunnelProfileRead &profile,
                                         const platform::Event &stop)
{
    std::mt19937 generator{std::random_device()()};
    std::uniform_real_distribution<double> extra(0.0, 1.0);
    RestartPolicy policy(
        m_timings.restart, [] { return std::chrono::steady_clock::now(); },
        [&] { return extra(generator); });
    const auto writeStatus = [&](const TunnelStatus &status) {
        writeServiceFile(tunnelcontract::tunnelStatusPath(m_tunnelName), m_tunnelName,
                         status.serialize(), profile.ownerAccount);
    };
    // Silent where the system offers no notifications; the service controls still ask for checks.
    platform::NetworkWatch watch;
    watch.start([this] { requestCheck(); });
    const quint16 port = profile.content->proxyPort;
    policy.healthy();
    for (;;) {
        QString lastError = watchEngine(*engine, port, stop);
        if (lastError.isEmpty()) {
            return true;
        }
        m_log->write(
            Level::Warning, "engine.lost",
            {{"reason", LogText::redacted(lastError)}, {"output", lastOutputLine(*engine)}});
        // Stopped at once, so a silent engine frees its port and nothing half-working runs.
        engine->stop();
        for (;;) {
            const std::optional<std::chrono::milliseconds> delay = policy.failed();
            TunnelStatus status;
            status.attempt = policy.attempt();
            status.lastError = lastError;
            if (!delay) {
                m_log->write(Level::Error, "engine.gaveUp", {{"attempt", policy.attempt()}});
                // The last engine's output stays for the tunnel error file.
                status.state =
                    m_firewall ? TunnelStatus::State::Blocked : TunnelStatus::State::GaveUp;
                writeStatus(status);
                return false;
            }
            status.state = TunnelStatus::State::Reconnecting;
            status.nextAttemptAt = QDateTime::currentDateTimeUtc().addMSecs(delay->count());
            writeStatus(status);
            m_log->write(Level::Info, "engine.restartWait",
                         {{"attempt", policy.attempt()}, {"delayMs", qint64(delay->count())}});
            // On the stop event, so a stop ends the wait at once and starts no engine.
            if (stop.wait(int(delay->count()))) {
                return true;
            }
            engine->output().wipe();
            engine = std::make_unique<EngineRun>(m_timings);
            if (const std::uint32_t error =
                    engine->start(m_applicationDirectory, *profile.content, m_options.block);
                error != 0) {
                lastError = u"The VPN engine could not be started (error %1)."_s.arg(error);
                continue;
            }
            const bool ready = engine->waitUntilReady(port, stop);
            const bool passed = ready && !stop.isSet() && passesHealthCheck(*profile.content, stop);
            if (stop.isSet()) {
                return true;
            }
            m_log->write(passed ? Level::Info : Level::Warning, "engine.restarted",
                         {{"attempt", policy.attempt()},
                          {"ready", ready ? 1 : 0},
                          {"healthCheck", passed ? 1 : 0}});
            if (passed) {
                applyBlock();
                policy.healthy();
                writeStatus(TunnelStatus());
                break;
            }
            if (engine->process().hasExited()) {
                lastError = exitReason(*engine);
            } else {
                lastError = ready ? u"The VPN engine did not pass the connection check."_s
                                  : u"The VPN engine did not open its proxy."_s;
            }
            engine->stop();
        }
    }
}

std::uint32_t EngineSupervisor::applyBlock()
{
    return m_firewall ? m_firewall->apply(tunnelfirewall::rules(m_applicationDirectory,
                                                                m_options.allowLocalNetwork))
                      : 0;
}

QString EngineSupervisor::watchEngine(EngineRun &engine, quint16 port, const platform::Event &stop)
{
    using platform::SupervisedProcess;
    for (;;) {
        SupervisedProcess::WaitResult result = engine.process().wait(m_timings.checkPollMs, &stop);
        if (result == SupervisedProcess::WaitResult::TimedOut && m_checkWanted.exchange(false)) {
            // The rest of a burst of requests joins this check.
            result = engine.process().wait(m_timings.checkDebounceMs, &stop);
            m_checkWanted = false;
            // The proxy must accept connections; no page is fetched through it: the engine dials
            // the server again for every connection by itself, and while the network is down a
            // fetch would fail and spend attempts that cannot help.
            if (result == SupervisedProcess::WaitResult::TimedOut &&
                !platform::probeLoopbackPort(port, m_timings.probeTimeoutMs)) {
                return u"The VPN engine stopped answering."_s;
            }
        }
        if (result == SupervisedProcess::WaitResult::EventSet) {
            return QString();
        }
        if (result == SupervisedProcess::WaitResult::Exited) {
            return exitReason(engine);
        }
    }
}
