#pragma once

#include <QString>

class ServerCatalogue;

// What "Quick connect" does, decided from the catalogue and the controller's profile state.
struct QuickConnectChoice
{
    enum class Action
    {
        NoServers,     // nothing to connect to
        RepeatPending, // repeat the unconfirmed profile request unchanged, for `serverId`
        Connect,       // connect to `serverId`
        Switch,        // the profile belongs to another server: switch to `serverId`
    };
    Action action = Action::NoServers;
    QString serverId;
};

// `pendingServerId` is set (maybe empty) when a profile request waits for the backend's
// confirmation; `profileServerId` is the server of the profile held, empty without one;
// `randomIndex` picks the server when neither applies (taken modulo the catalogue's size).
QuickConnectChoice chooseQuickConnect(const ServerCatalogue &catalogue, bool hasPendingRequest,
                                      const QString &pendingServerId,
                                      const QString &profileServerId, quint32 randomIndex);

// After a reload, a free account connected to a server the catalogue no longer lists switches
// to the first "free" server, or is disconnected when none is left.
struct FreeTierOutcome
{
    bool affected = false; // the rule applies at all
    QString fallbackServerId;
};
FreeTierOutcome freeTierOutcome(const ServerCatalogue &catalogue, const QString &accessTier,
                                bool running, bool connectingOrBusy,
                                const QString &currentServerId);
