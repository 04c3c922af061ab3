#include "locations/quickconnect.h"

#include "locations/servercatalogue.h"

using namespace Qt::Literals::StringLiterals;

QuickConnectChoice chooseQuickConnect(const ServerCatalogue &catalogue, bool hasPendingRequest,
                                      const QString &pendingServerId,
                                      const QString &profileServerId, quint32 randomIndex)
{
    const QList<api::ServerRecord> &servers = catalogue.servers();
    if (servers.isEmpty()) {
        return {};
    }
    if (hasPendingRequest) {
        return {QuickConnectChoice::Action::RepeatPending, pendingServerId};
    }
    const QString id = servers.at(qsizetype(randomIndex % quint32(servers.size()))).id;
    const bool otherServer = !profileServerId.isEmpty() && profileServerId != id;
    return {otherServer ? QuickConnectChoice::Action::Switch : QuickConnectChoice::Action::Connect,
            id};
}

FreeTierOutcome freeTierOutcome(const ServerCatalogue &catalogue, const QString &accessTier,
                                bool running, bool connectingOrBusy, const QString &currentServerId)
{
    if (!running || connectingOrBusy || accessTier != u"free"_s ||
        catalogue.contains(currentServerId)) {
        return {};
    }
    return {true, catalogue.firstFreeServer()};
}
