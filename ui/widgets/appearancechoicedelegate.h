#pragma once

#include "ui/theme/themepalette.h"

#include <QColor>
#include <QStyledItemDelegate>

// Paints one choice of an appearance chooser's list: a soft accent-tinted pill behind the
// hovered or selected choice and its name in the theme's text colour.
class AppearanceChoiceDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit AppearanceChoiceDelegate(QObject *parent = nullptr);

    void setAppearance(bool light, const QColor &accent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    ThemePalette m_palette;
};
