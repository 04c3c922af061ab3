#pragma once

#include "platform/event.h"
#include "platform/servicecontrol.h"

#include <QString>

#include <cstdint>
#include <functional>

// The service's run of one tunnel: read and re-validate the tunnel profile file, start the
// engine in its kill-on-close containment with the configuration on its standard input, wait
// for the probe port, supervise until a stop is requested or the engine ends, stop the engine
// (break, then terminate) and leave whatever it printed as the tunnel error file.
class EngineSupervisor
{
public:
    // The defaults are the product's; tests shorten them.
    struct Timings
    {
        int probeAttempts = 100;
        int probeTimeoutMs = 100;
        int probeRetryDelayMs = 100;
        int breakGraceMs = 10000;    // after Ctrl-Break, before the engine is terminated
        int terminateGraceMs = 5000; // after terminating it
        // After the containment closed, for the output to end: a process that escaped it may
        // keep the pipe open, and must not hold the stop beyond this.
        int outputDrainMs = 1000;
    };

    // Receives every state change, in order; the exit code matters with Stopped only.
    using StatusReporter =
        std::function<void(platform::ServiceState state, std::uint32_t exitCode)>;

    EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                     const QString &profilePath, StatusReporter reporter);
    EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                     const QString &profilePath, StatusReporter reporter, Timings timings);

    // Runs from START_PENDING to STOPPED; `stop` ends the run early. Returns the exit code
    // reported with STOPPED: 0 once the engine had come up, 13 for an unusable profile file,
    // 1062 when the engine never came up, else the error number of starting the engine.
    // Must run on one thread from start to end (the engine's parent-death link is per thread).
    std::uint32_t run(const platform::Event &stop);

private:
    // Everything between START_PENDING and STOPPED; returns the exit code to report.
    std::uint32_t superviseEngine(const platform::Event &stop);

    QString m_applicationDirectory;
    QString m_tunnelName;
    QString m_profilePath;
    StatusReporter m_report;
    Timings m_timings;
};
