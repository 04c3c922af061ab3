#include "ui/widgets/toggleswitch.h"

#include "ui/widgets/navbutton.h"

#include <QFocusEvent>
#include <QPainter>
#include <QVariantAnimation>

namespace {

constexpr QSizeF trackSize{40.0, 22.0};
constexpr double knobInset = 3.0;
// The focus ring leaves a hairline of the page between itself and the track.
constexpr double ringGap = 1.0;
constexpr double ringWidth = 2.0;
constexpr double margin = ringGap + ringWidth;
constexpr int slideMs = 150;

} // namespace

ToggleSwitch::ToggleSwitch(QWidget *parent)
    : QAbstractButton(parent)
    , m_animation(new QVariantAnimation(this))
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_animation->setDuration(slideMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_position = value.toDouble();
        update();
    });
    connect(this, &QAbstractButton::toggled, this, &ToggleSwitch::slideKnob);
}

void ToggleSwitch::setAppearance(bool light, const QColor &accent)
{
    m_palette = ThemePalette(light, accent);
    update();
}

QSize ToggleSwitch::sizeHint() const
{
    return (trackSize + QSizeF(2 * margin, 2 * margin)).toSize();
}

void ToggleSwitch::slideKnob(bool on)
{
    m_animation->stop();
    const double target = on ? 1.0 : 0.0;
    // Nobody sees a hidden switch move: it takes its place at once, and no timer runs for it.
    if (!isVisible()) {
        m_position = target;
        update();
        return;
    }
    m_animation->setStartValue(m_position);
    m_animation->setEndValue(target);
    m_animation->start();
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF track(QPointF(), trackSize);
    track.moveCenter(QRectF(rect()).center());
    const double radius = track.height() / 2.0;

    if (hasFocus() && m_keyboardFocus) {
        const double grow = ringGap + ringWidth / 2.0;
        painter.setPen(QPen(m_palette.strong, ringWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-grow, -grow, grow, grow), radius + grow,
                                radius + grow);
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(NavButton::tintAt(m_palette.switchTrack, m_palette.accent, m_position));
    painter.drawRoundedRect(track, radius, radius);

    // On the accent the knob takes the colour of text on accent buttons.
    const double knob = track.height() - 2 * knobInset;
    const double travel = track.width() - 2 * knobInset - knob;
    painter.setBrush(NavButton::tintAt(m_palette.mutedIcon, m_palette.onAccent, m_position));
    painter.drawEllipse(QRectF(track.left() + knobInset + travel * m_position,
                               track.top() + knobInset, knob, knob));
}

void ToggleSwitch::focusInEvent(QFocusEvent *event)
{
    // The ring is for keyboard users; whoever clicked knows where they are. A window or popup
    // giving the focus back keeps the ring as it was.
    switch (event->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        m_keyboardFocus = true;
        break;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
        break;
    default:
        m_keyboardFocus = false;
        break;
    }
    QAbstractButton::focusInEvent(event);
}
