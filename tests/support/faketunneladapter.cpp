#include "faketunneladapter.h"

#include <QTimer>

void FakeTunnelAdapter::start(const QString &tunnelName, const TunnelProfile &profile)
{
    calls.append(QStringLiteral("start ") + tunnelName);
    if (m_busy)
        return;
    startedProfiles.append(profile);
    begin(true);
}

void FakeTunnelAdapter::stop(const QString &tunnelName)
{
    calls.append(QStringLiteral("stop ") + tunnelName);
    if (m_busy)
        return;
    begin(false);
}

void FakeTunnelAdapter::refresh(const QString &tunnelName)
{
    calls.append(QStringLiteral("refresh ") + tunnelName);
    if (!m_busy && answerRefresh)
        report(refreshPhase);
}

void FakeTunnelAdapter::begin(bool starting)
{
    m_busy = true;
    m_starting = starting;
    emit busyChanged(true);
    if (completion == Completion::Manual)
        return;
    QTimer::singleShot(0, this, [this] {
        if (!m_busy)
            return;
        if (completion == Completion::Fail)
            failOperation(failureMessage);
        else if (m_starting)
            finishStart();
        else
            finishStop();
    });
}

void FakeTunnelAdapter::end()
{
    m_busy = false;
    emit busyChanged(false);
}

void FakeTunnelAdapter::finishStart()
{
    finishWithReport(ConnectionState::Phase::Connected);
}

void FakeTunnelAdapter::finishStop()
{
    finishWithReport(ConnectionState::Phase::NotConnected);
}

void FakeTunnelAdapter::finishWithReport(ConnectionState::Phase phase)
{
    end();
    report(phase);
}

void FakeTunnelAdapter::failOperation(const QString &message)
{
    end();
    emit failed(message);
}

void FakeTunnelAdapter::report(ConnectionState::Phase phase)
{
    emit stateChanged(ConnectionState{phase});
}
