#include "tunnel/tunnelprogram.h"

#include "common/tunnelcontract.h"
#include "platform/systemfolder.h"
#include "tunnel/commandline.h"
#include "tunnel/tunnelhelper.h"
#include "tunnel/tunnelservice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

void confinePluginFolders()
{
    QStringList folders;
    for (const QString &folder :
         {QCoreApplication::applicationDirPath(), QLibraryInfo::path(QLibraryInfo::PluginsPath)}) {
        if (!folder.isEmpty() && platform::isChangeableOnlyByAdministrators(
                                     QDir::toNativeSeparators(folder).toStdString())) {
            folders.append(folder);
        }
    }
    QCoreApplication::setLibraryPaths(folders);
}

std::uint32_t runTunnelProgram(const QStringList &arguments, const QString &programPath)
{
    const std::optional<TunnelCommand> command = parseTunnelCommandLine(arguments);
    if (!command) {
        return tunnelcontract::exitcode::invalidCommandLine;
    }
    std::uint32_t result = 0;
    switch (command->mode) {
    case TunnelMode::Install:
        result = tunnelhelper::installTunnel(command->tunnelName, command->profilePath, programPath,
                                             command->options);
        break;
    case TunnelMode::Stop:
        result = tunnelhelper::stopTunnel(command->tunnelName);
        break;
    case TunnelMode::Service:
        result =
            tunnelservice::runServiceMode(command->tunnelName, command->profilePath,
                                          QFileInfo(programPath).absolutePath(), command->options);
        break;
    case TunnelMode::CleanupAll:
        result = tunnelhelper::cleanupServices(tunnelhelper::CleanupScope::All);
        break;
    case TunnelMode::CleanupLegacy:
        result = tunnelhelper::cleanupServices(tunnelhelper::CleanupScope::EarlierProducts);
        break;
    }
    return result;
}
