#include "common/servicelog.h"

#include "common/protectedstore.h"
#include "common/tunnelcontract.h"
#include "platform/systemfolder.h"

ServiceLog::ServiceLog(QString tunnelName, QString ownerAccount)
    : m_tunnelName(std::move(tunnelName))
    , m_ownerAccount(std::move(ownerAccount))
    , m_lines(read(m_tunnelName))
{}

void ServiceLog::write(DiagnosticLog::Level level, const LogText &event,
                       std::initializer_list<DiagnosticLog::Field> fields)
{
    m_lines.append(DiagnosticLog::line(level, event, fields));
    if (m_lines.size() > maximumLines) {
        m_lines.remove(0, m_lines.size() - maximumLines);
    }
    // A failed write loses this event only; the service goes on.
    if (platform::prepareTunnelErrorDirectory(m_ownerAccount.toStdString()) == 0) {
        protectedstore::writeMachineProtectedFile(
            tunnelcontract::tunnelLogPath(m_tunnelName), m_tunnelName,
            (m_lines.join(u'\n') + u'\n').toUtf8(), m_ownerAccount);
    }
}

QStringList ServiceLog::read(const QString &tunnelName)
{
    const QString text = QString::fromUtf8(
        protectedstore::readProtectedFile(tunnelcontract::tunnelLogPath(tunnelName)));
    QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    if (lines.size() > maximumLines) {
        lines.remove(0, lines.size() - maximumLines);
    }
    // Read back from a file another program wrote: no line longer than the log writes.
    for (QString &line : lines) {
        line.truncate(DiagnosticLog::maximumLineLength);
    }
    return lines;
}
