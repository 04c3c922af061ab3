#pragma once

#include "api/backendrecords.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpSocket;

// The tool tip of a server row: the endpoint, the server's tier when it has one, and what the
// latency value says.
QString latencyToolTip(const QString &endpoint, const QString &tier, int latency);

// Measures how long a plain TCP connection to each server's endpoint takes, in sweeps over the
// catalogue: a few attempts at a time, each with a time limit, the connection aborted as soon as
// it stands. Says nothing about whether the VPN itself works.
class LatencyProbe : public QObject
{
    Q_OBJECT

public:
    // Latency values besides the measured milliseconds (at least 1).
    static constexpr int failed = -1;
    static constexpr int notMeasured = -2;
    static constexpr int maxRunning = 4;
    static constexpr int defaultAttemptLimitMs = 2500;

    explicit LatencyProbe(QObject *parent = nullptr);

    // A new sweep over the endpoints of `servers`; ends the running one and forgets its results.
    void start(const QList<api::ServerRecord> &servers);
    // For the periodic sweep: starts only when none is running; true when it started.
    bool startIfIdle(const QList<api::ServerRecord> &servers);
    // Sign-out: the sweep's connections close at once and its results are forgotten.
    void stop();
    // A result known without measuring: the sample latencies of the preview runs.
    void setLatency(const QString &id, int latency);

    // The server's latency in this sweep, notMeasured when there is none yet.
    int latency(const QString &id) const { return m_latencies.value(id, notMeasured); }
    bool isSweeping() const { return !m_queue.isEmpty() || m_running > 0; }
    int runningCount() const { return m_running; }
    void setAttemptLimit(int milliseconds) { m_attemptLimitMs = milliseconds; }

signals:
    // A sweep started or a result arrived.
    void latenciesChanged();

private:
    void pumpProbes();
    void finishProbe(QTcpSocket *socket, const QString &id, int latency);

    // Owns the sweep's sockets; deleting it ends the sweep.
    QPointer<QObject> m_sweep;
    QList<api::ServerRecord> m_queue;
    int m_running = 0;
    QHash<QString, int> m_latencies;
    int m_attemptLimitMs = defaultAttemptLimitMs;
};
