#pragma once

#include "common/tunnelcontract.h"
#include "platform/event.h"
#include "platform/supervisedprocess.h"
#include "tunnel/enginesupervisor.h"
#include "tunnel/outputcollector.h"

#include <QString>

#include <cstdint>
#include <future>
#include <thread>

// One run of the engine: its contained process with the configuration on its standard input,
// and the thread that collects what it prints. Started, stopped and destroyed on one thread
// (the engine's parent-death link is per thread).
class EngineRun
{
public:
    explicit EngineRun(const EngineSupervisor::Timings &timings);
    // Stops the engine if that was not done yet.
    ~EngineRun();
    EngineRun(const EngineRun &) = delete;
    EngineRun &operator=(const EngineRun &) = delete;

    // Starts the engine of `applicationDirectory` and feeds it the configuration built from
    // `profile`; 0, or the error number of starting it. The configuration is wiped either way.
    // With `exempt` its traffic passes the firewall block.
    std::uint32_t start(const QString &applicationDirectory,
                        const tunnelcontract::TunnelProfileFile &profile, bool exempt);
    // Waits for the probe port; false when the configuration could not be written, the engine
    // ended, `stop` was set or the time of `probeAttempts` attempts ran out.
    bool waitUntilReady(quint16 port, const platform::Event &stop);
    // Break, then terminate; closes the containment and waits for the output to end. Once only.
    void stop();

    platform::SupervisedProcess &process() { return m_process; }
    // Complete once stopped; the owner wipes it.
    OutputCollector &output() { return m_output; }

private:
    EngineSupervisor::Timings m_timings;
    platform::SupervisedProcess m_process;
    OutputCollector m_output;
    std::thread m_reader;
    std::future<void> m_outputEnded;
    bool m_fed = false;
    bool m_running = false;
};
