#pragma once

#include "vpn/tunneladapter.h"

#include <QList>
#include <QString>
#include <QStringList>

// A TunnelAdapter that records every call and reports what the test scripts. Like the real
// adapter, start and stop are ignored while busy, announce busyChanged(true) at once and finish
// later: automatically on the next event-loop turn, or when the test calls finish*/failOperation.
class FakeTunnelAdapter : public TunnelAdapter
{
    Q_OBJECT

public:
    enum class Completion
    {
        Manual,  // the test finishes the operation
        Succeed, // connected / stopped on the next event-loop turn
        Fail,    // failed(failureMessage) on the next event-loop turn
    };

    using TunnelAdapter::TunnelAdapter;

    void start(const QString &tunnelName, const TunnelProfile &profile) override;
    void stop(const QString &tunnelName) override;
    void refresh(const QString &tunnelName) override;

    // Completes the operation in progress as the real adapter would.
    void finishStart();
    void finishStop();
    // Ends the operation with any state report, e.g. a start whose service is not running.
    void finishWithReport(ConnectionState::Phase phase);
    void failOperation(const QString &message);
    // A state report outside any operation, e.g. the service ended by itself.
    void report(ConnectionState::Phase phase);

    bool isBusy() const { return m_busy; }

    // Every call in order, as "start <name>", "stop <name>" or "refresh <name>".
    QStringList calls;
    QList<TunnelProfile> startedProfiles;
    Completion completion = Completion::Manual;
    QString failureMessage = QStringLiteral("The VPN engine could not start.");
    // What refresh() reports; refresh stays silent when `answerRefresh` is false.
    bool answerRefresh = true;
    ConnectionState::Phase refreshPhase = ConnectionState::Phase::NotConnected;

private:
    void begin(bool starting);
    void end();

    bool m_busy = false;
    bool m_starting = false;
};
