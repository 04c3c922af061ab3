#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class ClientServices;
class ConnectionPage;
class LatencyProbe;
class ServerCatalogue;
class TunnelAdapter;
struct ConnectionState;

// What the running client does for "--connect", "--disconnect" and "--status" of a later start.
// Each command answers once, through its reply, with an exit code and one line to print.
class ClientCommands : public QObject
{
    Q_OBJECT

public:
    using Reply = std::function<void(int code, const QString &line)>;

    // The exit codes of the commands.
    static constexpr int exitDone = 0; // "--status": connected
    static constexpr int exitFailed = 1;
    static constexpr int exitBadInput = 2;
    static constexpr int exitNotConnected = 3;
    static constexpr int exitSignedOut = 4;

    struct Answer
    {
        int code = exitDone;
        QString line;
    };

    // How long a command waits for the session and the server list, and for its tunnel.
    struct Timings
    {
        int readyMs = 20000;
        int tunnelMs = 120000;
    };

    // The connection page is asked for only when a command needs it: the window may build it late.
    using PageSource = std::function<ConnectionPage &()>;

    ClientCommands(ClientServices &services, PageSource page, QObject *parent = nullptr);
    void setTimings(Timings timings) { m_timings = timings; }

    // With the Connect button's rules: the server `target` names, else the best server of the
    // country it names, else the remembered location, else quick connect.
    void connectTo(const QString &target, const Reply &reply);
    void disconnect(const Reply &reply);
    void status(const Reply &reply);
    // "--status" with no client running: signed out without a stored session, else the state
    // of the account's tunnel as `adapter` finds it.
    static Answer standaloneStatus(TunnelAdapter &adapter);

    // The server `target` (an id, or a country code in any case) stands for: the id itself, or
    // the country's server with the lowest latency measured, else its first in the list; empty
    // when the catalogue holds neither.
    static QString serverFor(const QString &target, const ServerCatalogue &catalogue,
                             const LatencyProbe &latencies);
    // "Connected to Germany · Frankfurt since 14:02", "Reconnecting…", "Not connected", ...
    // `location` is the server's "country · city", empty when unknown; `since` is shown in
    // local time.
    static QString statusLine(const ConnectionState &state, const QString &location,
                              const QDateTime &since);

private:
    // Calls `action` once the session is signed in and the server list loaded, or answers for it.
    void whenReady(const Reply &reply, const std::function<void()> &action);
    // Answers when `done` holds after a change of the controller, or with its failure.
    void awaitTunnel(const Reply &reply, const std::function<bool()> &done);
    void startConnect(const QString &target, const Reply &reply);
    QString currentLine() const;

    ClientServices &m_services;
    PageSource m_page;
    Timings m_timings;
};
