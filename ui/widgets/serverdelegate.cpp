#include "ui/widgets/serverdelegate.h"

#include "ui/theme/iconloader.h"
#include "ui/theme/themepalette.h"
#include "ui/theme/uifont.h"
#include "ui/widgets/servertree.h"

#include <QFile>
#include <QFontMetrics>
#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rowWidth = 260;
constexpr int groupHeight = 62;
constexpr int serverHeight = 46;
constexpr int cardInsetX = 4;
constexpr int cardInsetY = 3;
constexpr qreal cardRadius = 9.0;
constexpr QSize flagSize{28, 21};
constexpr qreal flagRadius = 2.0;
constexpr int globeSize = 20;
constexpr int chevronSize = 16;
constexpr double pulsePeriodMs = 2200.0;

// Flags are loaded once per country code for the whole process; a code without a flag is
// remembered too, so it is not looked up again on every repaint.
QHash<QString, QIcon> &flagCache()
{
    static QHash<QString, QIcon> flags;
    return flags;
}

QIcon flagIcon(const QString &code)
{
    auto found = flagCache().find(code);
    if (found == flagCache().end()) {
        // Checked first because the SVG engine warns about a missing file.
        const QString path = u":/flags/"_s + code + u".svg"_s;
        found = flagCache().insert(code, QFile::exists(path) ? QIcon(path) : QIcon());
    }
    return *found;
}

void drawGroupIcon(QPainter *painter, const QRect &card, const QString &code,
                   const ThemePalette::Rows &colours)
{
    const QIcon flag = code.isEmpty() ? QIcon() : flagIcon(code);
    if (flag.isNull()) {
        loadIcon(u"globe"_s, colours.globe, globeSize)
            .paint(painter, QRect(card.left() + 21, card.top() + (card.height() - globeSize) / 2,
                                  globeSize, globeSize));
        return;
    }
    const QRect flagRect(
        QPoint(card.left() + 17, card.top() + (card.height() - flagSize.height()) / 2), flagSize);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(flagRect), flagRadius, flagRadius);
    painter->save();
    painter->setClipPath(rounded, Qt::IntersectClip);
    flag.paint(painter, flagRect, Qt::AlignCenter);
    painter->restore();
}

void drawStatusDot(QPainter *painter, const QPointF &centre, bool connected, double phase,
                   const ThemePalette::Rows &colours)
{
    painter->setPen(Qt::NoPen);
    if (!connected) {
        painter->setBrush(colours.idleDot);
        painter->drawEllipse(centre, 3.0, 3.0);
        return;
    }
    QColor halo = colours.connectedDot;
    halo.setAlpha(int(std::lround(24 + 24 * phase)));
    painter->setBrush(halo);
    const double haloRadius = 5 + 2 * phase;
    painter->drawEllipse(centre, haloRadius, haloRadius);
    painter->setBrush(colours.connectedDot);
    const double dotRadius = 3 + 0.5 * phase;
    painter->drawEllipse(centre, dotRadius, dotRadius);
}

void drawChevron(QPainter *painter, const QRect &card, double progress, const QColor &colour)
{
    painter->save();
    painter->translate(QPointF(card.left() + card.width() - 18, QRectF(card).center().y()));
    painter->rotate(90 * progress);
    const QPixmap chevron =
        loadIcon(u"chevron-right"_s, colour, chevronSize)
            .pixmap(QSize(chevronSize, chevronSize), painter->device()->devicePixelRatio());
    painter->drawPixmap(QPointF(-chevronSize / 2.0, -chevronSize / 2.0), chevron);
    painter->restore();
}

} // namespace

ServerDelegate::ServerDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
    m_pulseClock.start();
}

void ServerDelegate::setAppearance(bool light, const QColor &accent)
{
    m_palette = ThemePalette(light, accent);
}

QString ServerDelegate::latencyText(const QVariant &latency)
{
    if (!latency.isValid()) {
        return u"\u2026"_s;
    }
    const int ms = latency.toInt();
    if (ms >= 0) {
        return u"%1 ms"_s.arg(ms);
    }
    return ms == -1 ? u"\u2014"_s : u"\u2026"_s;
}

void ServerDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                           const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                            QPainter::SmoothPixmapTransform);
    painter->setClipRect(option.rect);

    const bool group = index.data(ServerTree::KindRole).toInt() == ServerTree::GroupRow;
    const QVariant progress = index.data(ServerTree::ExpansionRole);
    QRect content = option.rect;
    if (!group) {
        if (progress.isValid()) {
            painter->setOpacity(progress.toDouble());
        }
        // A shrinking row shows the middle of its full-height card.
        content =
            QRect(option.rect.left(), option.rect.top() + (option.rect.height() - serverHeight) / 2,
                  option.rect.width(), serverHeight);
    }
    const QRect card = content.adjusted(cardInsetX, cardInsetY, -cardInsetX, -cardInsetY);
    const ThemePalette::Rows &colours = m_palette.rows;
    painter->setPen(Qt::NoPen);
    painter->setBrush(colours.card);
    painter->drawRoundedRect(QRectF(card), cardRadius, cardRadius);

    const int x0 = card.left();
    const int cardRight = card.left() + card.width();
    int textOffset = 0;
    if (group) {
        drawGroupIcon(painter, card, index.data(ServerTree::CountryCodeRole).toString().toLower(),
                      colours);
        textOffset = 60;
    } else {
        const double phase = 0.5 - 0.5 * std::cos(2 * std::numbers::pi *
                                                  double(m_pulseClock.elapsed()) / pulsePeriodMs);
        drawStatusDot(painter, QPointF(x0 + 29, QRectF(card).center().y() + 1),
                      index.data(ServerTree::ConnectedRole).toBool(), phase, colours);
        textOffset = 45;
    }

    const QFont textFont = group ? uiFont(14, 500) : uiFont(13, 400);
    painter->setFont(textFont);
    painter->setPen(colours.text);
    const int textWidth = std::max(0, cardRight - (group ? 42 : 65) - (x0 + textOffset));
    const QString text = QFontMetrics(textFont).elidedText(index.data(Qt::DisplayRole).toString(),
                                                           Qt::ElideRight, textWidth);
    painter->drawText(QRect(x0 + textOffset, card.top(), textWidth, card.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, text);

    if (group) {
        painter->setFont(uiFont(12, 400));
        painter->setPen(colours.count);
        painter->drawText(card.adjusted(0, 0, -36, 0), Qt::AlignRight | Qt::AlignVCenter,
                          index.data(ServerTree::ServerCountRole).toString());
        const double open = progress.isValid()                          ? progress.toDouble()
                            : option.state.testFlag(QStyle::State_Open) ? 1.0
                                                                        : 0.0;
        drawChevron(painter, card, open, colours.count);
    } else {
        painter->setFont(uiFont(11, 400));
        painter->setPen(colours.latency);
        painter->drawText(card.adjusted(card.width() - 64, 0, -10, 0),
                          Qt::AlignRight | Qt::AlignVCenter,
                          latencyText(index.data(ServerTree::LatencyRole)));
    }
    painter->restore();
}

QSize ServerDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    if (index.data(ServerTree::KindRole).toInt() == ServerTree::GroupRow) {
        return {rowWidth, groupHeight};
    }
    const QVariant progress = index.data(ServerTree::ExpansionRole);
    const double p = progress.isValid() ? progress.toDouble() : 1.0;
    return {rowWidth, int(std::lround(serverHeight * p))};
}
