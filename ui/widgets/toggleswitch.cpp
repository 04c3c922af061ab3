#include "ui/widgets/toggleswitch.h"

#include "settings/settingskeys.h"
#include "ui/theme/themepalette.h"
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

QColor offTrackColour(bool light)
{
    return light ? QColor(0xd3, 0xdb, 0xde) : QColor(0x3a, 0x48, 0x51);
}

} // namespace

ToggleSwitch::ToggleSwitch(QWidget *parent)
    : QAbstractButton(parent)
    , m_animation(new QVariantAnimation(this))
    , m_accent(QLatin1String(settings::defaultAccent))
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
    m_light = light;
    m_accent = accent;
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
    const ThemePalette palette(m_light, m_accent);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF track(QPointF(), trackSize);
    track.moveCenter(QRectF(rect()).center());
    const double radius = track.height() / 2.0;

    if (hasFocus() && m_keyboardFocus) {
        const double grow = ringGap + ringWidth / 2.0;
        painter.setPen(QPen(palette.strong, ringWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-grow, -grow, grow, grow), radius + grow,
                                radius + grow);
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(NavButton::tintAt(offTrackColour(m_light), m_accent, m_position));
    painter.drawRoundedRect(track, radius, radius);

    // On the accent the knob takes the colour of text on accent buttons.
    const double knob = track.height() - 2 * knobInset;
    const double travel = track.width() - 2 * knobInset - knob;
    painter.setBrush(NavButton::tintAt(palette.mutedIcon, m_accent.darker(240), m_position));
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
