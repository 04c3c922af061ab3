// "A restarted client" for end-to-end tests: a fresh process that builds the API client, the tunnel
// adapter and the VPN controller the way the window does, waits for the controller's first view of
// the managed tunnel and prints it on one line:
//     running <connectionStartedAt, ISO 8601 with milliseconds, UTC>
//     stopped
// Exit code 0 after a report, 2 when no report came (no managed tunnel), 64 for bad arguments.
//
// Usage: solvikvpn-controllerhost <organization> <application>
// The settings and data directory follow that application identity under the inherited HOME and
// XDG variables, in Qt's test mode as the test process uses them; the service manager and the
// elevation mode come from the inherited environment as well.
#include "api/apiclient.h"
#include "vpn/vpncontroller.h"
#include "vpn/windowsvless.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int reportTimeoutMs = 10000;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: solvikvpn-controllerhost <organization> <application>\n");
        return 64;
    }
    QCoreApplication::setOrganizationName(arguments.at(1));
    QCoreApplication::setApplicationName(arguments.at(2));
    QStandardPaths::setTestModeEnabled(true);

    ApiClient api;
    WindowsVless adapter;
    // Queued, so the line is printed after the controller has handled the same report.
    QObject::connect(
        &adapter, &TunnelAdapter::stateChanged, &application, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    VpnController controller(api, adapter);
    QTimer::singleShot(reportTimeoutMs, &application, [] { QCoreApplication::exit(2); });

    const int code = QCoreApplication::exec();
    if (code == 0) {
        const QString line =
            controller.running()
                ? QStringLiteral("running ") +
                      controller.connectedSince().toUTC().toString(Qt::ISODateWithMs)
                : QStringLiteral("stopped");
        std::printf("%s\n", qPrintable(line));
    }
    return code;
}
