#pragma once

#include "platform/elevation.h"
#include "vpn/tunneladapter.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class ProcessEndNotifier;
class QProcess;

// The tunnel adapter of the desktop client. A start prepares the tunnel profile file, lets the
// engine check the exact configuration the service will run, and only then starts the tunnel
// helper elevated with "--install"; a stop runs the helper with "--stop". The helper's exit code
// and the service's error file become the user's message; the status poll adds the service's
// status record, which tells a tunnel being brought back from a running one.
class WindowsVless : public TunnelAdapter
{
    Q_OBJECT

public:
    explicit WindowsVless(QObject *parent = nullptr);
    ~WindowsVless() override;

    // True from the moment a start passed its preparation, or a stop began, until its final
    // signal; start and stop are ignored meanwhile.
    bool busy() const { return m_busy; }

    // Where the helper and the engine are looked for; the application's directory by default.
    void setApplicationDirectory(const QString &directory);
    // How long the engine check may take before it is killed (8000 ms by default).
    void setEngineCheckTimeout(int milliseconds);

public slots:
    void start(const QString &tunnelName, const TunnelProfile &profile) override;
    void stop(const QString &tunnelName) override;
    void refresh(const QString &tunnelName) override;

private:
    enum class HelperCommand
    {
        Install,
        Stop
    };

    void setBusy(bool busy);
    void finishWithFailure(const QString &message);
    void startEngineCheck(const TunnelProfile &profile, quint16 proxyPort, QString &password);
    void engineCheckEnded(QProcess *process, bool success);
    void runHelper(HelperCommand command);
    void watchHelper();
    void helperEnded(std::uint32_t exitCode);
    // The one mapping of a failed helper run to a sentence: the engine's own words from the
    // tunnel error file when it left any, else what the exit code means.
    QString helperFailureMessage(std::uint32_t exitCode, bool install) const;
    QString applicationDirectory() const;
    QString profilePath() const;

    QString m_applicationDirectory;
    int m_engineCheckTimeoutMs = 8000;
    bool m_busy = false;
    QString m_tunnelName;
    HelperCommand m_command = HelperCommand::Install;
    // The engine configuration between building it and handing it to the started engine.
    QByteArray m_configuration;
    QPointer<QProcess> m_check;
    QTimer m_checkDeadline;
    platform::ElevatedProcess m_helper;
    // The helper's end arrives from the system; the timer polls where it cannot, and slowly
    // besides.
    std::unique_ptr<ProcessEndNotifier> m_helperEnd;
    QTimer m_helperWatch;
};
