#pragma once

#include "common/tunnelstatus.h"
#include "platform/servicecontrol.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

// A throw-away installation for tests of the tunnel program: an application directory holding
// copies of solvikvpn-tunnel and of the engine stub as core/sing-box, a private state directory for
// the POSIX service manager (the test switch SOLVIKVPN_SERVICE_ROOT names it to this process while
// the fixture lives, and to the programs through environment()), and a data directory for the
// tunnel profile file.
class TunnelFixture
{
public:
    // Inline, so a test's own file-scope constants built from these see them initialised.
    static inline const QString tunnelName = QStringLiteral("tnel_0123456789abcdef0123");
    static inline const QString profileLink =
        QStringLiteral("vless://d342d11e-d424-4583-b36e-524ab1f0afa4@203.0.113.7:443"
                       "?security=reality&type=tcp&encryption=none&sni=www.example.com"
                       "&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd"
                       "&fp=chrome&flow=xtls-rprx-vision");
    static inline const QString proxyPassword =
        QStringLiteral("0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35");
    // The test switches that point the health check at pages on loopback and the POSIX service
    // manager at a state directory.
    static constexpr char checkUrlsVariable[] = "SOLVIKVPN_CONNECTIVITY_CHECK_URLS";
    static constexpr char serviceRootVariable[] = "SOLVIKVPN_SERVICE_ROOT";

    // `withEngine` false leaves core/ empty, as an installation whose engine is missing.
    explicit TunnelFixture(bool withEngine = true);
    ~TunnelFixture();

    bool isValid() const { return m_valid; }
    QString applicationDirectory() const;
    QString programPath() const;
    QString serviceRoot() const;
    QString dataDirectory() const;
    QString profilePath() const;
    // The tunnel error file: in the state directory's "tunnel-errors", never beside the profile.
    QString errorPath() const;

    // Writes the tunnel profile file as the client does: machine scope, owner-only.
    bool writeProfile(quint16 proxyPort, const QString &password = proxyPassword) const;
    // Writes `plain` as the profile file's decrypted content, for malformed files.
    bool writePlainProfile(const QByteArray &plain) const;
    // The decrypted tunnel error file; empty when there is none.
    QByteArray readErrorFile() const;

    // The environment for the program: this process's plus the service manager's state
    // directory.
    QProcessEnvironment environment() const;

    // Runs the installed tunnel program with `arguments` and `environment`, keeping this
    // thread's event loop turning (so pages served here can answer it), and returns the Windows
    // error number it reported, or -1 when it did not start, crashed or ran past 60 s.
    int runProgram(const QStringList &arguments, const QProcessEnvironment &environment) const;

    // The lines of the engine stub's run log (SOLVIKVPN_STUB_RUN_LOG) of one kind: "run <pid>"
    // or "accept".
    static QStringList logged(const QString &runLog, const QString &kind);
    // The tunnel status file as the window reads it; nothing when absent or refused.
    static std::optional<TunnelStatus> statusRecord();

    // An ephemeral loopback port that was free a moment ago.
    static quint16 freePort();

    // The status of the service `serviceName` as the client would query it; `error` receives the
    // open's or the query's error number (0 when the service answered).
    static platform::ServiceStatus serviceStatus(const QString &serviceName, std::uint32_t &error);

private:
    QTemporaryDir m_root;
    bool m_valid = false;
    QByteArray m_previousRoot;
};
