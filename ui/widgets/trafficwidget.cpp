#include "ui/widgets/trafficwidget.h"

#include "common/tunnelcontract.h"
#include "ui/ratetext.h"
#include "ui/theme/uifont.h"

#include <QElapsedTimer>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// 61 points span the chart's 60 one-second intervals.
constexpr qsizetype sampleCount = 61;
constexpr int sampleMs = 1000;
constexpr int animationMs = 33;
// Full scale never drops below 1 KB/s, so an idle tunnel lies flat on the bottom line.
constexpr double smallestScale = 1000.0;
constexpr double headroom = 1.15;
constexpr double easing = 0.1;
// The synthetic wave's amplitudes; its full scale is the download amplitude.
constexpr double previewDownAmplitude = 2'300'000.0;
constexpr double previewUpAmplitude = 850'000.0;

constexpr int margin = 20;
constexpr int chartTop = 66;
constexpr int chartHeight = 52;

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

// One series as a smooth curve: each segment leaves and arrives horizontally.
QPainterPath curvePath(const QList<TrafficWidget::Sample> &samples,
                       double TrafficWidget::Sample::*series, const QRectF &chart, double phase,
                       double scale)
{
    const double dx = chart.width() / double(sampleCount - 1);
    QPainterPath path;
    QPointF previous;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const double share = std::clamp(samples[i].*series / std::max(scale, 1.0), 0.0, 1.0);
        const QPointF point(chart.left() + (double(i) - phase) * dx,
                            chart.bottom() - chart.height() * share);
        if (i == 0) {
            path.moveTo(point);
        } else {
            const double mid = (previous.x() + point.x()) / 2.0;
            path.cubicTo(QPointF(mid, previous.y()), QPointF(mid, point.y()), point);
        }
        previous = point;
    }
    return path;
}

} // namespace

TrafficWidget::TrafficWidget(QWidget *parent, CounterSource counters, Clock clock)
    : QWidget(parent)
    , m_counters(std::move(counters))
    , m_clock(std::move(clock))
    , m_sampleTimer(new QTimer(this))
    , m_animationTimer(new QTimer(this))
{
    if (!m_counters) {
        m_counters = [] { return platform::readInterfaceCounters(tunnelcontract::adapterAlias); };
    }
    if (!m_clock) {
        QElapsedTimer monotonic;
        monotonic.start();
        m_clock = [monotonic] { return monotonic.elapsed(); };
    }
    m_sampleTimer->setObjectName(u"sampleTimer"_s);
    m_sampleTimer->setInterval(sampleMs);
    connect(m_sampleTimer, &QTimer::timeout, this, &TrafficWidget::sample);
    m_animationTimer->setObjectName(u"animationTimer"_s);
    m_animationTimer->setInterval(animationMs);
    connect(m_animationTimer, &QTimer::timeout, this, &TrafficWidget::easeScale);

    setObjectName(u"trafficChart"_s);
    setAccessibleName(u"Live VPN traffic"_s);
    setToolTip(u"SolvikVPN adapter traffic · download is solid, upload is dashed"_s);
    setFixedHeight(136);
    setMinimumWidth(0);
    setMaximumWidth(620);
    resetHistory();
    hide();
}

void TrafficWidget::setActive(bool on)
{
    if (on == m_active) {
        return;
    }
    m_active = on;
    setVisible(on);
    m_sampleTimer->stop();
    m_animationTimer->stop();
    resetHistory();
    if (on) {
        m_sinceSampleStart = m_sampleIntervalStart = m_clock();
        sample();
        m_sampleTimer->start();
        if (isVisible()) {
            m_animationTimer->start();
        }
    }
    update();
}

void TrafficWidget::setAppearance(bool light, const QColor &accent)
{
    m_palette = ThemePalette(light, accent);
    update();
}

void TrafficWidget::showPreview()
{
    setActive(true);
    m_sampleTimer->stop();
    m_rateValid = true;
    for (qsizetype i = 0; i < sampleCount; ++i) {
        const double t = double(i);
        const double down = std::pow(std::sin(0.13 * t), 4) * 0.4 + std::sin(0.31 * t) * 0.2 + 0.25;
        const double up = std::sin(0.45 * t) * 0.12 + 0.18;
        m_samples[i] = {down * previewDownAmplitude, up * previewUpAmplitude};
    }
    m_downRate = m_samples.last().down;
    m_upRate = m_samples.last().up;
    m_targetScale = m_displayScale = previewDownAmplitude;
    updateDescription();
    update();
}

void TrafficWidget::sample()
{
    if (!m_active) {
        return;
    }
    // A missing or stopped adapter skips the second and keeps the chart as it was; the next
    // reading only rebuilds the baseline.
    const std::optional<platform::InterfaceCounters> counters = m_counters();
    if (!counters || !counters->up) {
        m_hasBaseline = false;
        update();
        return;
    }
    const qint64 now = m_clock();
    const qint64 elapsed = now - m_sampleIntervalStart;
    m_sampleIntervalStart = now;

    // A recreated adapter or counters that went backwards would otherwise show a huge spike.
    m_rateValid = m_hasBaseline && counters->identifier == m_lastIdentifier &&
                  counters->receivedOctets >= m_lastInOctets &&
                  counters->sentOctets >= m_lastOutOctets && elapsed >= 1;
    if (m_rateValid) {
        m_downRate = double(counters->receivedOctets - m_lastInOctets) * 1000.0 / double(elapsed);
        m_upRate = double(counters->sentOctets - m_lastOutOctets) * 1000.0 / double(elapsed);
    } else {
        m_downRate = 0.0;
        m_upRate = 0.0;
    }
    m_lastInOctets = counters->receivedOctets;
    m_lastOutOctets = counters->sentOctets;
    m_lastIdentifier = counters->identifier;
    m_hasBaseline = true;

    m_samples.append({m_downRate, m_upRate});
    while (m_samples.size() > sampleCount) {
        m_samples.removeFirst();
    }
    m_targetScale = smallestScale;
    for (const Sample &entry : std::as_const(m_samples)) {
        m_targetScale = std::max(m_targetScale, std::max(entry.down, entry.up) * headroom);
    }
    m_sinceSampleStart = now;
    updateDescription();
    update();
}

void TrafficWidget::easeScale()
{
    m_displayScale += (m_targetScale - m_displayScale) * easing;
    if (isVisible()) {
        update();
    }
}

void TrafficWidget::resetHistory()
{
    m_hasBaseline = false;
    // Rates from an earlier connection must not show before this one is measured.
    m_rateValid = false;
    m_lastInOctets = 0;
    m_lastOutOctets = 0;
    m_lastIdentifier = 0;
    m_downRate = 0.0;
    m_upRate = 0.0;
    m_targetScale = smallestScale;
    m_displayScale = smallestScale;
    m_samples.fill(Sample{}, sampleCount);
    updateDescription();
}

void TrafficWidget::updateDescription()
{
    setAccessibleDescription(
        m_rateValid ? u"Download %1, upload %2"_s.arg(formatRate(m_downRate), formatRate(m_upRate))
                    : u"Measuring VPN adapter traffic"_s);
}

void TrafficWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_active) {
        m_animationTimer->start();
    }
}

void TrafficWidget::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Nobody sees the scale glide: a window hidden in the tray costs nothing.
    m_animationTimer->stop();
}

void TrafficWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_palette.chart.panel);
    painter.drawRoundedRect(QRectF(rect()), 14.0, 14.0);

    const QColor &download = m_palette.chart.download;
    const QColor &upload = m_palette.chart.upload;
    paintTexts(painter, download, upload);

    const QRectF chart(margin, chartTop, std::max(1, width() - 2 * margin), chartHeight);
    painter.save();
    painter.setClipRect(chart.adjusted(-1.0, -2.0, 1.0, 1.0));
    painter.setPen(QPen(withAlpha(m_palette.chart.muted, 26), 1.0));
    for (const double y : {chart.top(), chart.center().y(), chart.bottom()}) {
        painter.drawLine(QPointF(chart.left(), y), QPointF(chart.right(), y));
    }
    if (m_rateValid && m_samples.size() >= 2) {
        paintCurves(painter, chart, download, upload);
    }
    painter.restore();
}

void TrafficWidget::paintTexts(QPainter &painter, const QColor &download, const QColor &upload)
{
    const int w = width();
    const QRect heading(margin, 12, w - 2 * margin, 20);
    painter.setFont(uiFont(13, 500));
    painter.setPen(m_palette.chart.title);
    painter.drawText(heading, Qt::AlignLeft | Qt::AlignVCenter, u"Traffic"_s);
    painter.setFont(uiFont(11, 400));
    painter.setPen(m_palette.chart.muted);
    painter.drawText(heading, Qt::AlignRight | Qt::AlignVCenter, u"Last 60 seconds"_s);

    painter.setFont(uiFont(12, 400));
    painter.setPen(download);
    const QRect downRect(margin, 35, w / 2 - margin, 20);
    if (!m_rateValid) {
        painter.drawText(downRect, Qt::AlignLeft | Qt::AlignVCenter, u"Measuring\u2026"_s);
        return;
    }
    painter.drawText(downRect, Qt::AlignLeft | Qt::AlignVCenter,
                     u"\u2193 %1"_s.arg(formatRate(m_downRate)));
    painter.setPen(upload);
    painter.drawText(QRect(w / 2, 35, w / 2 - margin, 20), Qt::AlignRight | Qt::AlignVCenter,
                     u"\u2191 %1"_s.arg(formatRate(m_upRate)));
}

void TrafficWidget::paintCurves(QPainter &painter, const QRectF &chart, const QColor &download,
                                const QColor &upload)
{
    // The curve scrolls left between samples; the newest point reaches the right edge just
    // before the next one arrives.
    const double phase = std::clamp(double(m_clock() - m_sinceSampleStart) / 1000.0, 0.0, 1.0);
    const QPainterPath downPath = curvePath(m_samples, &Sample::down, chart, phase, m_displayScale);
    const QPainterPath upPath = curvePath(m_samples, &Sample::up, chart, phase, m_displayScale);

    QPainterPath area = downPath;
    area.lineTo(chart.bottomRight());
    area.lineTo(chart.bottomLeft());
    area.closeSubpath();
    QLinearGradient fade(chart.topLeft(), chart.bottomLeft());
    fade.setColorAt(0.0, withAlpha(download, 55));
    fade.setColorAt(1.0, withAlpha(download, 0));
    painter.fillPath(area, fade);

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(download, 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(downPath);
    painter.setPen(QPen(upload, 1.5, Qt::DashLine, Qt::RoundCap));
    painter.drawPath(upPath);
}
