#include "ui/widgets/appearancechoicedelegate.h"

#include "ui/theme/uifont.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

constexpr QSize choiceSize{160, 40};
constexpr int selectedAlpha = 40;
constexpr int hoveredAlpha = 22;
constexpr qreal pillRadius = 8.0;
constexpr int textInset = 12;

} // namespace

AppearanceChoiceDelegate::AppearanceChoiceDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{}

void AppearanceChoiceDelegate::setAppearance(bool light, const QColor &accent)
{
    m_palette = ThemePalette(light, accent);
}

void AppearanceChoiceDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                     const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (selected || option.state.testFlag(QStyle::State_MouseOver)) {
        QColor fill = m_palette.accent;
        fill.setAlpha(selected ? selectedAlpha : hoveredAlpha);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        // One pixel off at top and bottom keeps neighbouring pills apart.
        painter->drawRoundedRect(QRectF(option.rect.adjusted(0, 1, 0, -1)), pillRadius, pillRadius);
    }
    const QFont font = uiFont(13, 400);
    painter->setFont(font);
    painter->setPen(m_palette.fieldText);
    const QString text =
        QFontMetrics(font).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                      option.rect.width() - 2 * textInset);
    painter->drawText(option.rect.adjusted(textInset, 0, -textInset, 0),
                      Qt::AlignLeft | Qt::AlignVCenter, text);
    painter->restore();
}

QSize AppearanceChoiceDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return choiceSize;
}
