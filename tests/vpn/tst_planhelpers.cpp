#include "vpn/planhelpers.h"

#include <QTest>

using namespace Qt::StringLiterals;

class PlanHelpersTest : public QObject
{
    Q_OBJECT

private slots:
    void timeLeft_data();
    void timeLeft();
};

void PlanHelpersTest::timeLeft_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("endsAt");
    QTest::addColumn<bool>("active");
    QTest::addColumn<QString>("text");

    // Every row is measured from 2026-03-01T12:00:00Z.
    QTest::newRow("59 min 30 s rounds up to an hour")
        << u"active"_s << u"2026-03-01T12:59:30Z"_s << true << u"1h 0m left"_s;
    QTest::newRow("30 s") << u"active"_s << u"2026-03-01T12:00:30Z"_s << true
                          << u"Less than a minute left"_s;
    QTest::newRow("exactly 60 s") << u"active"_s << u"2026-03-01T12:01:00Z"_s << true
                                  << u"1 min left"_s;
    QTest::newRow("61 s rounds up")
        << u"active"_s << u"2026-03-01T12:01:01Z"_s << true << u"2 min left"_s;
    QTest::newRow("trialing, 5 h 10 m")
        << u"trialing"_s << u"2026-03-01T17:10:00.000Z"_s << true << u"5h 10m left"_s;
    QTest::newRow("23 h 59 m 30 s rounds up to a day")
        << u"active"_s << u"2026-03-02T11:59:30Z"_s << true << u"1d 0h left"_s;
    QTest::newRow("3 days 4 hours with milliseconds")
        << u"active"_s << u"2026-03-04T16:00:00.250Z"_s << true << u"3d 4h left"_s;
    QTest::newRow("offset zone") << u"active"_s << u"2026-03-01T14:30:00+02:00"_s << true
                                 << u"30 min left"_s;
    QTest::newRow("ended") << u"active"_s << u"2026-03-01T11:59:59Z"_s << false
                           << u"No active plan"_s;
    QTest::newRow("ends now") << u"active"_s << u"2026-03-01T12:00:00Z"_s << false
                              << u"No active plan"_s;
    QTest::newRow("canceled") << u"canceled"_s << u"2026-04-01T12:00:00Z"_s << false
                              << u"No active plan"_s;
    QTest::newRow("status case matters")
        << u"Active"_s << u"2026-04-01T12:00:00Z"_s << false << u"No active plan"_s;
    QTest::newRow("missing endsAt") << u"active"_s << QString() << false << u"No active plan"_s;
    QTest::newRow("garbage endsAt")
        << u"trialing"_s << u"next week"_s << false << u"No active plan"_s;
}

void PlanHelpersTest::timeLeft()
{
    QFETCH(QString, status);
    QFETCH(QString, endsAt);
    QFETCH(bool, active);
    QFETCH(QString, text);

    QJsonObject plan{{u"status"_s, status}};
    if (!endsAt.isNull())
        plan.insert(u"endsAt"_s, endsAt);
    const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    const api::SubscriptionRecord subscription =
        api::accessRecord({{u"subscription"_s, plan}}).subscription;
    QCOMPARE(planhelpers::planIsActive(subscription, now), active);
    QCOMPARE(planhelpers::planTimeLeftText(subscription, now), text);
}

QTEST_GUILESS_MAIN(PlanHelpersTest)
#include "tst_planhelpers.moc"
