#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// The connection as the window shows it. The tunnel adapter reports Unknown, NotConnected,
// Connected, Reconnecting or Blocked; the controller adds the phases of its own operations, the
// server and the start.
struct ConnectionState
{
    Q_GADGET

public:
    enum class Phase
    {
        Unknown, // the tunnel's service could not be asked
        NotConnected,
        Connecting, // a connect or a server switch is under way
        Connected,
        Reconnecting,  // the tunnel is being brought back without the user asking
        Blocked,       // no tunnel carries traffic, and traffic is held back until one does
        Disconnecting, // a stop the user asked for is under way
    };
    Q_ENUM(Phase)

    explicit ConnectionState(Phase phase = Phase::NotConnected, const QString &serverId = {},
                             const QDateTime &since = {})
        : phase(phase)
        , serverId(serverId)
        , since(since)
    {}

    Phase phase;
    // The server the running tunnel leads to.
    QString serverId;
    // When the running tunnel came up; kept while its service cannot be asked and while it is
    // being brought back.
    QDateTime since;
    // While Reconnecting: the attempt under way, 1 for the first.
    int attempt = 0;

    // The status line's text.
    QString statusText() const;
};
