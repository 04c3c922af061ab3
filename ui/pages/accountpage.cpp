#include "ui/pages/accountpage.h"

#include "api/apiresult.h"
#include "api/backendcatalogue.h"
#include "api/failuremessages.h"
#include "api/replyrules.h"
#include "common/secretwipe.h"
#include "ui/accountrules.h"
#include "ui/clientservices.h"
#include "ui/productlinks.h"
#include "ui/theme/icontint.h"
#include "ui/theme/themepalette.h"
#include "ui/widgetfactory.h"
#include "vpn/vpncontroller.h"

#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addButton;
using widgetfactory::addLabel;
using widgetfactory::setMessage;

namespace {

constexpr int contentWidth = 760;
constexpr int linkIconSize = 16;
constexpr int lastDevicesPage = 100;

QFrame *newFrame(const QString &name)
{
    auto *frame = new QFrame;
    frame->setObjectName(name);
    return frame;
}

// A link-styled button; with an icon that the theme tints again.
QPushButton *addLink(const QString &text, QLayout *layout, QObject *context,
                     std::function<void()> onClick, const QString &icon = QString())
{
    QPushButton *button = addButton(text, layout, context, std::move(onClick), u"link"_s);
    if (!icon.isEmpty()) {
        icontint::setIcon(button, icon, linkIconSize, ThemePalette::fromSettings());
        button->setIconSize(QSize(linkIconSize, linkIconSize));
    }
    return button;
}

accountrules::Offer pendingOffer()
{
    return {u"\u2014"_s, u"Loading price\u2026"_s, u"Subscribe"_s, false};
}

// The two steps of a removal live in the row's two buttons.
struct RemovalButtons
{
    QPushButton *remove = nullptr;
    QPushButton *cancel = nullptr;
};

} // namespace

AccountPage::AccountPage(ClientServices &services, QWidget *parent)
    : QWidget(parent)
    , m_services(services)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(48, 28, 48, 28);
    layout->addWidget(makeAccountPanel());
    showPlanCard(accountrules::pendingPlanCard());
    for (int card = 0; card < int(m_offers.size()); ++card) {
        showOffer(card, pendingOffer());
    }
    m_planTimer.setInterval(planRenderIntervalMs);
    // The time left and the active state follow the clock without a request; the access
    // information is asked for again as well, so a purchase on the website shows up.
    connect(&m_planTimer, &QTimer::timeout, this, [this] {
        renderPlanCard();
        refreshSubscription();
    });
    const VpnController &controller = m_services.controller();
    connect(&controller, &VpnController::changed, this, [this, &controller] {
        if (!controller.running() && !controller.connecting() && !controller.busy()) {
            setMessage(m_footerMessage, QString());
        }
    });
}

void AccountPage::refuseSignOut(const QString &text)
{
    setMessage(m_footerMessage, text);
}

QWidget *AccountPage::makeAccountPanel()
{
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setStyleSheet(u"QScrollArea { background: transparent; }"_s);
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setAlignment(Qt::AlignHCenter);

    auto *content = new QWidget;
    content->setMaximumWidth(contentWidth);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    QFrame *header = newFrame(u"card"_s);
    auto *headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(20, 16, 20, 16);
    headerLayout->setSpacing(5);
    addLabel(u"My account"_s, headerLayout, u"title"_s);
    m_email = addLabel(QString(), headerLayout, u"muted"_s);
    column->addWidget(header);

    column->addWidget(makeSubscriptionCard());
    addLabel(u"Choose your plan"_s, column, u"section"_s);
    column->addWidget(makeOffers());
    m_message = addLabel(QString(), column, u"error"_s);
    m_message->hide();
    column->addWidget(makeDevicesCard());
    column->addStretch();
    column->addWidget(makeFooter());

    scroll->setWidget(content);
    // The scroll area fills the widget it is given; the window's background shows through.
    content->setAutoFillBackground(false);
    return scroll;
}

QFrame *AccountPage::makeSubscriptionCard()
{
    m_subscriptionCard = newFrame(u"subscriptionCard"_s);
    auto *layout = new QVBoxLayout(m_subscriptionCard);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(7);
    auto *heading = new QHBoxLayout;
    addLabel(u"YOUR PLAN"_s, heading, u"micro"_s);
    heading->addStretch();
    m_planPill = addLabel(QString(), heading, u"pill"_s);
    m_planPill->setWordWrap(false);
    layout->addLayout(heading);
    m_planTime = addLabel(QString(), layout, u"time"_s);
    m_planDetail = addLabel(QString(), layout, u"muted"_s);
    QPushButton *plans = addLink(
        u"View plans and subscribe"_s, layout, this, [this] { openSubscriptionPlans(QString()); },
        u"external-link"_s);
    layout->setAlignment(plans, Qt::AlignLeft);
    return m_subscriptionCard;
}

QWidget *AccountPage::makeOffers()
{
    auto *offers = new QWidget;
    auto *row = new QHBoxLayout(offers);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    const auto &periods = accountrules::planPeriods();
    for (size_t index = 0; index < periods.size(); ++index) {
        const accountrules::PlanPeriod &period = periods.at(index);
        QFrame *card = newFrame(u"card"_s);
        auto *layout = new QVBoxLayout(card);
        layout->setContentsMargins(18, 18, 18, 18);
        layout->setSpacing(12);
        addLabel(period.title, layout, u"section"_s);
        OfferCard &offer = m_offers.at(index);
        offer.price = addLabel(QString(), layout, u"time"_s);
        offer.note = addLabel(QString(), layout, u"muted"_s);
        layout->addStretch();
        offer.button = addButton(
            QString(), layout, this, [this, key = period.key] { openSubscriptionPlans(key); },
            u"primary"_s);
        offer.button->setMinimumHeight(40);
        row->addWidget(card, 1);
    }
    return offers;
}

QFrame *AccountPage::makeDevicesCard()
{
    QFrame *card = newFrame(u"card"_s);
    m_devicesCard = card;
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(10);
    auto *heading = new QHBoxLayout;
    m_devicesTitle = addLabel(u"Devices"_s, heading, u"section"_s);
    m_devicesTitle->setWordWrap(false);
    heading->addStretch();
    addLink(u"Refresh"_s, heading, this, [this] { loadDevices(1); });
    layout->addLayout(heading);
    addLabel(u"Up to 3 devices. Removing one signs it out and revokes its VPN access."_s, layout,
             u"muted"_s);
    m_deviceRows = new QVBoxLayout;
    m_deviceRows->setSpacing(8);
    layout->addLayout(m_deviceRows);
    return card;
}

QFrame *AccountPage::makeFooter()
{
    QFrame *footer = newFrame(u"accountFooter"_s);
    auto *layout = new QHBoxLayout(footer);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(8);
    addLabel(u"Account actions"_s, layout, u"muted"_s)->setWordWrap(false);
    layout->addStretch();
    m_footerMessage = addLabel(QString(), layout, u"error"_s);
    m_footerMessage->setWordWrap(false);
    m_footerMessage->hide();
    addLink(
        u"Refresh plan"_s, layout, this, [this] { refreshSubscription(); }, u"refresh-cw"_s);
    addLink(
        u"Sign out"_s, layout, this, [this] { emit logoutRequested(); }, u"log-out"_s);
    return footer;
}

void AccountPage::setPlanRenderInterval(int milliseconds)
{
    m_planTimer.setInterval(milliseconds);
}

bool AccountPage::isCurrent(int sessionGeneration) const
{
    return sessionGeneration == m_sessionGeneration && m_services.session().authenticated();
}

void AccountPage::signedIn(int sessionGeneration)
{
    m_sessionGeneration = sessionGeneration;
    m_planTimer.start();
    refreshSubscription();
    loadDevices(1);
}

void AccountPage::signedOut(int sessionGeneration)
{
    m_sessionGeneration = sessionGeneration;
    m_planTimer.stop();
    ++m_devicesGeneration;
    m_devices.clear();
    clearDeviceRows();
    m_devicesTitle->setText(u"Devices"_s);
    m_access = {};
    m_accessKnown = false;
    showPlanCard(accountrules::pendingPlanCard());
    for (int card = 0; card < int(m_offers.size()); ++card) {
        showOffer(card, pendingOffer());
    }
    m_email->clear();
}

void AccountPage::refreshSubscription()
{
    if (!m_services.session().authenticated()) {
        return;
    }
    const int session = m_sessionGeneration;
    m_services.api().request("GET", backend::accessMe, QJsonObject(), true,
                             [this, session](const ApiResult &result) {
                                 if (isCurrent(session)) {
                                     accessReceivedReply(result);
                                 }
                             });
}

void AccountPage::accessReceivedReply(const ApiResult &result)
{
    if (!result.successful()) {
        m_planPill->setText(u"Could not refresh your plan"_s);
        emit errorRaised(api::failureMessage(result.status, result.cancelled));
        return;
    }
    const api::AccessRecord reply = api::accessRecord(result.body);
    const bool changed = reply.tierAndPlan != m_access.tierAndPlan;
    m_access = reply;
    m_accessKnown = true;
    renderPlanCard();
    // The prices follow every access reply: which offer is the current plan may have changed.
    for (const OfferCard &card : m_offers) {
        card.button->setEnabled(false);
        card.note->setText(pendingOffer().note);
    }
    loadOffers();
    emit accessReceived(reply.tier, changed);
}

void AccountPage::renderPlanCard()
{
    // Before the first reply there is nothing to show but the question: an empty record would
    // read as an inactive plan.
    if (m_accessKnown) {
        showPlanCard(accountrules::planCard(m_access, QDateTime::currentDateTimeUtc()));
    }
}

void AccountPage::showPlanCard(const accountrules::PlanCard &card)
{
    const ThemePalette palette = ThemePalette::fromSettings();
    m_planPill->setText(card.pill);
    const QString style = accountrules::pillStyle(card.tone, palette.light, palette.accent);
    if (style != m_planPill->styleSheet()) {
        m_planPill->setStyleSheet(style);
    }
    m_planTime->setText(card.time);
    m_planDetail->setText(card.detail);
    emit planSummaryChanged(card.summary);
}

void AccountPage::loadOffers()
{
    const int session = m_sessionGeneration;
    m_services.api().request("GET", backend::plans, QJsonObject(), true,
                             [this, session](const ApiResult &result) {
                                 if (isCurrent(session)) {
                                     offersReceived(result);
                                 }
                             });
}

void AccountPage::offersReceived(const ApiResult &result)
{
    const bool loaded = result.successful();
    showOffers(loaded ? api::planRecords(api::pageItems(result.body, backend::plansLimit))
                      : QList<api::PlanRecord>(),
               loaded);
}

void AccountPage::showOffers(const QList<api::PlanRecord> &offers, bool loaded)
{
    const auto &periods = accountrules::planPeriods();
    for (size_t index = 0; index < periods.size(); ++index) {
        showOffer(int(index), accountrules::offer(periods.at(index), offers, loaded, m_access));
    }
}

void AccountPage::showSample(const QJsonObject &access, const QJsonArray &offers,
                             const QJsonArray &devices)
{
    m_access = api::accessRecord(access);
    m_accessKnown = true;
    renderPlanCard();
    showOffers(api::planRecords(offers), true);
    m_devices.clear();
    for (const QJsonValue &device : devices) {
        m_devices.append(api::deviceRecord(device.toObject()));
    }
    renderDevices();
}

void AccountPage::showOffer(int card, const accountrules::Offer &offer)
{
    const OfferCard &widgets = m_offers.at(card);
    widgets.price->setText(offer.price);
    widgets.note->setText(offer.note);
    widgets.button->setText(offer.button);
    widgets.button->setEnabled(offer.available);
}

void AccountPage::openSubscriptionPlans(const QString &period)
{
    if (!m_services.session().authenticated()) {
        m_services.openUrl(productlinks::pricingPage(m_services.api().production()));
        return;
    }
    const int session = m_sessionGeneration;
    m_services.api().request(
        "POST", backend::webTicket, QJsonObject(), true,
        [this, session, period](const ApiResult &result) {
            if (!isCurrent(session)) {
                return;
            }
            QString ticket = result.successful() ? api::webTicket(result.body) : QString();
            const QUrl url = accountrules::subscriptionUrl(
                productlinks::webSignInPage(m_services.api().production()), ticket, period);
            secretwipe::wipe(ticket);
            const bool opened = !url.isEmpty() && m_services.openUrl(url);
            setMessage(m_message, opened
                                      ? QString()
                                      : u"Could not open subscription plans. Please try again."_s);
        });
}

void AccountPage::loadDevices(int page, int generation)
{
    if (!m_services.session().authenticated()) {
        return;
    }
    if (page == 1) {
        generation = ++m_devicesGeneration;
        m_devices.clear();
        m_devicesTitle->setText(u"Devices \u00b7 loading\u2026"_s);
    }
    const int session = m_sessionGeneration;
    m_services.api().request("GET", backend::devicesPage(page), QJsonObject(), true,
                             [this, session, page, generation](const ApiResult &result) {
                                 if (!isCurrent(session) || generation != m_devicesGeneration) {
                                     return;
                                 }
                                 if (!result.successful()) {
                                     m_devicesTitle->setText(u"Devices \u00b7 unavailable"_s);
                                     setMessage(m_message,
                                                api::failureLine(result.status, result.cancelled));
                                     return;
                                 }
                                 const QJsonArray items = api::pageItems(result.body);
                                 for (const QJsonValue &item : items) {
                                     m_devices.append(api::deviceRecord(item.toObject()));
                                 }
                                 if (items.size() == backend::pageSize && page < lastDevicesPage) {
                                     loadDevices(page + 1, generation);
                                     return;
                                 }
                                 renderDevices();
                             });
}

QList<QFrame *> AccountPage::deviceRows() const
{
    QList<QFrame *> rows;
    for (int index = 0; index < m_deviceRows->count(); ++index) {
        if (auto *row = qobject_cast<QFrame *>(m_deviceRows->itemAt(index)->widget())) {
            rows.append(row);
        }
    }
    return rows;
}

void AccountPage::clearDeviceRows()
{
    while (QLayoutItem *item = m_deviceRows->takeAt(0)) {
        if (QWidget *row = item->widget()) {
            row->hide();
            // Rows are rebuilt from their own buttons' clicks: the row goes once the click is over.
            row->deleteLater();
        }
        delete item;
    }
}

void AccountPage::renderDevices()
{
    clearDeviceRows();
    m_devicesTitle->setText(u"Devices \u00b7 %1 / 3"_s.arg(m_devices.size()));
    for (const api::DeviceRecord &device : std::as_const(m_devices)) {
        m_deviceRows->addWidget(makeDeviceRow(device));
    }
}

QFrame *AccountPage::makeDeviceRow(const api::DeviceRecord &device)
{
    const accountrules::DeviceLine line =
        accountrules::deviceLine(device, m_services.session().deviceId());
    QFrame *row = newFrame(u"deviceRow"_s);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 8, 12, 8);
    auto *column = new QVBoxLayout;
    column->setSpacing(3);
    addLabel(line.name, column, QString());
    addLabel(line.detail, column, u"muted"_s);
    layout->addLayout(column, 1);

    auto buttons = std::make_shared<RemovalButtons>();
    buttons->remove = addLink(u"Remove"_s, layout, row, [this, buttons, id = line.id] {
        QPushButton *remove = buttons->remove;
        if (!remove->property("confirmed").toBool()) {
            remove->setProperty("confirmed", true);
            remove->setText(u"Confirm removal"_s);
            buttons->cancel->show();
            return;
        }
        remove->setEnabled(false);
        removeDevice(id);
    });
    buttons->remove->setToolTip(u"Signs this device out and revokes its VPN access"_s);
    buttons->cancel = addLink(u"Cancel"_s, layout, row, [buttons] {
        buttons->cancel->hide();
        buttons->remove->setProperty("confirmed", false);
        buttons->remove->setText(u"Remove"_s);
    });
    buttons->cancel->hide();
    return row;
}

void AccountPage::removeDevice(const QString &id)
{
    if (id.isEmpty() || !m_services.session().authenticated()) {
        return;
    }
    const VpnController &controller = m_services.controller();
    if (controller.connecting() || controller.busy()) {
        setMessage(m_message, u"Wait for the VPN operation to finish, then try again."_s);
        renderDevices();
        return;
    }
    const int session = m_sessionGeneration;
    m_services.api().request("DELETE", backend::device(id), QJsonObject(), true,
                             [this, session, id](const ApiResult &result) {
                                 if (isCurrent(session)) {
                                     removalFinished(id, result);
                                 }
                             });
}

void AccountPage::removalFinished(const QString &id, const ApiResult &result)
{
    if (!result.successful()) {
        setMessage(m_message, api::failureLine(result.status, result.cancelled));
        renderDevices();
        return;
    }
    Session &session = m_services.session();
    if (id != session.deviceId()) {
        setMessage(m_message, QString());
        loadDevices(1);
        return;
    }
    // The backend has ended this device's session and revoked its VPN access. Stopping a tunnel
    // that does not run would only raise an elevation prompt for nothing.
    VpnController &controller = m_services.controller();
    if (controller.running() || controller.blocked()) {
        controller.disconnectVpn();
    }
    session.clear();
    emit signedOutWithNotice(u"This device was removed. Sign in to register it again."_s);
}
