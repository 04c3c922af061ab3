#include "ui/widgets/serverdelegate.h"
#include "ui/widgets/servertree.h"

#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <QVariantAnimation>

using namespace Qt::Literals::StringLiterals;

namespace {

// A group shown as the connection page shows the tree, so rows span its width.
QTreeWidgetItem *showGroup(ServerTree &tree, const QString &name, const QStringList &serverIds)
{
    auto *group = new QTreeWidgetItem(&tree, {name});
    group->setData(0, ServerTree::KindRole, ServerTree::GroupRow);
    for (const QString &id : serverIds) {
        auto *server = new QTreeWidgetItem(group, {id});
        server->setData(0, ServerTree::ServerIdRole, id);
        server->setData(0, ServerTree::KindRole, ServerTree::ServerRow);
    }
    tree.setHeaderHidden(true);
    tree.setRootIsDecorated(false);
    tree.setIndentation(0);
    tree.resize(300, 400);
    tree.show();
    return group;
}

double progressOf(const QTreeWidgetItem *item)
{
    return item->data(0, ServerTree::ExpansionRole).toDouble();
}

void click(ServerTree &tree, QTreeWidgetItem *item)
{
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(item).center());
}

// Delivers one tick of the pulse timer without waiting for it.
QStringList markedRows(ServerTree &tree)
{
    QStringList marked;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
        if ((*it)->data(0, ServerTree::ConnectedRole).toBool()) {
            marked << (*it)->text(0);
        }
    }
    return marked;
}

} // namespace

class TestServerTree : public QObject
{
    Q_OBJECT

private slots:
    void openThenReverse_data();
    void openThenReverse();
    void repeatedAndInstantRequests();
    void keyboard_data();
    void keyboard();
    void latencyText_data();
    void latencyText();
    void paintedRows_data();
    void paintedRows();
    void pulseOnlyWhileConnectedAndVisible();
    void connectedMarkersWrittenOnChange();
    void resetDropsAnimations();
};

void TestServerTree::openThenReverse_data()
{
    QTest::addColumn<int>("elapsedMs");
    QTest::addColumn<double>("progress");
    QTest::addColumn<int>("serverHeight");
    QTest::addColumn<int>("reverseMs");

    // 4·0.25³: a linear opening would already be 12 px high.
    QTest::newRow("slow start, shortest reversal") << 55 << 0.0625 << 3 << 80;
    QTest::newRow("halfway") << 110 << 0.5 << 23 << 110;
    QTest::newRow("slowing down") << 165 << 0.9375 << 43 << 206;
    QTest::newRow("fully open") << 220 << 1.0 << 46 << 220;
}

void TestServerTree::openThenReverse()
{
    QFETCH(int, elapsedMs);
    QFETCH(double, progress);
    QFETCH(int, serverHeight);
    QFETCH(int, reverseMs);

    ServerTree tree;
    QTreeWidgetItem *group = showGroup(tree, u"Germany"_s, {u"de-1"_s, u"de-2"_s});
    click(tree, group);
    QVariantAnimation *opening = tree.expandAnimation(group);
    QCOMPARE(opening->duration(), 220);
    opening->setCurrentTime(elapsedMs);
    QCOMPARE(progressOf(group->child(1)), progress);
    QCOMPARE(tree.visualItemRect(group->child(1)).height(), serverHeight);
    QCOMPARE(tree.visualItemRect(group).height(), 62);

    click(tree, group);
    QVariantAnimation *closing = tree.expandAnimation(group);
    QVERIFY(!tree.targetExpanded(group));
    QCOMPARE(closing->duration(), reverseMs);
    QCOMPARE(closing->startValue().toDouble(), progress);
    QVERIFY(group->isExpanded());
    closing->setCurrentTime(reverseMs);
    QVERIFY(!tree.expandAnimation(group));
    QVERIFY(!group->isExpanded());
    QCOMPARE(progressOf(group->child(0)), 0.0);
}

void TestServerTree::repeatedAndInstantRequests()
{
    ServerTree tree;
    QTreeWidgetItem *open = showGroup(tree, u"Sweden"_s, {u"se-1"_s});
    QTreeWidgetItem *opening = showGroup(tree, u"Germany"_s, {u"de-1"_s});

    open->setExpanded(true);
    tree.setGroupExpanded(open, true, false);
    QVERIFY(!tree.expandAnimation(open));
    QVERIFY(open->isExpanded());

    tree.setGroupExpanded(opening, true, true);
    QVariantAnimation *animation = tree.expandAnimation(opening);
    animation->setCurrentTime(100);
    tree.setGroupExpanded(opening, true, true);
    QCOMPARE(tree.expandAnimation(opening), animation);
    QCOMPARE(animation->currentTime(), 100);

    // The search filter and the selection jump straight to the end, even mid-animation.
    tree.setGroupExpanded(opening, false, false);
    QVERIFY(!tree.expandAnimation(opening));
    QVERIFY(!opening->isExpanded());
    QCOMPARE(progressOf(opening), 0.0);
    // An instant open has its rows laid out by the time they are measured or painted.
    tree.setGroupExpanded(opening, true, false);
    QVERIFY(tree.visualItemRect(opening->child(0)).height() > 0);
}

void TestServerTree::keyboard_data()
{
    QTest::addColumn<bool>("startOpen");
    QTest::addColumn<bool>("onServer");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("target");

    QTest::newRow("right opens") << false << false << int(Qt::Key_Right) << true;
    QTest::newRow("left closes") << true << false << int(Qt::Key_Left) << false;
    QTest::newRow("return opens") << false << false << int(Qt::Key_Return) << true;
    QTest::newRow("space closes") << true << false << int(Qt::Key_Space) << false;
    QTest::newRow("left on a server goes up") << true << true << int(Qt::Key_Left) << true;
}

void TestServerTree::keyboard()
{
    QFETCH(bool, startOpen);
    QFETCH(bool, onServer);
    QFETCH(int, key);
    QFETCH(bool, target);

    ServerTree tree;
    QTreeWidgetItem *group = showGroup(tree, u"Germany"_s, {u"de-1"_s});
    tree.setGroupExpanded(group, startOpen, false);
    tree.setCurrentItem(onServer ? group->child(0) : group);
    QTest::keyClick(&tree, Qt::Key(key));

    QCOMPARE(tree.currentItem(), group);
    QCOMPARE(tree.targetExpanded(group), target);
    QCOMPARE(tree.expandAnimation(group) != nullptr, !onServer);
    QVERIFY(group->isExpanded());
}

void TestServerTree::latencyText_data()
{
    QTest::addColumn<QVariant>("latency");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero is a measurement") << QVariant(0) << u"0 ms"_s;
    QTest::newRow("failed") << QVariant(-1) << u"\u2014"_s;
    QTest::newRow("pending") << QVariant(-2) << u"\u2026"_s;
    QTest::newRow("never measured") << QVariant() << u"\u2026"_s;
}

void TestServerTree::latencyText()
{
    QFETCH(QVariant, latency);
    QFETCH(QString, text);
    QCOMPARE(ServerDelegate::latencyText(latency), text);
}

void TestServerTree::paintedRows_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<QColor>("colour");

    // Pixels at twice the scale: a card's corner, a server's dot, the left of the globe's
    // equator and the flag's centre.
    const QPoint card(20, 16), dot(66, 48), globe(58, 61), flag(70, 61);
    const int server = ServerTree::ServerRow;
    const int group = ServerTree::GroupRow;
    QTest::newRow("dark card") << false << server << QString() << false << card << QColor(0x252f37);
    QTest::newRow("light card") << true << server << QString() << false << card << QColor(0xe6ebed);
    QTest::newRow("idle dot") << true << server << QString() << false << dot << QColor(0x7f8c91);
    QTest::newRow("connected dot")
        << true << server << QString() << true << dot << QColor(0x39c985);
    QTest::newRow("placeholder as a server")
        << false << 0 << QString() << false << dot << QColor(0x829699);
    QTest::newRow("no such flag") << false << group << u"zz"_s << false << globe
                                  << QColor(0x9daab4);
    QTest::newRow("no code") << true << group << QString() << false << globe << QColor(0x56646a);
    QTest::newRow("flag, code in capitals")
        << false << group << u"DE"_s << false << flag << QColor(Qt::red);
}

void TestServerTree::paintedRows()
{
    QFETCH(bool, light);
    QFETCH(int, kind);
    QFETCH(QString, code);
    QFETCH(bool, connected);
    QFETCH(QPoint, pixel);
    QFETCH(QColor, colour);

    QStandardItemModel model;
    auto *row = new QStandardItem(u"203.0.113.7"_s);
    row->setData(kind ? QVariant(kind) : QVariant(), ServerTree::KindRole);
    row->setData(code, ServerTree::CountryCodeRole);
    row->setData(connected, ServerTree::ConnectedRole);
    model.appendRow(row);
    ServerTree tree;
    tree.setAppearance(light, QColor(0x87d6c2));
    QStyleOptionViewItem option;
    option.rect = QRect(QPoint(0, 0), tree.itemDelegate()->sizeHint(option, row->index()));
    QImage image(option.rect.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    tree.itemDelegate()->paint(&painter, option, row->index());
    painter.end();

    const QColor painted = image.pixelColor(pixel);
    QVERIFY2(std::abs(painted.red() - colour.red()) <= 4 &&
                 std::abs(painted.green() - colour.green()) <= 4 &&
                 std::abs(painted.blue() - colour.blue()) <= 4 && painted.alpha() == 255,
             qPrintable(painted.name(QColor::HexArgb)));
}

void TestServerTree::pulseOnlyWhileConnectedAndVisible()
{
    ServerTree tree;
    showGroup(tree, u"Germany"_s, {u"de-1"_s});
    QVERIFY(!tree.isPulsing());
    tree.setConnectedServer(u"de-1"_s);
    QVERIFY(tree.isPulsing());
    tree.hide();
    QVERIFY(!tree.isPulsing());
    tree.show();
    tree.setConnectedServer(QString());
    QVERIFY(!tree.isPulsing());
}

void TestServerTree::connectedMarkersWrittenOnChange()
{
    ServerTree tree;
    showGroup(tree, u"Germany"_s, {u"de-1"_s, u"de-2"_s});
    showGroup(tree, u"Sweden"_s, {u"se-1"_s});
    QSignalSpy writes(&tree, &QTreeWidget::itemChanged);

    const QList<std::tuple<QString, int, QStringList>> steps = {
        {QString(), 0, {}},
        {u"se-1"_s, 2, {u"Sweden"_s, u"se-1"_s}},
        {u"se-1"_s, 0, {u"Sweden"_s, u"se-1"_s}},
        {u"de-2"_s, 4, {u"Germany"_s, u"de-2"_s}},
        {QString(), 2, {}}};
    for (const auto &[id, expectedWrites, marked] : steps) {
        writes.clear();
        tree.setConnectedServer(id);
        QCOMPARE(writes.size(), expectedWrites);
        QCOMPARE(markedRows(tree), marked);
        QCOMPARE(tree.property("hasConnectedServer").toBool(), !id.isEmpty());
    }
}

void TestServerTree::resetDropsAnimations()
{
    ServerTree tree;
    QTreeWidgetItem *group = showGroup(tree, u"Germany"_s, {u"de-1"_s});
    tree.setGroupExpanded(group, true, true);
    const QPointer<QVariantAnimation> animation = tree.expandAnimation(group);
    QVERIFY(animation);
    tree.clear();
    QVERIFY(animation.isNull());
}

QTEST_MAIN(TestServerTree)
#include "tst_servertree.moc"
