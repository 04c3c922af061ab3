#pragma once

#include "common/servicelog.h"

#include "common/tunnelcontract.h"
#include "platform/event.h"
#include "platform/firewall.h"
#include "platform/servicecontrol.h"
#include "tunnel/restartpolicy.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class EngineRun;
struct TunnelProfileRead;

// The service's run of one tunnel: read and re-validate the tunnel profile file, start the
// engine in its kill-on-close containment with the configuration on its standard input, wait
// for the probe port, supervise until a stop is requested or the engine ends, stop the engine
// (break, then terminate) and leave whatever it printed as the tunnel error file.
//
// With reconnecting on, an engine lost while the service runs (it ended, or a check after a
// resume or a network change found its proxy silent) is started again with the same
// configuration, after the RestartPolicy's delay, and proven through its proxy; the tunnel
// status file tells the window meanwhile. Once the policy gives up, the run ends as it does
// without reconnecting when the engine ends.
//
// With blocking on, the firewall block goes up before the engine starts and stays through every
// restart. A stop lifts it once the engine has ended, as does an engine that never came up; an
// engine lost for good leaves it up (the status file says Blocked), and so does a crash of this
// process: the next install replaces it, and the helper's stop or clean-up lifts it.
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
        // From the first of a burst of check requests to the check: the rest of the burst joins
        // it.
        int checkDebounceMs = 2000;
        // How often a running tunnel looks for a check request.
        int checkPollMs = 200;
        RestartPolicy::Rules restart;
    };

    // Receives every state change, in order; the exit code matters with Stopped only.
    using StatusReporter =
        std::function<void(platform::ServiceState state, std::uint32_t exitCode)>;

    EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                     const QString &profilePath, const tunnelcontract::TunnelOptions &options,
                     StatusReporter reporter);
    EngineSupervisor(const QString &applicationDirectory, const QString &tunnelName,
                     const QString &profilePath, const tunnelcontract::TunnelOptions &options,
                     StatusReporter reporter, Timings timings);

    // Runs from START_PENDING to STOPPED; `stop` ends the run early. Returns the exit code
    // reported with STOPPED: 0 once the engine had come up, 13 for an unusable profile file,
    // 1062 when the engine never came up, 1068 when the block could not be put up, else the error
    // number of starting the engine.
    // Must run on one thread from start to end (the engine's parent-death link is per thread).
    std::uint32_t run(const platform::Event &stop);

    // Any thread: the machine resumed or its network changed. A running tunnel checks soon that
    // the engine runs and its proxy answers, and restarts it if not.
    void requestCheck();

private:
    // Everything between START_PENDING and STOPPED; returns the exit code to report.
    std::uint32_t superviseEngine(const platform::Event &stop);
    // From the first RUNNING on: starts the engine again whenever it is lost, until a stop
    // (the engine then still runs) or the policy gives up (the last engine has ended).
    // Returns whether the run ends on a stop (false: the engine is lost for good).
    bool superviseRestarts(std::unique_ptr<EngineRun> &engine, const TunnelProfileRead &profile,
                           const platform::Event &stop);
    // Puts the block up, in place of the one before, while blocking is on; 0 or the error number.
    std::uint32_t applyBlock();
    // Waits while the engine runs and passes the checks asked for; the reason it was lost, or
    // nothing once `stop` is set.
    QString watchEngine(EngineRun &engine, quint16 port, const platform::Event &stop);

    QString m_applicationDirectory;
    QString m_tunnelName;
    QString m_profilePath;
    tunnelcontract::TunnelOptions m_options;
    std::unique_ptr<platform::Firewall> m_firewall; // while the block is up
    std::optional<ServiceLog> m_log;                // once the profile names its owner
    StatusReporter m_report;
    Timings m_timings;
    std::atomic<bool> m_checkWanted{false};
};
