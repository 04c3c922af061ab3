#include "ui/accountrules.h"
#include "ui/productlinks.h"
#include "ui/theme/themepalette.h"

#include <QJsonDocument>
#include <QTest>

#include <ctime>

using namespace Qt::Literals::StringLiterals;
using accountrules::PillTone;

Q_DECLARE_METATYPE(PillTone)

namespace {

QJsonObject json(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

QJsonArray jsonArray(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).array();
}

} // namespace

// What the account page shows for the backend's records, by table.
class TestAccountRules : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void planCards_data();
    void planCards();
    void pillStyles_data();
    void pillStyles();
    void offers_data();
    void offers();
    void subscriptionUrls_data();
    void subscriptionUrls();
    void webApplicationPages();
    void deviceLines_data();
    void deviceLines();
};

void TestAccountRules::initTestCase()
{
    // Dates are shown in local time: the expected texts are written for UTC.
    qputenv("TZ", "UTC");
    tzset();
}

void TestAccountRules::planCards_data()
{
    QTest::addColumn<QJsonObject>("access");
    QTest::addColumn<QString>("pill");
    QTest::addColumn<PillTone>("tone");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("summary");

    const QString hint = u"Subscribe on the website to start a plan."_s;
    QTest::newRow("free with the free plan on")
        << json(R"({"tier": "free", "plan": {"_id": "f", "enabled": true}})") << u"Free"_s
        << PillTone::Plain << u"Free plan"_s << u"No expiry · Free servers included"_s
        << u"Free plan"_s;
    QTest::newRow("free with the free plan off")
        << json(R"({"tier": "free", "plan": {"enabled": false}})") << u"Free"_s << PillTone::Plain
        << u"Free plan"_s << u"Free VPN is temporarily unavailable"_s << u"Free plan"_s;
    QTest::newRow("paid and active") << json(R"({"tier": "paid", "subscription":
                   {"status": "active", "endsAt": "2024-06-03T15:30:00.000Z"}})")
                                     << u"● Plan active"_s << PillTone::Active << u"2d 3h left"_s
                                     << u"Until 03.06.2024 15:30"_s << u"2d 3h left"_s;
    QTest::newRow("trialing without a tier")
        << json(R"({"subscription": {"status": "trialing", "endsAt": "2024-06-01T12:45:00Z"}})")
        << u"● Plan active"_s << PillTone::Active << u"45 min left"_s << u"Until 01.06.2024 12:45"_s
        << u"45 min left"_s;
    QTest::newRow("paid without an end date")
        << json(R"({"tier": "paid", "subscription": {"status": "active"}})") << u"Plan inactive"_s
        << PillTone::Inactive << u"No active plan"_s << hint << u"Plan inactive"_s;
    QTest::newRow("paid with an unreadable end date")
        << json(R"({"tier": "paid", "subscription": {"status": "active", "endsAt": "soon"}})")
        << u"Plan inactive"_s << PillTone::Inactive << u"No active plan"_s << hint
        << u"Plan inactive"_s;
    QTest::newRow("paid and expired")
        << json(R"({"tier": "paid", "subscription":
                   {"status": "active", "endsAt": "2024-05-01T08:00:00.000Z"}})")
        << u"Plan inactive"_s << PillTone::Inactive << u"No active plan"_s
        << u"Until 01.05.2024 08:00"_s << u"Plan inactive"_s;
}

void TestAccountRules::planCards()
{
    QFETCH(QJsonObject, access);
    QFETCH(QString, pill);
    QFETCH(PillTone, tone);
    QFETCH(QString, time);
    QFETCH(QString, detail);
    QFETCH(QString, summary);

    const QDateTime now(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC);
    const accountrules::PlanCard card = accountrules::planCard(api::accessRecord(access), now);
    QCOMPARE(card.pill, pill);
    QCOMPARE(card.tone, tone);
    QCOMPARE(card.time, time);
    QCOMPARE(card.detail, detail);
    QCOMPARE(card.summary, summary);
}

void TestAccountRules::pillStyles_data()
{
    QTest::addColumn<PillTone>("tone");
    QTest::addColumn<bool>("light");
    QTest::addColumn<QString>("style");

    const QColor accent(u"#87d6c2"_s);
    QTest::newRow("active, dark") << PillTone::Active << false << u"color:#87d6c2"_s;
    QTest::newRow("active, light: the accent darkened")
        << PillTone::Active << true << u"color:"_s + ThemePalette(true, accent).strong.name();
    QTest::newRow("inactive, dark") << PillTone::Inactive << false << u"color:#8f99ab"_s;
    QTest::newRow("inactive, light") << PillTone::Inactive << true << u"color:#56646a"_s;
    QTest::newRow("plain keeps the stylesheet's colour") << PillTone::Plain << true << QString();
}

void TestAccountRules::pillStyles()
{
    QFETCH(PillTone, tone);
    QFETCH(bool, light);
    QFETCH(QString, style);

    QCOMPARE(accountrules::pillStyle(tone, light, QColor(u"#87d6c2"_s)), style);
}

void TestAccountRules::offers_data()
{
    QTest::addColumn<int>("card");
    QTest::addColumn<QJsonArray>("items");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QJsonObject>("access");
    QTest::addColumn<QString>("price");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("available");

    const QJsonObject paid = json(R"({"tier": "paid", "plan": {"_id": "p30"}})");
    const QJsonObject noPlanId = json(R"({"tier": "free", "plan": {"enabled": true}})");
    const QString unavailable = u"Currently unavailable"_s;
    const auto offered = [](const char *item) {
        return jsonArray((u"[{\"enabled\": true, \"tier\": \"paid\", \"currency\": \"USD\", "_s +
                          QString::fromUtf8(item) + u"}]"_s)
                             .toUtf8());
    };

    QTest::newRow("cents as dollars")
        << 1 << offered(R"("_id": "p90", "days": 90, "price": 499)") << true << paid << u"$4.99"_s
        << u"3 months of Premium"_s << u"Subscribe"_s << true;
    QTest::newRow("a round price")
        << 2 << offered(R"("_id": "p365", "days": 365, "price": 1000)") << true << paid
        << u"$10.00"_s << u"Best value · 12 months"_s << u"Subscribe"_s << true;
    QTest::newRow("the current plan")
        << 0 << offered(R"("_id": "p30", "days": 30, "price": 499)") << true << paid << u"$4.99"_s
        << u"Current plan"_s << u"Manage plan"_s << true;
    QTest::newRow("numeric and text ids are the same plan")
        << 0 << offered(R"("_id": 30, "days": 30, "price": 0)") << true
        << json(R"({"plan": {"_id": "30"}})") << u"$0.00"_s << u"Current plan"_s << u"Manage plan"_s
        << true;
    QTest::newRow("two missing ids are not the same plan")
        << 0 << offered(R"("days": 30, "price": 499)") << true << noPlanId << u"$4.99"_s
        << u"1 month of Premium"_s << u"Subscribe"_s << true;
    QTest::newRow("euros only")
        << 0 << jsonArray(R"([{"_id": "e30", "enabled": true, "tier": "paid", "days": 30,
                          "currency": "EUR", "price": 459}])")
        << true << paid << u"—"_s << unavailable << u"Subscribe"_s << false;
    QTest::newRow("disabled")
        << 0 << jsonArray(R"([{"enabled": false, "tier": "paid", "days": 30, "currency": "USD",
                          "price": 499}])")
        << true << paid << u"—"_s << unavailable << u"Subscribe"_s << false;
    QTest::newRow("the free tier's plan")
        << 0 << jsonArray(R"([{"enabled": true, "tier": "free", "days": 30, "currency": "USD",
                          "price": 0}])")
        << true << paid << u"—"_s << unavailable << u"Subscribe"_s << false;
    QTest::newRow("another length") << 0 << offered(R"("days": 31, "price": 499)") << true << paid
                                    << u"—"_s << unavailable << u"Subscribe"_s << false;
    QTest::newRow("price as text") << 0 << offered(R"("days": 30, "price": "4.99")") << true << paid
                                   << u"—"_s << unavailable << u"Subscribe"_s << false;
    QTest::newRow("negative price") << 0 << offered(R"("days": 30, "price": -1)") << true << paid
                                    << u"—"_s << unavailable << u"Subscribe"_s << false;
    QTest::newRow("a usable offer after an unusable one")
        << 1 << jsonArray(R"([{"enabled": true, "tier": "paid", "days": 90, "currency": "USD",
                          "price": "12.99"},
                         {"enabled": true, "tier": "paid", "days": 90, "currency": "USD",
                          "price": 1299}])")
        << true << paid << u"$12.99"_s << u"3 months of Premium"_s << u"Subscribe"_s << true;
    QTest::newRow("failed reply") << 0 << offered(R"("_id": "p30", "days": 30, "price": 499)")
                                  << false << paid << u"—"_s << u"Could not load plans"_s
                                  << u"Subscribe"_s << false;
}

void TestAccountRules::offers()
{
    QFETCH(int, card);
    QFETCH(QJsonArray, items);
    QFETCH(bool, loaded);
    QFETCH(QJsonObject, access);
    QFETCH(QString, price);
    QFETCH(QString, note);
    QFETCH(QString, button);
    QFETCH(bool, available);

    const accountrules::Offer offer =
        accountrules::offer(accountrules::planPeriods().at(card), api::planRecords(items), loaded,
                            api::accessRecord(access));
    QCOMPARE(offer.price, price);
    QCOMPARE(offer.note, note);
    QCOMPARE(offer.button, button);
    QCOMPARE(offer.available, available);
}

void TestAccountRules::subscriptionUrls_data()
{
    QTest::addColumn<QString>("ticket");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("url"); // empty: nothing is opened

    const QString ticket = u"Zx9_-"_s.repeated(8) + u"abc"_s;
    const QString page = u"http://127.0.0.1:3000/app-sign-in"_s;
    QTest::newRow("ticket and period in the fragment")
        << ticket << u"monthly"_s << page + u"#token="_s + ticket + u"&period=monthly"_s;
    QTest::newRow("no period") << ticket << QString()
                               << page + u"#token="_s + ticket + u"&period="_s;
    QTest::newRow("a period that needs encoding")
        << ticket << u"a&b c#"_s << page + u"#token="_s + ticket + u"&period=a%26b%20c%23"_s;
    QTest::newRow("42 characters") << ticket.chopped(1) << u"yearly"_s << QString();
    QTest::newRow("44 characters") << ticket + u"a"_s << u"yearly"_s << QString();
    QTest::newRow("a trailing line feed")
        << ticket.chopped(1) + u"\n"_s << u"yearly"_s << QString();
    QTest::newRow("Base64 padding") << ticket.chopped(1) + u"="_s << u"yearly"_s << QString();
    QTest::newRow("a character outside the alphabet")
        << ticket.chopped(1) + u"&"_s << u"yearly"_s << QString();
    QTest::newRow("no ticket") << QString() << u"yearly"_s << QString();
}

void TestAccountRules::subscriptionUrls()
{
    QFETCH(QString, ticket);
    QFETCH(QString, period);
    QFETCH(QString, url);

    const QUrl opened =
        accountrules::subscriptionUrl(productlinks::webSignInPage(false), ticket, period);
    QCOMPARE(opened.toString(QUrl::FullyEncoded), url);
    // Never a query: the ticket must not reach the web server's logs.
    QVERIFY(!opened.hasQuery());
}

void TestAccountRules::webApplicationPages()
{
    QCOMPARE(productlinks::pricingPage(false).toString(), u"http://127.0.0.1:3000/pricing"_s);
    QCOMPARE(productlinks::webSignInPage(false).toString(), u"http://127.0.0.1:3000/app-sign-in"_s);
    for (const QUrl &page : {productlinks::pricingPage(true), productlinks::webSignInPage(true)}) {
        QCOMPARE(page.scheme(), u"https"_s);
        QVERIFY(page.host().endsWith(productlinks::websiteHost()));
    }
}

void TestAccountRules::deviceLines_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QString>("sessionDeviceId");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("thisDevice");

    QTest::newRow("this installation by id")
        << json(R"({"id": "dev_1", "name": "Work laptop", "platform": "Windows",
                   "lastSeenAt": "2024-03-05T14:07:00.000Z"})")
        << u"dev_1"_s << u"dev_1"_s << u"Work laptop · This device"_s
        << u"Windows · Last seen 05 Mar, 14:07"_s << true;
    QTest::newRow("this installation by the backend's flag")
        << json(R"({"id": "dev_2", "name": "Phone", "current": true})") << u"dev_1"_s << u"dev_2"_s
        << u"Phone · This device"_s << QString() << true;
    QTest::newRow("numeric id") << json(R"({"id": 1001, "name": "Desk"})") << u"1001"_s << u"1001"_s
                                << u"Desk · This device"_s << QString() << true;
    QTest::newRow("another device")
        << json(R"({"id": "dev_3", "name": "Desk", "platform": "macOS", "current": false})")
        << u"dev_1"_s << u"dev_3"_s << u"Desk"_s << u"macOS"_s << false;
    QTest::newRow("no name") << json(R"({"id": "dev_4", "name": ""})") << u"dev_1"_s << u"dev_4"_s
                             << u"Device"_s << QString() << false;
    QTest::newRow("an unreadable time")
        << json(R"({"id": "dev_6", "platform": "Linux", "lastSeenAt": "yesterday"})") << u"dev_1"_s
        << u"dev_6"_s << u"Device"_s << u"Linux"_s << false;
    QTest::newRow("a time without a platform")
        << json(R"({"id": "dev_7", "lastSeenAt": "2024-12-31T23:59:59Z"})") << u"dev_1"_s
        << u"dev_7"_s << u"Device"_s << u"Last seen 31 Dec, 23:59"_s << false;
    QTest::newRow("no id on either side")
        << json(R"({"name": "Old"})") << QString() << QString() << u"Old"_s << QString() << false;
}

void TestAccountRules::deviceLines()
{
    QFETCH(QJsonObject, device);
    QFETCH(QString, sessionDeviceId);
    QFETCH(QString, id);
    QFETCH(QString, name);
    QFETCH(QString, detail);
    QFETCH(bool, thisDevice);

    const accountrules::DeviceLine line =
        accountrules::deviceLine(api::deviceRecord(device), sessionDeviceId);
    QCOMPARE(line.id, id);
    QCOMPARE(line.name, name);
    QCOMPARE(line.detail, detail);
    QCOMPARE(line.thisDevice, thisDevice);
}

QTEST_GUILESS_MAIN(TestAccountRules)
#include "tst_accountrules.moc"
