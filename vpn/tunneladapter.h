#pragma once

#include "common/tunnelprofile.h"
#include "vpn/connectionstate.h"

#include <QObject>
#include <QString>

// What the connection logic talks to when it brings a tunnel up or down. All operations return at
// once; results arrive later as signals on the main thread.
class TunnelAdapter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // Unknown, NotConnected, Connected or Reconnecting (with its attempt).
    void stateChanged(const ConnectionState &state);
    void failed(const QString &message);
    void busyChanged(bool busy);
    // For the client's log: the engine's verdict on a profile, and how a helper run ended.
    void engineChecked(bool passed);
    void helperFinished(bool install, quint32 exitCode);

public slots:
    virtual void start(const QString &tunnelName, const TunnelProfile &profile) = 0;
    virtual void stop(const QString &tunnelName) = 0;
    virtual void refresh(const QString &tunnelName) = 0;
};
