#pragma once

#include <QHash>
#include <QPersistentModelIndex>
#include <QTimer>
#include <QTreeWidget>

class QVariantAnimation;
class ServerDelegate;

// The locations list: a group row per location with its server rows under it, all painted as
// cards by ServerDelegate. Groups open and close with an animation that grows the server rows'
// height and opacity; the connected server's dot pulses. The tree draws no branches, focus or
// selection of its own.
class ServerTree : public QTreeWidget
{
    Q_OBJECT

public:
    // Data of column 0, shared with the code that fills the tree.
    enum Role
    {
        ServerIdRole = Qt::UserRole, // server id (server rows)
        KindRole,                    // GroupRow or ServerRow
        CountryCodeRole,             // country code (group rows)
        ServerCountRole,             // number of servers as text (group rows)
        ExpansionRole,               // 0.0 to 1.0 once a group has been opened or closed here
        ConnectedRole,               // the connected server, or the group that holds it
        LatencyRole,                 // ms, -1 failed, -2 pending (server rows)
        EndpointRole,                // endpoint (server rows)
    };
    enum Kind
    {
        GroupRow = 1,
        ServerRow = 2,
    };

    explicit ServerTree(QWidget *parent = nullptr);
    ~ServerTree() override;

    void setAppearance(bool light, const QColor &accent);
    // Marks the server with `id` and its group as connected; an empty id clears the marks.
    void setConnectedServer(const QString &id);
    void setGroupExpanded(QTreeWidgetItem *group, bool expand, bool animate);
    // The state the group was last told to reach, which differs from isExpanded() while it
    // closes.
    bool targetExpanded(QTreeWidgetItem *group) const;

    // The group's running open or close animation, if any.
    QVariantAnimation *expandAnimation(QTreeWidgetItem *group) const;
    // The connected server's dot pulses: the rows repaint 30 times a second.
    bool isPulsing() const { return m_pulseTimer->isActive(); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                 const QModelIndex &index) const override;
    void drawBranches(QPainter *, const QRect &, const QModelIndex &) const override {}

private:
    // One frame of an animation: the rows take their new heights at once.
    void applyExpansion(QTreeWidgetItem *group, double progress);
    // Writes the progress to the group and its server rows.
    void setExpansion(QTreeWidgetItem *group, double progress);
    void dropAnimations();
    // The pulse runs only while a connected server is marked and the tree is visible.
    void updatePulse();

    QHash<QPersistentModelIndex, QVariantAnimation *> m_expandAnimations;
    QHash<QPersistentModelIndex, bool> m_expandTargets;
    ServerDelegate *m_delegate;
    QTimer *m_pulseTimer;
};
