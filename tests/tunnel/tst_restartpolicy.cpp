#include "tunnel/restartpolicy.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestRestartPolicy : public QObject
{
    Q_OBJECT

private slots:
    void delaysAndGivingUp_data()
    {
        // Events at seconds on the injected clock: "F" a failure, "H" the engine proved healthy.
        QTest::addColumn<QString>("events");
        // Per failure: the delay in ms with the random source at half its range (10 % extra),
        // or -1 for giving up.
        QTest::addColumn<QList<int>>("delays");

        QTest::newRow("doubling to 30 s, then 30 s each, failures spread over 6 minutes")
            << u"F0 F60 F120 F180 F240 F300 F360 F420"_s
            << QList<int>{1100, 2200, 4400, 8800, 17600, 33000, 33000, 33000};
        QTest::newRow("the loss and 6 failed attempts within 5 minutes give up")
            << u"F0 F1 F3 F7 F15 F31 F61"_s << QList<int>{1100, 2200, 4400, 8800, 17600, 33000, -1};
        QTest::newRow("60 s healthy starts over")
            << u"F0 F1 F3 H10 F70 F71"_s << QList<int>{1100, 2200, 4400, 1100, 2200};
        QTest::newRow("59 s healthy does not")
            << u"F0 F1 F3 H10 F69"_s << QList<int>{1100, 2200, 4400, 8800};
    }

    void delaysAndGivingUp()
    {
        QFETCH(QString, events);
        QFETCH(QList<int>, delays);

        std::chrono::steady_clock::time_point now;
        RestartPolicy policy(
            {}, [&now] { return now; }, [] { return 0.5; });
        QList<int> seen;
        for (const QString &event : events.split(u' ')) {
            now = std::chrono::steady_clock::time_point(std::chrono::seconds(event.mid(1).toInt()));
            if (event.startsWith(u'H')) {
                policy.healthy();
            } else {
                const auto delay = policy.failed();
                seen.append(delay ? int(delay->count()) : -1);
            }
        }
        QCOMPARE(seen, delays);
    }
};

QTEST_GUILESS_MAIN(TestRestartPolicy)
#include "tst_restartpolicy.moc"
