#include "tunnel/commandline.h"

#include "common/tunnelcontract.h"

using namespace Qt::Literals::StringLiterals;
using namespace tunnelcontract;

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
    } else if ((mode == u"--install"_s || mode == u"--service"_s) && count >= 3) {
        command.mode = mode == u"--install"_s ? TunnelMode::Install : TunnelMode::Service;
        command.profilePath = arguments.at(2);
        // Anything but the one canonical form is refused, so a command line means one thing.
        const QStringList switches = arguments.mid(3);
        command.options.reconnect = !switches.contains(QLatin1String(noReconnectSwitch));
        command.options.block = switches.contains(QLatin1String(blockSwitch));
        command.options.allowLocalNetwork =
            command.options.block && switches.contains(QLatin1String(allowLocalNetworkSwitch));
        if (switches != optionSwitches(command.options)) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    command.tunnelName = arguments.at(1);
    if (!tunnelcontract::isValidTunnelName(command.tunnelName)) {
        return std::nullopt;
    }
    return command;
}
