#include "devbackend.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

using namespace Qt::StringLiterals;

// The development backend as a program: `solvikvpn-devbackend --port 8080`, then point the client's
// API base URL at the printed address. Tokens a user would receive by e-mail are printed here;
// access and refresh tokens never are.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"solvikvpn-devbackend"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Solvik VPN development backend (loopback HTTP JSON API)."_s);
    parser.addHelpOption();
    const QCommandLineOption host(u"host"_s, u"Address to listen on."_s, u"address"_s,
                                  u"127.0.0.1"_s);
    const QCommandLineOption port(u"port"_s, u"Port to listen on (0 picks a free one)."_s,
                                  u"port"_s, u"8080"_s);
    const QCommandLineOption email(u"demo-email"_s, u"Demo account e-mail."_s, u"email"_s);
    const QCommandLineOption password(u"demo-password"_s, u"Demo account password."_s,
                                      u"password"_s);
    const QCommandLineOption tier(u"demo-tier"_s, u"Demo account tier: free or paid."_s, u"tier"_s);
    const QCommandLineOption unverified(u"demo-unverified"_s,
                                        u"Leave the demo account's e-mail unverified."_s);
    const QCommandLineOption ttl(u"access-token-ttl"_s, u"Access token lifetime in seconds."_s,
                                 u"seconds"_s);
    const QCommandLineOption servers(u"servers"_s, u"Number of usable servers."_s, u"count"_s);
    const QCommandLineOption countries(u"countries"_s, u"Number of countries (at most 16)."_s,
                                       u"count"_s);
    const QCommandLineOption deviceLimit(u"device-limit"_s, u"Devices per account."_s, u"count"_s);
    const QCommandLineOption bare(u"no-data-envelope"_s,
                                  u"Reply with bare objects instead of {\"data\": ...}."_s);
    const QCommandLineOption meUser(u"me-inside-user"_s, u"Put the /me fields inside \"user\"."_s);
    const QCommandLineOption numeric(u"numeric-device-ids"_s,
                                     u"Send device ids as JSON numbers."_s);
    parser.addOptions({host, port, email, password, tier, unverified, ttl, servers, countries,
                       deviceLimit, bare, meUser, numeric});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    DevBackendOptions options;
    const auto number = [&](const QCommandLineOption &option, int minimum, int maximum,
                            int *target) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < minimum || value > maximum) {
            err << u"--%1 must be a whole number from %2 to %3."_s.arg(option.names().first())
                       .arg(minimum)
                       .arg(maximum)
                << Qt::endl;
            return false;
        }
        *target = value;
        return true;
    };
    int listenPort = 8080;
    if (!number(port, 0, 65535, &listenPort) ||
        !number(ttl, 1, 86400, &options.accessTokenLifetimeSeconds) ||
        !number(servers, 0, 2000, &options.servers) ||
        !number(countries, 1, 16, &options.countries) ||
        !number(deviceLimit, 1, 100, &options.deviceLimit))
        return 2;
    if (parser.isSet(email))
        options.demoEmail = parser.value(email);
    if (parser.isSet(password))
        options.demoPassword = parser.value(password);
    if (parser.isSet(tier))
        options.demoTier = parser.value(tier);
    options.demoVerified = !parser.isSet(unverified);
    options.wrapInData = !parser.isSet(bare);
    options.meInsideUser = parser.isSet(meUser);
    options.numericDeviceIds = parser.isSet(numeric);

    const QHostAddress address(parser.value(host));
    if (address.isNull()) {
        err << u"--host must be an IP address."_s << Qt::endl;
        return 2;
    }
    DevBackend backend(options);
    QObject::connect(&backend, &DevBackend::verificationTokenIssued, &app,
                     [&out](const QString &to, const QString &token) {
                         out << u"Verification token for %1: %2"_s.arg(to, token) << Qt::endl;
                     });
    QObject::connect(&backend, &DevBackend::resetTokenIssued, &app,
                     [&out](const QString &to, const QString &token) {
                         out << u"Password reset token for %1: %2"_s.arg(to, token) << Qt::endl;
                     });
    if (!backend.listen(address, quint16(listenPort))) {
        err << u"Could not listen on %1:%2: %3"_s.arg(address.toString())
                   .arg(listenPort)
                   .arg(backend.errorString())
            << Qt::endl;
        return 1;
    }
    const QString shownHost = address.protocol() == QAbstractSocket::IPv6Protocol
                                  ? u'[' + address.toString() + u']'
                                  : address.toString();
    out << u"Solvik VPN development backend listening on http://%1:%2"_s.arg(shownHost).arg(
               backend.port())
        << Qt::endl;
    if (!options.demoEmail.isEmpty())
        out << u"Demo account: %1 / %2 (%3)"_s.arg(options.demoEmail, options.demoPassword,
                                                   options.demoTier)
            << Qt::endl;
    return app.exec();
}
