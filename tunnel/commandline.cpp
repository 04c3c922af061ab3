#include "tunnel/commandline.h"

#include "common/tunnelcontract.h"

using namespace Qt::Literals::StringLiterals;

std::optional<TunnelCommand> parseTunnelCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        return std::nullopt;
    }
    const QString &mode = arguments.first();
    const qsizetype count = arguments.size();
    TunnelCommand command;
    if (mode == u"--cleanup-all"_s && count == 1) {
        command.mode = TunnelMode::CleanupAll;
        return command;
    }
    if (mode == u"--cleanup-legacy"_s && count == 1) {
        command.mode = TunnelMode::CleanupLegacy;
        return command;
    }
    // The client's stop command line may carry more; only the tunnel name matters.
    if (mode == u"--stop"_s && count >= 2) {
        command.mode = TunnelMode::Stop;
    } else if ((mode == u"--install"_s || mode == u"--service"_s) &&
               (count == 3 ||
                (count == 4 &&
                 arguments.at(3) == QLatin1String(tunnelcontract::noReconnectSwitch)))) {
        command.mode = mode == u"--install"_s ? TunnelMode::Install : TunnelMode::Service;
        command.profilePath = arguments.at(2);
        command.reconnect = count == 3;
    } else {
        return std::nullopt;
    }
    command.tunnelName = arguments.at(1);
    if (!tunnelcontract::isValidTunnelName(command.tunnelName)) {
        return std::nullopt;
    }
    return command;
}
