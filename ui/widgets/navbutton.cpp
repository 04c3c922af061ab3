#include "ui/widgets/navbutton.h"

#include "ui/theme/iconloader.h"
#include "ui/theme/icontint.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVariantAnimation>

#include <cmath>
#include <numbers>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int highlightMs = 420;
constexpr double globeWobbleDegrees = 18.0;
// Negative: the gear first turns back, against the globe's direction.
constexpr double gearTurnDegrees = -12.0;
constexpr double hopPx = 2.5;
constexpr double growth = 0.16;

} // namespace

NavButton::NavButton(QWidget *parent)
    : QPushButton(parent)
    , m_animation(new QVariantAnimation(this))
{
    m_animation->setDuration(highlightMs);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toDouble();
        refreshNavIcon();
        update();
    });
    connect(m_animation, &QAbstractAnimation::finished, this, [this] {
        m_progress = m_active ? 1.0 : 0.0;
        refreshNavIcon();
        update();
    });
}

void NavButton::setColours(const QColor &normal, const QColor &hover)
{
    m_normalColour = normal;
    m_hoverColour = hover;
    refreshNavIcon();
}

void NavButton::setActive(bool active)
{
    if (active == m_active) {
        return;
    }
    m_active = active;
    m_animation->stop();
    m_progress = 0.0;
    refreshNavIcon();
    if (active) {
        m_animation->start();
    }
    update();
}

void NavButton::refreshNavIcon()
{
    if (!m_normalColour.isValid() || !m_hoverColour.isValid()) {
        return;
    }
    const QString name = icontint::iconName(this);
    const int size = icontint::iconSize(this);
    if (name.isEmpty() || size < 1) {
        return;
    }
    const QColor tint = tintAt(m_normalColour, m_hoverColour, m_active ? m_progress : 0.0);
    setIcon(loadIcon(name, tint, size));
}

QColor NavButton::tintAt(const QColor &normal, const QColor &hover, double progress)
{
    const auto channel = [progress](int from, int to) {
        return int(std::lround(from + (to - from) * progress));
    };
    return QColor(channel(normal.red(), hover.red()), channel(normal.green(), hover.green()),
                  channel(normal.blue(), hover.blue()), channel(normal.alpha(), hover.alpha()));
}

QTransform NavButton::iconTransform(const QString &iconName, double progress)
{
    const double swell = std::sin(progress * std::numbers::pi);
    double amplitude = 0.0;
    if (iconName == u"globe"_s) {
        amplitude = globeWobbleDegrees;
    } else if (iconName == u"settings-2"_s) {
        amplitude = gearTurnDegrees;
    }
    QTransform transform;
    if (iconName == u"user-round"_s) {
        transform.translate(0.0, -hopPx * swell);
    }
    // The swing dies out as the highlight completes, so the icon settles upright.
    transform.rotate(std::sin(progress * 2.0 * std::numbers::pi) * amplitude * (1.0 - progress));
    transform.scale(1.0 + growth * swell, 1.0 + growth * swell);
    return transform;
}

void NavButton::drawCentredIcon(QPainter &painter, const QAbstractButton &button)
{
    const QSizeF size = button.iconSize();
    const QPixmap pixmap =
        button.icon().pixmap(button.iconSize(), button.devicePixelRatioF(),
                             button.isEnabled() ? QIcon::Normal : QIcon::Disabled);
    painter.drawPixmap(QRectF(QPointF(-size.width() / 2.0, -size.height() / 2.0), size), pixmap,
                       QRectF(pixmap.rect()));
}

void NavButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The rail marks the current page with its own indicator, not a focus frame, and the icon
    // is drawn below with its animation.
    option.state &= ~QStyle::State_HasFocus;
    option.icon = QIcon();
    painter.drawPrimitive(QStyle::PE_PanelButtonCommand, option);

    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(QRectF(rect()).center());
    painter.setTransform(iconTransform(icontint::iconName(this), m_progress), true);
    drawCentredIcon(painter, *this);
}
