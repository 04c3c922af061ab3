#include "ui/widgets/guidedtouroverlay.h"

#include "ui/theme/themepalette.h"
#include "ui/widgetfactory.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addButton;
using widgetfactory::addLabel;

namespace {

constexpr int edgeGap = 18;
constexpr int highlightGrowth = 7;
constexpr int cutOutRadius = 12;
constexpr int minimumBubbleWidth = 280;
constexpr int maximumBubbleWidth = 390;
constexpr int bubbleSideMargins = 40;

const QString bubbleStyle =
    u"QFrame#tourBubble { background:%1; border:0; border-radius:14px; } "
    u"QLabel#tourTitle { color:%3; font-size:19px; font-weight:600; } "
    u"QLabel#tourDescription { color:%4; font-size:14px; } "
    u"QLabel#tourProgress { color:%4; font-size:12px; } "
    u"QPushButton#tourSkip { background:transparent; border:0; color:%4; padding:9px 10px; } "
    u"QPushButton#tourSkip:hover { color:%3; } "
    u"QPushButton#tourNext { background:%2; border:0; border-radius:8px; color:%5; "
    u"font-weight:600; padding:9px 16px; }"_s;

// Run from a copy: the callback may show the next step, which replaces the stored one.
void run(std::function<void()> callback)
{
    if (callback) {
        callback();
    }
}

} // namespace

GuidedTourOverlay::GuidedTourOverlay(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(parent->rect());
    parent->installEventFilter(this);

    m_bubble = new QFrame(this);
    m_bubble->setObjectName(u"tourBubble"_s);
    auto *layout = new QVBoxLayout(m_bubble);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);
    m_title = addLabel(QString(), layout, u"tourTitle"_s);
    m_title->setWordWrap(false);
    m_description = addLabel(QString(), layout, u"tourDescription"_s);
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    m_progress = addLabel(QString(), row, u"tourProgress"_s);
    m_progress->setWordWrap(false);
    row->setStretchFactor(m_progress, 1);
    m_skip = addButton(
        u"Skip tour"_s, row, this, [this] { run(m_onSkip); }, u"tourSkip"_s);
    m_next = addButton(
        QString(), row, this, [this] { run(m_onNext); }, u"tourNext"_s);
    m_next->setDefault(true);
    layout->addLayout(row);
    hide();
}

GuidedTourOverlay::~GuidedTourOverlay() = default;

void GuidedTourOverlay::setStep(QWidget *target, const QString &title, const QString &description,
                                const QString &progress, const QString &nextText,
                                std::function<void()> onNext, std::function<void()> onSkip,
                                const QColor &accent, bool light)
{
    m_target = target;
    m_palette = ThemePalette(light, accent);
    m_title->setText(title);
    m_description->setText(description);
    m_progress->setText(progress);
    m_next->setText(nextText);
    m_onNext = std::move(onNext);
    m_onSkip = std::move(onSkip);
    m_bubble->setStyleSheet(bubbleStyle.arg(m_palette.card.name(), m_palette.accent.name(),
                                            m_palette.fieldText.name(), m_palette.mutedText.name(),
                                            m_palette.onAccentIcon.name()));
    layoutBubble();
    update();
    show();
    raise();
    m_next->setFocus();
}

QRect GuidedTourOverlay::highlight() const
{
    if (!m_target || !m_target->isVisible()) {
        return {};
    }
    const QRect target(mapFromGlobal(m_target->mapToGlobal(QPoint(0, 0))), m_target->size());
    return target.adjusted(-highlightGrowth, -highlightGrowth, highlightGrowth, highlightGrowth)
        .intersected(rect());
}

bool GuidedTourOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return QWidget::eventFilter(watched, event);
}

void GuidedTourOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    m_highlightRect = highlight();
    // Odd-even filling leaves the cut-out undimmed.
    QPainterPath dimmed;
    dimmed.addRect(rect());
    if (!m_highlightRect.isEmpty()) {
        dimmed.addRoundedRect(m_highlightRect, cutOutRadius, cutOutRadius);
    }
    painter.fillPath(dimmed, m_palette.tourDim);
    if (!m_highlightRect.isEmpty()) {
        painter.setPen(QPen(m_palette.accent, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(m_highlightRect, cutOutRadius, cutOutRadius);
    }
}

void GuidedTourOverlay::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutBubble();
}

void GuidedTourOverlay::layoutBubble()
{
    const int overlayWidth = width();
    const int overlayHeight = height();
    const int bubbleWidth =
        std::min(std::max(overlayWidth - 2 * edgeGap, minimumBubbleWidth), maximumBubbleWidth);
    m_bubble->setFixedWidth(bubbleWidth);
    // The style sheet sets the description's font: measure with it, free of the previous step's
    // fixed height, which the label's measurement would keep.
    m_description->ensurePolished();
    m_description->setMinimumHeight(0);
    m_description->setMaximumHeight(QWIDGETSIZE_MAX);
    m_description->setFixedHeight(
        std::max(m_description->heightForWidth(bubbleWidth - bubbleSideMargins),
                 m_description->fontMetrics().height()));
    m_bubble->layout()->activate();
    const int bubbleHeight = m_bubble->layout()->sizeHint().height();
    m_bubble->setFixedHeight(bubbleHeight);

    const QRect highlighted = highlight();
    int x = (overlayWidth - bubbleWidth) / 2;
    int y = (overlayHeight - bubbleHeight) / 2;
    if (!highlighted.isEmpty()) {
        y = highlighted.y() + highlighted.height() + edgeGap;
        if (y + bubbleHeight > overlayHeight - edgeGap) {
            y = highlighted.y() - edgeGap - bubbleHeight;
        }
        x = highlighted.center().x() - bubbleWidth / 2;
    }
    y = std::max(std::min(y, overlayHeight - edgeGap - bubbleHeight), edgeGap);
    x = std::max(std::min(x, overlayWidth - edgeGap - bubbleWidth), edgeGap);
    m_bubble->move(x, y);
}
