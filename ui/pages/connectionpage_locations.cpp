#include "ui/pages/connectionpage.h"

#include "api/failuremessages.h"
#include "api/replyrules.h"
#include "locations/quickconnect.h"
#include "locations/servercatalogue.h"
#include "locations/serverlocation.h"
#include "settings/settingskeys.h"
#include "ui/clientservices.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/refreshbutton.h"
#include "ui/widgets/servertree.h"
#include "ui/widgets/worldmap.h"

#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSet>
#include <QTreeWidgetItem>

#include <map>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

QString groupToolTip(const api::ServerRecord &record, const ServerLocation &location)
{
    if (record.geoLocation) {
        return u"Country detected from the server IP; city is approximate"_s;
    }
    return location.known ? u"Country inferred from the server name; location is approximate"_s
                          : u"The API does not provide a location for these servers"_s;
}

QString latencyText(int latency)
{
    if (latency >= 0) {
        return u"%1 ms"_s.arg(latency);
    }
    return latency == -1 ? u"no answer"_s : u"measuring"_s;
}

} // namespace

void ConnectionPage::loadServers()
{
    if (m_services.session().authenticated()) {
        m_services.catalogue().load();
    }
}

void ConnectionPage::clearLocations()
{
    m_refreshButton->setSpinning(false);
    m_worldMap->setServers({});
    m_tree->clear();
    // The next account starts from its own choice, not this one's.
    selectServer(QString());
    settings::removeLastServerId();
    m_catalogueError.clear();
    m_locationCount->setText(u"0"_s);
}

void ConnectionPage::catalogueFailed(int status, bool cancelled)
{
    m_refreshButton->setSpinning(false);
    m_locationCount->setText(u"Error"_s);
    m_catalogueError = api::failureMessage(status, cancelled);
    emit errorRaised(m_catalogueError);
}

void ConnectionPage::catalogueLoaded()
{
    m_refreshButton->setSpinning(false);
    if (!m_catalogueError.isEmpty()) {
        emit errorWithdrawn(std::exchange(m_catalogueError, QString()));
    }
    ServerCatalogue &catalogue = m_services.catalogue();
    VpnController &controller = m_services.controller();
    m_worldMap->setServers(catalogue.servers());
    rebuildLocations();

    if (!m_selectedServerId.isEmpty() && !catalogue.contains(m_selectedServerId)) {
        selectServer(QString());
    }
    const FreeTierOutcome freeTier =
        freeTierOutcome(catalogue, m_accessTier, controller.running(),
                        controller.connecting() || controller.busy(), controller.currentServerId());
    if (!freeTier.affected) {
        return;
    }
    if (!freeTier.fallbackServerId.isEmpty()) {
        selectServer(freeTier.fallbackServerId);
        controller.switchServer(freeTier.fallbackServerId);
        return;
    }
    controller.disconnectVpn();
    showConnectionError(u"Paid access ended. No Free servers are currently available."_s, true);
}

void ConnectionPage::serversLocated(const QSet<QString> &ids)
{
    // Addresses and geolocations arrive one by one; one update per turn of the event loop shows
    // them all.
    const bool scheduled = !m_locatedIds.isEmpty();
    m_locatedIds.unite(ids);
    if (scheduled || m_locatedIds.isEmpty()) {
        return;
    }
    QTimer::singleShot(0, this, [this] {
        const QSet<QString> located = std::exchange(m_locatedIds, {});
        m_worldMap->setServers(m_services.catalogue().servers());
        rebuildLocations();
        if (located.contains(m_selectedServerId)) {
            m_worldMap->focusServer(m_selectedServerId);
        }
    });
}

void ConnectionPage::rebuildLocations()
{
    // What the user opened and where the list was scrolled survive the rebuild.
    QSet<QString> opened;
    for (int index = 0; index < m_tree->topLevelItemCount(); ++index) {
        QTreeWidgetItem *group = m_tree->topLevelItem(index);
        if (m_tree->targetExpanded(group)) {
            opened.insert(group->text(0));
        }
    }
    const int scroll = m_tree->verticalScrollBar()->value();

    m_tree->clear();
    // Built apart from the tree and inserted at once: the view then lays out one time, not once
    // per row.
    std::map<QString, QTreeWidgetItem *> groups;
    QTreeWidgetItem *selected = nullptr;
    const QList<api::ServerRecord> &servers = m_services.catalogue().servers();
    for (const api::ServerRecord &record : servers) {
        const ServerLocation location = serverLocation(record);
        QTreeWidgetItem *&group = groups[location.country];
        if (!group) {
            group = new QTreeWidgetItem({location.country});
            group->setData(0, ServerTree::KindRole, ServerTree::GroupRow);
            group->setData(0, ServerTree::CountryCodeRole, location.countryCode);
            group->setToolTip(0, groupToolTip(record, location));
        }
        const QString &id = record.id;
        // Shown in tool tips only; the record keeps the whole endpoint to connect to.
        const QString endpoint = api::boundedText(record.endpoint);
        auto *row = new QTreeWidgetItem(group, {serverAddress(record)});
        row->setData(0, ServerTree::ServerIdRole, id);
        row->setData(0, ServerTree::KindRole, ServerTree::ServerRow);
        row->setData(0, ServerTree::EndpointRole, endpoint);
        row->setToolTip(0, widgetfactory::plainToolTip(endpoint));
        if (id == m_selectedServerId) {
            selected = row;
        }
    }
    QList<QTreeWidgetItem *> topLevel;
    for (const auto &[country, group] : groups) {
        group->setData(0, ServerTree::ServerCountRole, QString::number(group->childCount()));
        group->setData(0, Qt::AccessibleTextRole,
                       u"%1, %2 servers"_s.arg(country).arg(group->childCount()));
        topLevel.append(group);
    }
    m_tree->insertTopLevelItems(0, topLevel);
    // Code unit by code unit, as the names are written.
    m_tree->sortItems(0, Qt::AscendingOrder);
    for (const auto &[country, group] : groups) {
        if (opened.contains(country) || (selected && selected->parent() == group)) {
            m_tree->setGroupExpanded(group, true, false);
        }
    }
    if (selected) {
        m_tree->setCurrentItem(selected);
    }
    m_locationCount->setText(QString::number(groups.size()));
    filterLocations();
    selectServer(m_selectedServerId);
    if (servers.isEmpty()) {
        auto *placeholder = new QTreeWidgetItem(m_tree, {u"No servers available"_s});
        placeholder->setFlags(Qt::NoItemFlags);
    }
    m_tree->verticalScrollBar()->setValue(scroll);
}

void ConnectionPage::filterLocations()
{
    const QString query = m_serverSearch->text().trimmed();
    for (int index = 0; index < m_tree->topLevelItemCount(); ++index) {
        QTreeWidgetItem *group = m_tree->topLevelItem(index);
        if (group->data(0, ServerTree::KindRole).toInt() != ServerTree::GroupRow) {
            continue;
        }
        const bool countryMatch = group->text(0).contains(query, Qt::CaseInsensitive);
        bool anyShown = false;
        for (int child = 0; child < group->childCount(); ++child) {
            QTreeWidgetItem *row = group->child(child);
            const api::ServerRecord *record =
                m_services.catalogue().record(row->data(0, ServerTree::ServerIdRole).toString());
            const bool shown = countryMatch || row->text(0).contains(query, Qt::CaseInsensitive) ||
                               (record && matchesSearch(*record, query));
            row->setHidden(!shown);
            anyShown = anyShown || shown;
        }
        group->setHidden(!anyShown);
        if (!query.isEmpty()) {
            m_tree->setGroupExpanded(group, true, false);
        }
    }
}

void ConnectionPage::refreshLatencyDisplay()
{
    const LatencyProbe &probe = m_services.latencyProbe();
    const ServerCatalogue &catalogue = m_services.catalogue();
    for (int index = 0; index < m_tree->topLevelItemCount(); ++index) {
        QTreeWidgetItem *group = m_tree->topLevelItem(index);
        for (int child = 0; child < group->childCount(); ++child) {
            QTreeWidgetItem *row = group->child(child);
            const QString id = row->data(0, ServerTree::ServerIdRole).toString();
            const int latency = probe.latency(id);
            row->setData(0, ServerTree::LatencyRole, latency);
            const api::ServerRecord *record = catalogue.record(id);
            const QString tier = record ? record->tier : QString();
            row->setToolTip(0,
                            widgetfactory::plainToolTip(latencyToolTip(
                                row->data(0, ServerTree::EndpointRole).toString(), tier, latency)));
            const bool connected = row->data(0, ServerTree::ConnectedRole).toBool();
            row->setData(0, Qt::AccessibleTextRole,
                         u"%1, %2%3"_s.arg(row->text(0), latencyText(latency),
                                           connected ? u", connected"_s : QString()));
        }
    }
}

QTreeWidgetItem *ConnectionPage::serverRow(const QString &id) const
{
    for (int index = 0; index < m_tree->topLevelItemCount(); ++index) {
        QTreeWidgetItem *group = m_tree->topLevelItem(index);
        for (int child = 0; child < group->childCount(); ++child) {
            if (group->child(child)->data(0, ServerTree::ServerIdRole).toString() == id) {
                return group->child(child);
            }
        }
    }
    return nullptr;
}

void ConnectionPage::quickConnect()
{
    VpnController &controller = m_services.controller();
    if (!m_services.session().authenticated() || controller.connecting() || controller.busy()) {
        return;
    }
    const PendingProfile &pending = controller.pendingProfile();
    const QuickConnectChoice choice = chooseQuickConnect(
        m_services.catalogue(), !pending.isEmpty(), pending.serverId,
        controller.profile().isEmpty() ? QString() : controller.currentServerId(),
        QRandomGenerator::global()->generate());
    switch (choice.action) {
    case QuickConnectChoice::Action::NoServers:
        showConnectionError(u"No servers available. Refresh the server list."_s);
        return;
    case QuickConnectChoice::Action::RepeatPending:
        selectServer(choice.serverId);
        showConnectionError(QString());
        controller.connectVpn(QString());
        return;
    case QuickConnectChoice::Action::Switch:
        selectServer(choice.serverId);
        showConnectionError(QString());
        controller.switchServer(choice.serverId);
        return;
    case QuickConnectChoice::Action::Connect:
        selectServer(choice.serverId);
        showConnectionError(QString());
        controller.connectVpn(choice.serverId);
        return;
    }
}
