#include "ui/widgets/refreshbutton.h"

#include "ui/widgets/navbutton.h"

#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double fullTurn = 360.0;
constexpr int turnMs = 850;
// Completing a turn from nearly upright would otherwise look like a twitch.
constexpr int shortestSettleMs = 200;

} // namespace

RefreshButton::RefreshButton(QWidget *parent)
    : QPushButton(parent)
    , m_animation(new QVariantAnimation(this))
{
    setObjectName(u"iconButton"_s);
    setCursor(Qt::PointingHandCursor);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = std::fmod(value.toDouble(), fullTurn);
        update();
    });
    connect(m_animation, &QAbstractAnimation::finished, this, [this] {
        m_angle = 0.0;
        update();
    });
}

void RefreshButton::setSpinning(bool on)
{
    if (on == m_spinning) {
        return;
    }
    m_spinning = on;
    // Stopping the endless spin reports it finished, which resets the angle; the next animation
    // must start from where the icon is now.
    const double from = m_angle;
    m_animation->stop();
    m_animation->setStartValue(from);
    if (on) {
        m_animation->setEndValue(from + fullTurn);
        m_animation->setDuration(turnMs);
        m_animation->setLoopCount(-1);
        m_animation->setEasingCurve(QEasingCurve::Linear);
    } else {
        const int remainingMs = int(std::lround((fullTurn - from) * turnMs / fullTurn));
        m_animation->setEndValue(fullTurn);
        m_animation->setDuration(std::max(remainingMs, shortestSettleMs));
        m_animation->setLoopCount(1);
        m_animation->setEasingCurve(QEasingCurve::OutCubic);
    }
    m_animation->start();
}

void RefreshButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // A plain icon on the page: no hover, focus or pressed look competes with the turning icon.
    option.state &= ~(QStyle::State_MouseOver | QStyle::State_HasFocus | QStyle::State_On |
                      QStyle::State_Sunken);
    option.icon = QIcon();
    painter.drawPrimitive(QStyle::PE_PanelButtonCommand, option);

    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(QRectF(rect()).center());
    painter.rotate(m_angle);
    NavButton::drawCentredIcon(painter, *this);
}
