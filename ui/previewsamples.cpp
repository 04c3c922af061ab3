#include "ui/previewsamples.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QJsonObject server(const QString &id, const QString &name, const QString &endpoint)
{
    return {{u"id"_s, id},
            {u"name"_s, name},
            {u"endpoint"_s, endpoint},
            {u"enabled"_s, true},
            {u"protocol"_s, u"vless-reality"_s},
            {u"tier"_s, u"paid"_s}};
}

QJsonObject device(const QString &id, const QString &name, const QString &platform,
                   const QDateTime &lastSeen, bool current)
{
    return {{u"id"_s, id},
            {u"name"_s, name},
            {u"platform"_s, platform},
            {u"lastSeenAt"_s, lastSeen.toString(Qt::ISODateWithMs)},
            {u"current"_s, current}};
}

QJsonObject offer(const QString &id, int days, int cents)
{
    return {{u"_id"_s, id},      {u"name"_s, u"Solvik Plus"_s}, {u"tier"_s, u"paid"_s},
            {u"days"_s, days},   {u"currency"_s, u"USD"_s},     {u"price"_s, cents},
            {u"enabled"_s, true}};
}

// The plan offers of both sample sets; the one-month offer is the account's plan.
QJsonArray sampleOffers()
{
    return {offer(u"plan-month"_s, 30, 499), offer(u"plan-quarter"_s, 90, 1299),
            offer(u"plan-year"_s, 365, 3999)};
}

QJsonObject paidAccess(const QDateTime &endsAt)
{
    return {{u"tier"_s, u"paid"_s},
            {u"plan"_s, sampleOffers().first()},
            {u"subscription"_s, QJsonObject{{u"status"_s, u"active"_s},
                                            {u"endsAt"_s, endsAt.toString(Qt::ISODateWithMs)},
                                            {u"planId"_s, u"plan-month"_s}}}};
}

} // namespace

PreviewAccount PreviewAccount::smoke(const QDateTime &now)
{
    PreviewAccount account;
    account.email = u"alex@example.com"_s;
    account.userId = u"preview-user"_s;
    account.deviceId = u"preview-desktop"_s;
    // Every server has a host of its own under the reserved example domain, so two servers of
    // one city can be told apart.
    const auto sample = [](const QString &id, const QString &name) {
        return server(id, name, id.mid(8) + u".vpn.example.net:51820"_s);
    };
    account.servers = {sample(u"preview-nl"_s, u"Netherlands \u00b7 Amsterdam #1"_s),
                       sample(u"preview-nl2"_s, u"Netherlands \u00b7 Amsterdam #2"_s),
                       sample(u"preview-de"_s, u"Germany \u00b7 Frankfurt #1"_s),
                       sample(u"preview-ch"_s, u"Switzerland \u00b7 Zurich #1"_s),
                       sample(u"preview-fi"_s, u"Finland \u00b7 Helsinki #1"_s),
                       sample(u"preview-pl"_s, u"Poland \u00b7 Warsaw #1"_s),
                       sample(u"preview-gb"_s, u"United Kingdom \u00b7 London #1"_s),
                       sample(u"preview-us"_s, u"USA \u00b7 New York #1"_s),
                       sample(u"preview-jp"_s, u"Japan \u00b7 Tokyo #1"_s),
                       sample(u"preview-other"_s, u"Solvik #1"_s)};
    account.access = paidAccess(now.addDays(23).addSecs(4 * 3600));
    account.offers = sampleOffers();
    account.devices = {
        device(u"preview-desktop"_s, u"Desktop"_s, u"windows"_s, now.addSecs(-60), true),
        device(u"preview-laptop"_s, u"Laptop"_s, u"windows"_s, now.addDays(-2), false),
        device(u"preview-phone"_s, u"iPhone"_s, u"ios"_s, now.addDays(-5), false)};
    account.selectedServerId = u"preview-nl"_s;
    return account;
}

PreviewAccount PreviewAccount::website(const QDateTime &now)
{
    PreviewAccount account;
    account.email = u"jordan@example.com"_s;
    account.userId = u"site-user"_s;
    account.deviceId = u"site-desktop"_s;
    account.servers = {
        server(u"site-fi"_s, u"Finland \u00b7 Helsinki #1"_s, u"198.51.100.12:443"_s),
        server(u"site-de"_s, u"Germany \u00b7 Frankfurt #1"_s, u"198.51.100.22:443"_s),
        server(u"site-de2"_s, u"Germany \u00b7 Berlin #1"_s, u"198.51.100.23:443"_s),
        server(u"site-nl"_s, u"Netherlands \u00b7 Amsterdam #1"_s, u"198.51.100.31:443"_s),
        server(u"site-ch"_s, u"Switzerland \u00b7 Zurich #1"_s, u"198.51.100.41:443"_s),
        server(u"site-se"_s, u"Sweden \u00b7 Stockholm #1"_s, u"198.51.100.51:443"_s),
        server(u"site-gb"_s, u"United Kingdom \u00b7 London #1"_s, u"198.51.100.61:443"_s)};
    account.access = paidAccess(now.addDays(143).addSecs(7 * 3600));
    account.offers = sampleOffers();
    account.devices = {
        device(u"site-desktop"_s, u"Desktop"_s, u"windows"_s, now.addSecs(-120), true),
        device(u"site-phone"_s, u"iPhone"_s, u"ios"_s, now.addDays(-3), false)};
    account.selectedServerId = u"site-de"_s;
    return account;
}

QJsonObject PreviewAccount::freeAccess()
{
    return {{u"tier"_s, u"free"_s},
            {u"plan"_s, QJsonObject{{u"_id"_s, u"plan-free"_s},
                                    {u"name"_s, u"Free"_s},
                                    {u"tier"_s, u"free"_s},
                                    {u"enabled"_s, true}}},
            {u"subscription"_s, QJsonObject()}};
}
