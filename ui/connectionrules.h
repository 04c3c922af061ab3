#pragma once

#include <QString>

struct ServerLocation;

// The connection card's rules, apart from its widgets.
namespace connectionrules {

// What the card needs to know of the session and the controller.
struct CardState
{
    bool authenticated = false;
    bool connecting = false;
    bool busy = false;
    bool running = false;
    bool disconnecting = false;
    QString currentServerId;
    bool blocked = false; // the tunnel dropped and traffic is held back
};

// "Disconnecting…", "Connecting…", "Switch server", "Disconnect", "Reconnect" or "Connect".
QString connectButtonText(const CardState &state, const QString &selectedServerId);
// Enabled while signed in and no connect or stop is under way: a click on "Disconnecting…" would
// send a second stop.
bool connectButtonEnabled(const CardState &state);

// Whether a Disconnect button stands beside the main one: while the main one offers a switch to
// another location or a reconnect after a block, the way to stop must stay in reach.
bool separateDisconnectShown(const CardState &state, const QString &selectedServerId);

enum class ConnectAction
{
    Disconnect,   // connected, and nothing else is selected
    QuickConnect, // nothing selected: let quick connect choose
    Connect,      // connect to the selection (a switch while connected elsewhere)
};
ConnectAction connectAction(const CardState &state, const QString &selectedServerId);

// "Connected · mm:ss", "Connected · Hh MMm" or "Connected · Dd Hh" for `seconds` since the
// connection came up (a negative count reads as 0).
QString connectedTimeText(qint64 seconds);

// The card's title, subtitle and hint for a selected server at `address`.
struct LocationTexts
{
    QString title;
    QString subtitle;
    QString hint;
};
LocationTexts locationTexts(const ServerLocation &location, const QString &address);

} // namespace connectionrules
