#include "tunnel/tunnelfirewall.h"

#include "common/enginecommand.h"
#include "common/tunnelcontract.h"
#include "platform/testswitch.h"
#include "tunnel/recordingfirewall.h"

#include <QDir>

namespace tunnelfirewall {

std::unique_ptr<platform::Firewall> open()
{
    if (const std::optional<std::string> path =
            platform::testSwitch(platform::TestSwitch::RecordFirewall)) {
        return std::make_unique<RecordingFirewall>(*path);
    }
    return platform::openSystemFirewall();
}

platform::FirewallRules rules(const QString &applicationDirectory, bool allowLocalNetwork)
{
    platform::FirewallRules rules;
    rules.enginePath =
        QDir::toNativeSeparators(enginecommand::enginePath(applicationDirectory)).toStdString();
    rules.adapterAlias = tunnelcontract::adapterAlias;
    rules.allowLocalNetwork = allowLocalNetwork;
    return rules;
}

std::uint32_t lift()
{
    return open()->remove();
}

} // namespace tunnelfirewall
