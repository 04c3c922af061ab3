#pragma once

#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

class ClientServices;
class ContentCard;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidgetItem;
class RefreshButton;
class ServerTree;
class TrafficWidget;
class WorldMap;

namespace connectionrules {
struct CardState;
}

// Page 1, where the user connects: the locations in a searchable tree on the left with quick
// connect and the plan panel, the world map on the right with the traffic chart and the
// connection card floating over it.
class ConnectionPage : public QWidget
{
    Q_OBJECT

public:
    explicit ConnectionPage(ClientServices &services, QWidget *parent = nullptr);

    // The connection card's "error" label: the page's message label.
    QLabel *messageLabel() const { return m_connectionError; }
    QLabel *statusLabel() const { return m_connectionStatus; }
    QLabel *locationCount() const { return m_locationCount; }
    QLabel *locationTitle() const { return m_locationTitle; }
    QLabel *connectedTime() const { return m_connectedTime; }
    QLabel *planTime() const { return m_planTime; }
    QLineEdit *searchField() const { return m_serverSearch; }
    QPushButton *connectButton() const { return m_connectButton; }
    QPushButton *quickConnectButton() const { return m_quickConnect; }
    // Beside the main button while that one offers a switch.
    QPushButton *disconnectButton() const { return m_disconnectButton; }
    RefreshButton *refreshButton() const { return m_refreshButton; }
    ServerTree *tree() const { return m_tree; }
    WorldMap *worldMap() const { return m_worldMap; }
    TrafficWidget *trafficChart() const { return m_trafficChart; }
    QString selectedServerId() const { return m_selectedServerId; }
    QWidget *sidebar() const { return m_sidebar; }
    ContentCard *connectionCard() const { return m_card; }

    void setAppearance(bool light, const QColor &accent);
    // Chooses a location; an id the catalogue does not hold selects automatically.
    void selectServer(const QString &id);
    // The card, the tree's connected marker and the map follow the controller.
    void updateConnectionUi();
    void updateConnectedTime();
    // Shows the groups and servers that match the search text.
    void filterLocations();
    // Rebuilds the tree from the catalogue; what the user opened and the scroll position stay.
    void rebuildLocations();
    // Loads the catalogue from its first page, unless a load runs.
    void loadServers();
    // After sign-out: no catalogue, no tree, no measurements, no looked-up addresses.
    void clearLocations();
    // The account's access tier ("free" or another), which decides what a reload that drops the
    // connected server does.
    void setAccessTier(const QString &tier) { m_accessTier = tier; }
    // Connects to a random server, or resumes a profile request the backend has not confirmed.
    void quickConnect();
    // What the Connect button does: disconnects, connects to the selection, or quick connects.
    void connectClicked();
    // The user's own choice of a location, which is remembered for the next session.
    void chooseServer(const QString &id);
    // The plan panel's one line: the time left, "Free plan" or "Plan inactive".
    void setPlanSummary(const QString &text);
    // A connection to `serverId` that is up for `elapsed`, drawn without a tunnel: the marketing
    // images' connected state.
    void showSampleConnection(const QString &serverId, const QString &elapsed);

signals:
    // For the message label of the page on top.
    void errorRaised(const QString &text);
    // The message `text` raised earlier no longer holds.
    void errorWithdrawn(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeSidebar();
    QWidget *makeMainArea();
    ContentCard *makeCard();
    connectionrules::CardState cardState() const;
    void showConnectionError(const QString &text, bool survivesStop = false);
    // The catalogue's life.
    void catalogueLoaded();
    void catalogueFailed(int status, bool cancelled);
    // Addresses and geolocations of `ids` arrived: the map and the tree show them.
    void serversLocated(const QSet<QString> &ids);
    void refreshLatencyDisplay();
    QTreeWidgetItem *serverRow(const QString &id) const;
    // Below the connect button, the time the connection is up.
    void showConnectedTime(const QString &text);
    // Follows the connect button when the card's layout moves it.
    void placeConnectedTime();

    ClientServices &m_services;
    // The failed catalogue load's message, withdrawn once a load succeeds.
    QString m_catalogueError;
    QString m_selectedServerId;
    QString m_accessTier;
    // Servers located since the map and the tree last showed the catalogue.
    QSet<QString> m_locatedIds;
    // A message that explains a stop the page caused must outlive that stop's state changes.
    bool m_errorSurvivesStop = false;
    QTimer m_connectedTimer;

    QWidget *m_sidebar = nullptr;
    QLabel *m_locationCount = nullptr;
    QPushButton *m_quickConnect = nullptr;
    QPushButton *m_disconnectButton = nullptr;
    QLineEdit *m_serverSearch = nullptr;
    RefreshButton *m_refreshButton = nullptr;
    ServerTree *m_tree = nullptr;
    QLabel *m_planTime = nullptr;
    WorldMap *m_worldMap = nullptr;
    TrafficWidget *m_trafficChart = nullptr;
    ContentCard *m_card = nullptr;
    QLabel *m_connectionError = nullptr;
    QLabel *m_connectionStatus = nullptr;
    QLabel *m_locationTitle = nullptr;
    QLabel *m_locationSubtitle = nullptr;
    QLabel *m_locationHint = nullptr;
    QPushButton *m_connectButton = nullptr;
    QLabel *m_connectedTime = nullptr;
};
