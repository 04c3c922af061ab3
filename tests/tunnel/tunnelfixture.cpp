#include "tunnelfixture.h"

#include "common/protectedstore.h"
#include "common/tunnelcontract.h"
#include "platform/exitstatus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

TunnelFixture::TunnelFixture(bool withEngine)
{
    const QString built = QCoreApplication::applicationDirPath();
    QDir root(m_root.path());
    m_valid =
        m_root.isValid() && root.mkpath(u"app/core"_s) && root.mkpath(u"data"_s) &&
        root.mkpath(u"services"_s) &&
        QFile::setPermissions(serviceRoot(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner) &&
        QFile::copy(built + u"/solvikvpn-tunnel"_s, programPath());
    // Copies, not links: the privileged helper judges every folder up to the root, and the
    // temporary folder's chain is the same wherever the build lies.
    if (m_valid && withEngine) {
        m_valid = QFile::copy(built + u"/sing-box"_s, applicationDirectory() + u"/core/sing-box"_s);
    }
    m_previousRoot = qgetenv(serviceRootVariable);
    qputenv(serviceRootVariable, serviceRoot().toUtf8());
}

TunnelFixture::~TunnelFixture()
{
    if (m_previousRoot.isEmpty()) {
        qunsetenv(serviceRootVariable);
    } else {
        qputenv(serviceRootVariable, m_previousRoot);
    }
}

QString TunnelFixture::applicationDirectory() const
{
    return m_root.filePath(u"app"_s);
}

QString TunnelFixture::programPath() const
{
    return applicationDirectory() + u"/solvikvpn-tunnel"_s;
}

QString TunnelFixture::serviceRoot() const
{
    return m_root.filePath(u"services"_s);
}

QString TunnelFixture::dataDirectory() const
{
    return m_root.filePath(u"data"_s);
}

QString TunnelFixture::profilePath() const
{
    return tunnelcontract::tunnelProfilePath(dataDirectory(), tunnelName);
}

QString TunnelFixture::errorPath() const
{
    return serviceRoot() + u"/tunnel-errors/"_s + tunnelName + u".vless.dpapi.error.dpapi"_s;
}

bool TunnelFixture::writeProfile(quint16 proxyPort, const QString &password) const
{
    return writePlainProfile(
        tunnelcontract::serializeTunnelProfileFile(profileLink, proxyPort, password));
}

bool TunnelFixture::writePlainProfile(const QByteArray &plain) const
{
    return protectedstore::writeMachineProtectedFile(profilePath(), tunnelName, plain, QString());
}

QByteArray TunnelFixture::readErrorFile() const
{
    return protectedstore::readProtectedFile(errorPath());
}

QProcessEnvironment TunnelFixture::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(serviceRootVariable), serviceRoot());
    return environment;
}

int TunnelFixture::runProgram(const QStringList &arguments,
                              const QProcessEnvironment &environment) const
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(programPath(), arguments);
    if (!program.waitForStarted()) {
        return -1;
    }
    if (!QTest::qWaitFor([&program] { return program.state() == QProcess::NotRunning; }, 60000)) {
        program.kill();
        program.waitForFinished();
        return -1;
    }
    // Back from the system's exit status to the Windows error number the program reported.
    return program.exitStatus() == QProcess::NormalExit
               ? int(platform::fromExitStatus(program.exitCode()))
               : -1;
}

QStringList TunnelFixture::logged(const QString &runLog, const QString &kind)
{
    QFile file(runLog);
    return file.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(file.readAll()).split(u'\n').filter(kind)
               : QStringList();
}

std::optional<TunnelStatus> TunnelFixture::statusRecord()
{
    return TunnelStatus::parse(protectedstore::readProtectedFile(
        tunnelcontract::tunnelStatusPath(TunnelFixture::tunnelName)));
}

quint16 TunnelFixture::freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

platform::ServiceStatus TunnelFixture::serviceStatus(const QString &serviceName,
                                                     std::uint32_t &error)
{
    platform::ServiceStatus status;
    platform::ServiceManager manager(platform::ManagerAccess::Connect);
    platform::ServiceHandle service =
        manager.openService(serviceName.toStdString(), platform::ServiceQueryStatus);
    error = service.isOpen() ? service.query(status) : service.error();
    return status;
}
