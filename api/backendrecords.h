#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The backend's records as the client works with them, made from the wire in one place so the
// reply conventions of replyrules.h apply everywhere alike.
namespace api {

// Where the public geolocation service places a server's address.
struct GeoLocation
{
    QString countryCode;
    QString country;
    QString city;
    // Both present or both absent.
    std::optional<double> latitude;
    std::optional<double> longitude;

    bool operator==(const GeoLocation &) const = default;
};

// A server of the catalogue. The texts the window shows are bounded; the endpoint stays whole, as
// it is what the client connects to and matches profiles by.
struct ServerRecord
{
    // Read as text: the backend may send numbers.
    QString id;
    QString name;
    QString endpoint;
    QString tier;
    QString countryCode;
    QString country;
    QString city;
    // A record this client can use: a non-empty id, not switched off by a JSON false "enabled",
    // and no "protocol" other than exactly "vless-reality".
    bool usable = false;
    // Added by the client: the public address the endpoint's host resolved to, and where the
    // geolocation service places it.
    std::optional<QString> resolvedIp;
    std::optional<GeoLocation> geoLocation;

    bool operator==(const ServerRecord &) const = default;
};

// A device of the account's device list.
struct DeviceRecord
{
    QString id;
    QString name;
    QString platform;
    QDateTime lastSeenAt; // invalid when absent or unreadable
    // The backend marks the device the request came from.
    bool current = false;
};

// A plan, as the plans list offers it or as the account's access information names it.
struct PlanRecord
{
    // The "_id", read as text.
    QString id;
    // Only a JSON true switches a plan on.
    bool enabled = false;
    QString tier;
    // Present when "days" is a number.
    std::optional<double> days;
    // In cents; present when "price" is a finite number >= 0.
    std::optional<double> price;
    QString currency;

    bool operator==(const PlanRecord &) const = default;
};

// The state of the account's subscription.
struct SubscriptionRecord
{
    QString status;
    QDateTime endsAt; // invalid when absent or unreadable

    bool operator==(const SubscriptionRecord &) const = default;
};

// The account's access information.
struct AccessRecord
{
    QString tier;
    // Empty fields when the reply holds no plan object.
    PlanRecord plan;
    SubscriptionRecord subscription;
    // "tier" and "plan" exactly as sent: the backend decides from them which servers the account
    // may use, fields this client never reads included, so any difference in them is a change.
    QJsonObject tierAndPlan;

    bool operator==(const AccessRecord &) const = default;
};

// A device record, "data" wrapper and "_id" accepted; texts bounded.
DeviceRecord deviceRecord(const QJsonObject &wire);

// The access reply, "data" wrapper accepted.
AccessRecord accessRecord(const QJsonObject &reply);

// The plans among `items` (pageItems() of a reply, or sample records), in order.
QList<PlanRecord> planRecords(const QJsonArray &items);

// The account's e-mail address in the session's profile.
QString profileEmail(const QJsonObject &profile);

// The web ticket of a ticket reply, "data" wrapper accepted; empty when there is none.
QString webTicket(const QJsonObject &reply);

// One server record as a page of the reply lists it (pageItems() has unwrapped it).
ServerRecord serverRecord(const QJsonObject &object);

// The usable records among `items` (pageItems() of a reply, or sample records), in order, until
// `target` holds `limit`.
void appendUsableServers(QList<ServerRecord> &target, const QJsonArray &items, qsizetype limit);

} // namespace api
