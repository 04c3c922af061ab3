#pragma once

#include "api/backendrecords.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>

class ClientServices;
class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;
struct ApiResult;

namespace accountrules {
struct Offer;
struct PlanCard;
} // namespace accountrules

// Page 2: the signed-in account. Its e-mail address, the plan with its state and time left, the
// three plan periods with live prices (bought on the website, opened with a web ticket), the
// devices registered to the account with a two-step removal, and sign-out. It also keeps the
// connection page's plan line current.
//
// Every reply is tagged with the window's session generation at sending time and dropped once
// the session changed or ended; device pages also carry a load generation of their own.
class AccountPage : public QWidget
{
    Q_OBJECT

public:
    static constexpr int planRenderIntervalMs = 60000;

    explicit AccountPage(ClientServices &services, QWidget *parent = nullptr);

    // The page's message label.
    QLabel *messageLabel() const { return m_message; }
    // Why "Sign out" did nothing, beside it in the footer so the button never moves; it goes
    // once no tunnel runs or is being started.
    void refuseSignOut(const QString &text);
    QLabel *footerMessage() const { return m_footerMessage; }
    QLabel *emailLabel() const { return m_email; }
    QFrame *subscriptionCard() const { return m_subscriptionCard; }
    QLabel *planPill() const { return m_planPill; }
    QLabel *planTimeLabel() const { return m_planTime; }
    QLabel *planDetail() const { return m_planDetail; }
    QLabel *offerPrice(int card) const { return m_offers.at(card).price; }
    QLabel *offerNote(int card) const { return m_offers.at(card).note; }
    QPushButton *offerButton(int card) const { return m_offers.at(card).button; }
    QLabel *devicesTitle() const { return m_devicesTitle; }
    QFrame *devicesCard() const { return m_devicesCard; }
    // One frame named "deviceRow" per device, in list order; rows on their way out are not in it.
    QList<QFrame *> deviceRows() const;
    const api::AccessRecord &access() const { return m_access; }
    const QList<api::DeviceRecord> &devices() const { return m_devices; }

    // The repeating re-render of the plan card, which also refreshes the access information.
    // It runs while signed in; tests shorten it.
    void setPlanRenderInterval(int milliseconds);
    bool isPlanRenderActive() const { return m_planTimer.isActive(); }

    // The window's session handler: after sign-in the page asks for the access information and
    // the devices; at sign-out it forgets both, so that no late reply can fill it again.
    void signedIn(int sessionGeneration);
    void signedOut(int sessionGeneration);

    // Asks for the access information, then for the plan offers.
    void refreshSubscription();
    // Fills the subscription card and the connection page's plan line from the access
    // information; nothing changes before the first reply.
    void renderPlanCard();
    // Opens the website's plans: signed in through a web ticket, with `period` preselected.
    void openSubscriptionPlans(const QString &period);
    // Page 1 starts a new load under a generation of its own; later pages continue `generation`.
    void loadDevices(int page, int generation = 0);
    void renderDevices();
    void removeDevice(const QString &id);
    // Shows records that did not come from the backend: the preview and capture runs' samples.
    void showSample(const QJsonObject &access, const QJsonArray &offers, const QJsonArray &devices);

signals:
    // For the message label of the page on top.
    void errorRaised(const QString &text);
    void planSummaryChanged(const QString &text);
    // After every access reply; `changed` when the tier or the plan differs from the last one.
    void accessReceived(const QString &tier, bool changed);
    void logoutRequested();
    // This device was removed and its session ended: why, for the sign-in page.
    void signedOutWithNotice(const QString &text);

private:
    struct OfferCard
    {
        QLabel *price = nullptr;
        QLabel *note = nullptr;
        QPushButton *button = nullptr;
    };

    QWidget *makeAccountPanel();
    QFrame *makeSubscriptionCard();
    QWidget *makeOffers();
    QFrame *makeDevicesCard();
    QFrame *makeFooter();
    QFrame *makeDeviceRow(const api::DeviceRecord &device);
    // True while a reply sent under `sessionGeneration` still belongs to the session.
    bool isCurrent(int sessionGeneration) const;
    void showPlanCard(const accountrules::PlanCard &card);
    void showOffer(int card, const accountrules::Offer &offer);
    void loadOffers();
    void offersReceived(const ApiResult &result);
    void showOffers(const QList<api::PlanRecord> &offers, bool loaded);
    void accessReceivedReply(const ApiResult &result);
    void removalFinished(const QString &id, const ApiResult &result);
    void clearDeviceRows();

    ClientServices &m_services;
    api::AccessRecord m_access;
    // Nothing is shown from `m_access` until the first reply has filled it.
    bool m_accessKnown = false;
    QList<api::DeviceRecord> m_devices;
    int m_devicesGeneration = 0;
    int m_sessionGeneration = 0;
    QTimer m_planTimer;

    QLabel *m_email = nullptr;
    QFrame *m_subscriptionCard = nullptr;
    QLabel *m_planPill = nullptr;
    QLabel *m_planTime = nullptr;
    QLabel *m_planDetail = nullptr;
    std::array<OfferCard, 3> m_offers;
    QLabel *m_message = nullptr;
    QLabel *m_footerMessage = nullptr;
    QLabel *m_devicesTitle = nullptr;
    QFrame *m_devicesCard = nullptr;
    QVBoxLayout *m_deviceRows = nullptr;
};
