#include "tunnel/enginerun.h"

#include "common/enginecommand.h"
#include "common/engineconfiguration.h"
#include "common/secretwipe.h"
#include "platform/crypto.h"
#include "platform/probeport.h"
#include "tunnel/pollschedule.h"

#include <QDir>

#include <chrono>
#include <string>
#include <vector>

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

} // namespace

EngineRun::EngineRun(const EngineSupervisor::Timings &timings)
    : m_timings(timings)
{}

EngineRun::~EngineRun()
{
    stop();
}

std::uint32_t EngineRun::start(const QString &applicationDirectory,
                               const tunnelcontract::TunnelProfileFile &profile, bool exempt)
{
    if (exempt) {
        m_process.exemptFromFirewall();
    }
    QByteArray configuration =
        buildEngineConfiguration(profile.profile, profile.proxyPort,
                                 QLatin1String(engineProbeProxyUser), profile.proxyPassword);
    const QString program =
        QDir::toNativeSeparators(enginecommand::enginePath(applicationDirectory));
    const QString directory =
        QDir::toNativeSeparators(enginecommand::engineDirectory(applicationDirectory));
    if (const std::uint32_t error =
            m_process.start(program.toStdString(), engineArguments(), directory.toStdString());
        error != 0) {
        secretwipe::wipe(configuration);
        return error;
    }
    m_running = true;
    std::promise<void> readerDone;
    m_outputEnded = readerDone.get_future();
    m_reader =
        std::thread(collectOutput, std::ref(m_process), std::ref(m_output), std::move(readerDone));
    m_fed = feedConfiguration(m_process, configuration);
    return 0;
}

bool EngineRun::waitUntilReady(quint16 port, const platform::Event &stop)
{
    if (!m_fed) {
        return false;
    }
    // An engine that is quick to listen is seen quickly; a slow one is given as long as ever.
    PollSchedule schedule(std::chrono::milliseconds(m_timings.probeRetryDelayMs),
                          m_timings.probeAttempts);
    for (;;) {
        if (m_process.hasExited() || stop.isSet()) {
            return false;
        }
        if (platform::probeLoopbackPort(port, m_timings.probeTimeoutMs)) {
            return true;
        }
        const std::optional<std::chrono::milliseconds> pause = schedule.nextPause();
        if (!pause) {
            return false;
        }
        // Waiting on the stop event lets a stop end the pause at once.
        stop.wait(static_cast<int>(pause->count()));
    }
}

void EngineRun::stop()
{
    if (!m_running) {
        return;
    }
    m_running = false;
    m_process.sendBreak();
    if (m_process.wait(m_timings.breakGraceMs) ==
        platform::SupervisedProcess::WaitResult::TimedOut) {
        m_process.terminate(1);
        m_process.wait(m_timings.terminateGraceMs);
    }
    m_process.closeContainment();
    // What is still running in the containment is gone now, but something that left it may
    // hold the pipe open: past the drain time the reading is cancelled (again, until it ends: a
    // cancel may come just before the reader's next wait).
    if (m_outputEnded.wait_for(std::chrono::milliseconds(m_timings.outputDrainMs)) !=
        std::future_status::ready) {
        do {
            m_process.cancelOutput();
        } while (m_outputEnded.wait_for(std::chrono::milliseconds(20)) !=
                 std::future_status::ready);
    }
    m_reader.join();
    m_process.closeOutput();
}
