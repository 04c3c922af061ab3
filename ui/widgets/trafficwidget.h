#pragma once

#include "platform/interfacecounters.h"
#include "ui/theme/themepalette.h"

#include <QColor>
#include <QList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QTimer;

// The live chart of the VPN adapter's download and upload rate over the last minute, read from
// the operating system's interface counters once a second. Hidden and idle until activated.
class TrafficWidget : public QWidget
{
    Q_OBJECT

public:
    // One second's rates in bytes per second.
    struct Sample
    {
        double down = 0.0;
        double up = 0.0;
    };
    using CounterSource = std::function<std::optional<platform::InterfaceCounters>()>;
    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;

    // An empty `counters` reads the VPN adapter through the OS seam; an empty `clock` is the
    // system's monotonic clock.
    explicit TrafficWidget(QWidget *parent = nullptr, CounterSource counters = {},
                           Clock clock = {});

    void setActive(bool on);
    void setAppearance(bool light, const QColor &accent);
    // A synthetic wave for the preview and capture modes, with no adapter behind it.
    void showPreview();

    // Reads the adapter once; the sample timer calls it every second.
    void sample();
    // Glides the displayed scale a tenth of the way to the target; the animation timer's tick.
    void easeScale();

    bool isActive() const { return m_active; }
    bool rateValid() const { return m_rateValid; }
    double downRate() const { return m_downRate; }
    double upRate() const { return m_upRate; }
    double targetScale() const { return m_targetScale; }
    double displayScale() const { return m_displayScale; }
    const QList<Sample> &samples() const { return m_samples; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void resetHistory();
    void updateDescription();
    void paintTexts(QPainter &painter, const QColor &download, const QColor &upload);
    void paintCurves(QPainter &painter, const QRectF &chart, const QColor &download,
                     const QColor &upload);

    CounterSource m_counters;
    Clock m_clock;
    QTimer *m_sampleTimer;
    QTimer *m_animationTimer;

    bool m_active = false;
    bool m_hasBaseline = false;
    bool m_rateValid = false;
    ThemePalette m_palette;
    std::uint64_t m_lastIdentifier = 0;
    std::uint64_t m_lastInOctets = 0;
    std::uint64_t m_lastOutOctets = 0;
    double m_downRate = 0.0;
    double m_upRate = 0.0;
    QList<Sample> m_samples;
    double m_targetScale;
    double m_displayScale;
    // When the two stopwatches were last restarted, on m_clock.
    qint64 m_sinceSampleStart = 0;
    qint64 m_sampleIntervalStart = 0;
};
