#include "vpn/vpnprofile.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

class VpnProfileTest : public QObject
{
    Q_OBJECT

private slots:
    void fromReply_data();
    void fromReply();
    void storedStateRoundTrip();
};

void VpnProfileTest::fromReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    // id|accountDeviceId|serverId|tunnelName|connection uri|revoked, migrationRequired, active
    // (- absent, T true, F anything else), gatewayReady
    QTest::addColumn<QString>("read");

    QTest::newRow("flat, string ids")
        << R"({"id":"p","accountDeviceId":"d","serverId":"s","active":true,"syncStatus":"synced",
               "connection":{"uri":"c"},"tunnelName":"t"})"_ba
        << u"p|d|s|t|c|--T+"_s;
    QTest::newRow("under data, number ids, _id")
        << R"({"data":{"_id":42,"accountDeviceId":7,"serverId":9}})"_ba << u"42|7|9|||---+"_s;
    QTest::newRow("under profile: the connection beside it is not taken")
        << R"({"data":{"profile":{"data":{"id":"p"}},"connection":{"uri":"c"}}})"_ba
        << u"p|||||---+"_s;
    QTest::newRow("under device: the connection beside it is taken")
        << R"({"device":{"id":"d"},"connection":{"uri":"c"}})"_ba << u"d||||c|---+"_s;
    QTest::newRow("under device: its own connection wins")
        << R"({"device":{"connection":{"uri":"own"}},"connection":{"uri":"c"}})"_ba
        << u"||||own|---+"_s;
    QTest::newRow("true only as JSON true")
        << R"({"revoked":"true","migrationRequired":1,"active":"true","syncStatus":"x"})"_ba
        << u"|||||--F-"_s;
    QTest::newRow("JSON true and false, null status")
        << R"({"revoked":true,"migrationRequired":true,"active":false,"syncStatus":null})"_ba
        << u"|||||RMF-"_s;
    QTest::newRow("missing fields") << "{}"_ba << u"|||||---+"_s;
}

void VpnProfileTest::fromReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, read);
    const VpnProfile p = VpnProfile::fromReply(QJsonDocument::fromJson(reply).object());
    const std::optional<bool> active = p.active();
    const char16_t flags[]{p.revoked() ? u'R' : u'-', p.migrationRequired() ? u'M' : u'-',
                           active ? (*active ? u'T' : u'F') : u'-', p.gatewayReady() ? u'+' : u'-'};
    QCOMPARE(QStringList({p.id(), p.accountDeviceId(), p.serverId(), p.tunnelName(),
                          p.connection().value(u"uri"_s).toString(), QString::fromUtf16(flags, 4)})
                 .join(u'|'),
             read);
}

void VpnProfileTest::storedStateRoundTrip()
{
    // Members the client never reads, and ids as numbers, are stored again exactly as read; no
    // pending request is still written, as an empty object.
    const QByteArray text =
        R"({"local":{"accountDeviceId":7,"connection":{"uri":"c"},"extra":{"n":[1,"two"]},"id":12,)"
        R"("tunnelName":"tnel_0123456789abcdef0123"},"pendingProfile":{}})"_ba;
    VpnProfile profile;
    PendingProfile pending;
    readProfileState(text, profile, pending);
    QCOMPARE(profileStateText(profile, pending), text);
}

QTEST_GUILESS_MAIN(VpnProfileTest)
#include "tst_vpnprofile.moc"
