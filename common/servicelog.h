#pragma once

#include "common/diagnosticlog.h"

#include <QString>
#include <QStringList>

#include <initializer_list>

// The tunnel service's own log (tunnelcontract::tunnelLogPath): the service's start and stop,
// the engine's readiness, exits, restarts and back-off, and the checks after them, so that a
// problem report shows what the service did. Like the tunnel status file it lies in the folder
// only administrators can change, readable by the tunnel's owner only; it keeps the last
// maximumLines lines across the tunnel's services and is written whole after each event.
class ServiceLog
{
public:
    static constexpr int maximumLines = 500;

    // Starts from what earlier services of the tunnel left; `ownerAccount` is the reader.
    ServiceLog(QString tunnelName, QString ownerAccount);

    void write(DiagnosticLog::Level level, const LogText &event,
               std::initializer_list<DiagnosticLog::Field> fields = {});

    // The lines of the tunnel's log as its owner reads it; none when it cannot be read.
    static QStringList read(const QString &tunnelName);

private:
    QString m_tunnelName;
    QString m_ownerAccount;
    QStringList m_lines;
};
