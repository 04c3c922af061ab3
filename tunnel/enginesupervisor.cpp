#include "tunnel/enginesupervisor.h"

#include "common/enginecommand.h"
#include "common/engineconfiguration.h"
#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "common/tunnelcontract.h"
#include "platform/crypto.h"
#include "platform/probeport.h"
#include "platform/supervisedprocess.h"
#include "platform/systemfolder.h"
#include "platform/winerror.h"
#include "tunnel/outputcollector.h"
#include "tunnel/tunnelprofilefile.h"

#include <QDir>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using platform::ServiceState;
namespace winerror = platform::winerror;

namespace {

constexpr std::size_t readChunk = 4096;

std::vector<std::string> engineArguments()
{
    std::vector<std::string> arguments;
    for (const QString &argument : enginecommand::runArguments()) {
        arguments.push_back(argument.toStdString());
    }
    return arguments;
}

// Fills the collector until the engine and everything that inherited its output closed it, or
// the reading is cancelled.
void collectOutput(platform::SupervisedProcess &engine, OutputCollector &collector,
                   std::promise<void> done)
{
    char buffer[readChunk];
    for (;;) {
        const std::size_t count = engine.readOutput(buffer, sizeof buffer);
        if (count == 0) {
            break;
        }
        collector.append(buffer, count);
    }
    platform::secureZero(buffer, sizeof buffer);
    done.set_value();
}

// Waits for the reader after the engine's containment closed: what is still running in it is
// gone, but something that left it may hold the pipe open. Past the drain time the reading is
// cancelled (again, until it ends: a cancel may come just before the reader's next wait).
void finishReading(platform::SupervisedProcess &engine, std::thread &reader,
                   std::future<void> &done, const EngineSupervisor::Timings &timings)
{
    if (done.wait_for(std::chrono::milliseconds(timings.outputDrainMs)) !=
        std::future_status::ready) {
        do {
            engine.cancelOutput();
        } while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready);
    }
    reader.join();
}

// Writes the whole configuration and closes the engine's input; the configuration is wiped
// whether or not the write succeeded.
bool feedConfiguration(platform::SupervisedProcess &engine, QByteArray &configuration)
{
    const bool written = engine.writeInput(configuration.constData(),
                                           static_cast<std::size_t>(configuration.size()));
    secretwipe::wipe(configuration);
    engine.closeInput();
    return written;
}

bool waitForProbePort(platform::SupervisedProcess &engine, quint16 port,
                      const platform::Event &stop, const EngineSupervisor::Timings &timings)
{
    for (int attempt = 0; attempt < timings.probeAttempts; ++attempt) {
        if (engine.hasExited() || stop.isSet()) {
            return false;
        }
        if (platform::probeLoopbackPort(port, timings.probeTimeoutMs)) {
            return true;
        }
        // Waiting on the stop event lets a stop end the pause at once.
        stop.wait(timings.probeRetryDelayMs);
    }
    return false;
}

void stopEngine(platform::SupervisedProcess &engine, const EngineSupervisor::Timings &timings)
{
    engine.sendBreak();
    if (engine.wait(timings.breakGraceMs) == platform::SupervisedProcess::WaitResult::TimedOut) {
        engine.terminate(1);
        engine.wait(timings.terminateGraceMs);
    }
    engine.closeContainment();
}

} // namespace

EngineSupervisor::EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                                   const QString &profilePath, StatusReporter reporter)
    : EngineSupervisor(applicationDirectory, tunnelName, profilePath, std::move(reporter),
                       Timings())
{}

EngineSupervisor::EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                                   const QString &profilePath, StatusReporter reporter,
                                   Timings timings)
    : m_applicationDirectory(applicationDirectory)
    , m_tunnelName(tunnelName)
    , m_profilePath(profilePath)
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

std::uint32_t EngineSupervisor::superviseEngine(const platform::Event &stop)
{
    // The command line came through the service manager: the file is judged again here.
    TunnelProfileRead profile = readTunnelProfileFile(m_tunnelName, m_profilePath);
    if (!profile.content) {
        return tunnelcontract::exitcode::invalidTunnelProfile;
    }
    const quint16 proxyPort = profile.content->proxyPort;
    QByteArray configuration = buildEngineConfiguration(profile.content->profile, proxyPort,
                                                        QLatin1String(engineProbeProxyUser),
                                                        profile.content->proxyPassword);
    tunnelcontract::wipeTunnelProfileFile(*profile.content);

    platform::SupervisedProcess engine;
    const QString program =
        QDir::toNativeSeparators(enginecommand::enginePath(m_applicationDirectory));
    const QString directory =
        QDir::toNativeSeparators(enginecommand::engineDirectory(m_applicationDirectory));
    if (const std::uint32_t error =
            engine.start(program.toStdString(), engineArguments(), directory.toStdString());
        error != 0) {
        secretwipe::wipe(configuration);
        return error;
    }

    OutputCollector output;
    std::promise<void> readerDone;
    std::future<void> outputEnded = readerDone.get_future();
    std::thread reader(collectOutput, std::ref(engine), std::ref(output), std::move(readerDone));
    bool ran = false;
    if (feedConfiguration(engine, configuration) &&
        waitForProbePort(engine, proxyPort, stop, m_timings)) {
        m_report(ServiceState::Running, 0);
        engine.wait(-1, &stop);
        ran = true;
    }

    m_report(ServiceState::StopPending, 0);
    stopEngine(engine, m_timings);
    finishReading(engine, reader, outputEnded, m_timings);
    engine.closeOutput();

    // Written before STOPPED is reported, so a client that sees the service stopped finds the
    // file complete; only into the folder that nobody but the administrators can change, and
    // readable by the account that wrote the profile.
    if (!output.isEmpty() &&
        platform::prepareTunnelErrorDirectory(profile.ownerAccount.toStdString()) == 0) {
        QByteArray text = output.bytes();
        protectedstore::writeMachineProtectedFile(tunnelcontract::tunnelErrorPath(m_tunnelName),
                                                  m_tunnelName, text, profile.ownerAccount);
        secretwipe::wipe(text);
    }
    output.wipe();
    return ran ? 0 : winerror::serviceNotActive;
}
