#include "ui/widgets/servertree.h"

#include "ui/widgets/serverdelegate.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr int pulseIntervalMs = 33;
constexpr int fullExpansionMs = 220;
// A reversal close to where it started would otherwise flick by too fast to read.
constexpr int shortestExpansionMs = 80;
constexpr double settledDistance = 0.001;

bool isGroup(const QTreeWidgetItem *item)
{
    return item && item->data(0, ServerTree::KindRole).toInt() == ServerTree::GroupRow;
}

} // namespace

ServerTree::ServerTree(QWidget *parent)
    : QTreeWidget(parent)
    , m_delegate(new ServerDelegate(this))
    , m_pulseTimer(new QTimer(this))
{
    setFrameShape(QFrame::NoFrame);
    setLineWidth(0);
    setAllColumnsShowFocus(false);
    // Groups animate through their rows' heights instead of the view's own slide.
    setAnimated(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(false);
    viewport()->setAutoFillBackground(false);
    setItemDelegate(m_delegate);

    m_pulseTimer->setInterval(pulseIntervalMs);
    connect(m_pulseTimer, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));

    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this, &ServerTree::dropAnimations);
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        if (isGroup(item)) {
            setGroupExpanded(item, !targetExpanded(item), true);
        }
    });
}

ServerTree::~ServerTree()
{
    // The item model goes with the widget's children and resets itself on the way out, when
    // this part of the tree no longer exists to hear it.
    disconnect(model(), &QAbstractItemModel::modelAboutToBeReset, this,
               &ServerTree::dropAnimations);
}

void ServerTree::setAppearance(bool light, const QColor &accent)
{
    m_delegate->setAppearance(light, accent);
    viewport()->update();
}

void ServerTree::setConnectedServer(const QString &id)
{
    setProperty("hasConnectedServer", !id.isEmpty());
    updatePulse();
    // Only changes are written: each write repaints its row and notifies the tree's listeners,
    // and this runs after every change of the connection.
    const auto mark = [](QTreeWidgetItem *item, bool marked) {
        if (item->data(0, ConnectedRole).toBool() != marked) {
            item->setData(0, ConnectedRole, marked);
        }
    };
    for (int g = 0; g < topLevelItemCount(); ++g) {
        QTreeWidgetItem *group = topLevelItem(g);
        if (!isGroup(group)) {
            continue;
        }
        bool holdsConnected = false;
        for (int s = 0; s < group->childCount(); ++s) {
            QTreeWidgetItem *server = group->child(s);
            const bool marked = !id.isEmpty() && server->data(0, ServerIdRole).toString() == id;
            mark(server, marked);
            holdsConnected = holdsConnected || marked;
        }
        mark(group, holdsConnected);
    }
}

void ServerTree::setGroupExpanded(QTreeWidgetItem *group, bool expand, bool animate)
{
    const QPersistentModelIndex row(indexFromItem(group));
    QVariantAnimation *running = m_expandAnimations.value(row);
    if (animate && running && m_expandTargets.value(row) == expand) {
        return;
    }
    if (running) {
        m_expandAnimations.remove(row);
        running->stop();
        delete running;
    }
    const QVariant stored = group->data(0, ExpansionRole);
    const double current = stored.isValid() ? stored.toDouble() : group->isExpanded() ? 1.0 : 0.0;
    const double target = expand ? 1.0 : 0.0;
    m_expandTargets.insert(row, expand);
    if (!animate || std::abs(current - target) < settledDistance) {
        // Laid out once, when next painted or measured, however many groups change before: a
        // search opens every group at once. A layout due also keeps the writes below from
        // searching the laid-out rows for each changed one.
        scheduleDelayedItemsLayout();
        setExpansion(group, target);
        group->setExpanded(expand);
        viewport()->update();
        return;
    }

    applyExpansion(group, current);
    // The server rows stay in the view while they shrink away.
    group->setExpanded(true);
    auto *animation = new QVariantAnimation(this);
    animation->setStartValue(current);
    animation->setEndValue(target);
    animation->setDuration(std::max(
        shortestExpansionMs, int(std::lround(std::abs(current - target) * fullExpansionMs))));
    animation->setEasingCurve(QEasingCurve::InOutCubic);
    m_expandAnimations.insert(row, animation);
    connect(animation, &QVariantAnimation::valueChanged, this, [this, row](const QVariant &value) {
        if (QTreeWidgetItem *item = itemFromIndex(row)) {
            applyExpansion(item, value.toDouble());
        }
    });
    connect(animation, &QAbstractAnimation::finished, this, [this, row, animation, expand, target] {
        if (QTreeWidgetItem *item = itemFromIndex(row)) {
            applyExpansion(item, target);
            item->setExpanded(expand);
        }
        m_expandAnimations.remove(row);
        animation->deleteLater();
    });
    animation->start();
}

bool ServerTree::targetExpanded(QTreeWidgetItem *group) const
{
    const auto found = m_expandTargets.constFind(QPersistentModelIndex(indexFromItem(group)));
    return found != m_expandTargets.constEnd() ? *found : group->isExpanded();
}

QVariantAnimation *ServerTree::expandAnimation(QTreeWidgetItem *group) const
{
    return m_expandAnimations.value(QPersistentModelIndex(indexFromItem(group)));
}

void ServerTree::keyPressEvent(QKeyEvent *event)
{
    QTreeWidgetItem *row = currentItem();
    std::optional<bool> expand;
    if (isGroup(row)) {
        switch (event->key()) {
        case Qt::Key_Right:
            expand = true;
            break;
        case Qt::Key_Left:
            expand = false;
            break;
        case Qt::Key_Return:
        case Qt::Key_Space:
            expand = !targetExpanded(row);
            break;
        default:
            break;
        }
    }
    if (!expand) {
        QTreeWidget::keyPressEvent(event);
        return;
    }
    setGroupExpanded(row, *expand, true);
    event->accept();
}

void ServerTree::drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    // The cards are the whole look of a row: no style background, selection or focus frame.
    QStyleOptionViewItem card = option;
    card.state &= ~QStyle::State_HasFocus;
    itemDelegateForIndex(index)->paint(painter, card, index);
}

void ServerTree::applyExpansion(QTreeWidgetItem *group, double progress)
{
    // Re-laying out the rows would otherwise let the list jump while a group changes height.
    const int scroll = verticalScrollBar()->value();
    setExpansion(group, progress);
    doItemsLayout();
    verticalScrollBar()->setValue(scroll);
    viewport()->update();
}

void ServerTree::setExpansion(QTreeWidgetItem *group, double progress)
{
    group->setData(0, ExpansionRole, progress);
    for (int s = 0; s < group->childCount(); ++s) {
        group->child(s)->setData(0, ExpansionRole, progress);
    }
}

void ServerTree::dropAnimations()
{
    const QList<QVariantAnimation *> running = m_expandAnimations.values();
    m_expandAnimations.clear();
    m_expandTargets.clear();
    for (QVariantAnimation *animation : running) {
        animation->stop();
        delete animation;
    }
}

void ServerTree::showEvent(QShowEvent *event)
{
    QTreeWidget::showEvent(event);
    updatePulse();
}

void ServerTree::hideEvent(QHideEvent *event)
{
    QTreeWidget::hideEvent(event);
    updatePulse();
}

void ServerTree::updatePulse()
{
    // Only the pulse of a connected server that can be seen is worth a wake-up.
    if (isVisible() && property("hasConnectedServer").toBool()) {
        m_pulseTimer->start();
    } else {
        m_pulseTimer->stop();
    }
}
