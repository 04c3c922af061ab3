#include "tunnel/outputcollector.h"

#include <QTest>

// Bytes whose position can be read back from them, so a wrong offset cannot pass unnoticed.
static QByteArray numbered(qsizetype from, qsizetype count)
{
    QByteArray bytes;
    for (qsizetype i = from; i < from + count; ++i) {
        bytes.append(char('A' + (i % 23) + (i / 23 % 3)));
    }
    return bytes;
}

class TestOutputCollector : public QObject
{
    Q_OBJECT

private slots:
    void keepsLastBytes_data();
    void keepsLastBytes();
    void wipeEmpties();
};

void TestOutputCollector::keepsLastBytes_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QList<int>>("chunks");

    QTest::newRow("nothing") << 32768 << QList<int>{};
    QTest::newRow("one short line") << 32768 << QList<int>{57};
    QTest::newRow("exactly full") << 32768 << QList<int>{32768};
    QTest::newRow("one byte over") << 32768 << QList<int>{32768, 1};
    QTest::newRow("100 KB in reader chunks") << 32768 << QList<int>(25, 4096);
    QTest::newRow("one chunk larger than the ring") << 32768 << QList<int>{102400};
    QTest::newRow("odd chunks wrapping many times") << 10 << QList<int>{3, 7, 9, 1, 10, 4, 11};
    QTest::newRow("wrap in the middle of a chunk") << 8 << QList<int>{5, 6};
}

void TestOutputCollector::keepsLastBytes()
{
    QFETCH(int, capacity);
    QFETCH(QList<int>, chunks);

    OutputCollector collector{std::size_t(capacity)};
    qsizetype written = 0;
    for (int chunk : chunks) {
        const QByteArray bytes = numbered(written, chunk);
        collector.append(bytes.constData(), std::size_t(bytes.size()));
        written += chunk;
    }
    const QByteArray all = numbered(0, written);
    const QByteArray expected = all.right(qMin<qsizetype>(capacity, written));
    QCOMPARE(collector.size(), std::size_t(expected.size()));
    QCOMPARE(collector.bytes(), expected);
    QCOMPARE(collector.isEmpty(), written == 0);
}

void TestOutputCollector::wipeEmpties()
{
    OutputCollector collector(16);
    collector.append("secret-ish engine text", 22);
    collector.wipe();
    QVERIFY(collector.isEmpty());
    QCOMPARE(collector.bytes(), QByteArray());
    collector.append("after", 5);
    QCOMPARE(collector.bytes(), QByteArray("after"));
}

QTEST_GUILESS_MAIN(TestOutputCollector)
#include "tst_outputcollector.moc"
