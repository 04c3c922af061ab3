#include "tunnel/pollschedule.h"

#include <QTest>

class TestPollSchedule : public QObject
{
    Q_OBJECT

private slots:
    void pauses_data()
    {
        QTest::addColumn<int>("longestMs");
        QTest::addColumn<int>("checks");
        // Every pause, in order, until the schedule is spent.
        QTest::addColumn<QList<int>>("pauses");

        // 3 checks 100 ms apart waited 200 ms: the same, in growing steps, the last one cut.
        QTest::newRow("grows to the longest, keeps the whole wait")
            << 100 << 3 << QList<int>{2, 4, 8, 16, 32, 64, 74};
        QTest::newRow("steady at the longest") << 10 << 6 << QList<int>{2, 4, 8, 10, 10, 10, 6};
        QTest::newRow("a longest below the first pause") << 1 << 3 << QList<int>{1, 1};
        QTest::newRow("one check: no pause") << 100 << 1 << QList<int>{};
        QTest::newRow("no checks, no negative wait") << 100 << 0 << QList<int>{};
        QTest::newRow("no time between checks") << 0 << 5 << QList<int>{};
    }

    void pauses()
    {
        QFETCH(int, longestMs);
        QFETCH(int, checks);
        QFETCH(QList<int>, pauses);

        PollSchedule schedule(std::chrono::milliseconds(longestMs), checks);
        QList<int> seen;
        while (const std::optional<std::chrono::milliseconds> pause = schedule.nextPause()) {
            seen.append(int(pause->count()));
            QVERIFY(seen.size() <= 1000);
        }
        QCOMPARE(seen, pauses);
        QVERIFY(!schedule.nextPause());
    }
};

QTEST_APPLESS_MAIN(TestPollSchedule)
#include "tst_pollschedule.moc"
