#pragma once

#include "ui/theme/themepalette.h"

#include <QColor>
#include <QElapsedTimer>
#include <QStyledItemDelegate>

// Paints the rows of the locations tree as rounded cards: a group with its flag (or a globe),
// name, server count and a chevron that turns as the group opens; a server with a status dot
// that pulses while connected, its address and its latency. A row without a kind, such as the
// "no servers" placeholder, is painted as a server. Server rows shrink and fade with the
// expansion progress of their group.
class ServerDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ServerDelegate(QObject *parent = nullptr);

    void setAppearance(bool light, const QColor &accent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The latency shown for a server row's latency data: milliseconds, -1 for a failed probe;
    // anything else (not yet measured, pending) is shown as still waiting.
    static QString latencyText(const QVariant &latency);

private:
    QElapsedTimer m_pulseClock;
    ThemePalette m_palette;
};
