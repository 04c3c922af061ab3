#pragma once

#include "vpn/tunneladapter.h"

#include <QStringList>

// Every signal of a tunnel adapter as one line, in the order the signals arrived, so a test can
// compare the whole sequence ("busy", "idle", "state: <status text>", "failed: <message>").
class AdapterSignalRecorder
{
public:
    explicit AdapterSignalRecorder(TunnelAdapter &adapter)
    {
        using namespace Qt::Literals::StringLiterals;
        QObject::connect(&adapter, &TunnelAdapter::busyChanged, &adapter,
                         [this](bool busy) { events << (busy ? u"busy"_s : u"idle"_s); });
        QObject::connect(
            &adapter, &TunnelAdapter::stateChanged, &adapter,
            [this](const ConnectionState &state) { events << u"state: "_s + state.statusText(); });
        QObject::connect(&adapter, &TunnelAdapter::failed, &adapter,
                         [this](const QString &message) { events << u"failed: "_s + message; });
    }

    // True once an operation's final signal has arrived.
    bool ended() const { return !events.isEmpty() && events.last() != QLatin1String("busy"); }

    QStringList events;
};
