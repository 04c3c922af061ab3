#pragma once

#include "ui/theme/themepalette.h"

#include <QColor>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;

// One step of the guided tour drawn over the whole window: everything but a rounded cut-out
// around the target is dimmed, and a bubble beside the cut-out explains it. It follows its
// parent's size; the tour decides what the buttons do.
class GuidedTourOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit GuidedTourOverlay(QWidget *parent);
    ~GuidedTourOverlay() override;

    // Shows the step: texts, the bubble coloured for the theme and accent, the cut-out around
    // `target` (none when it is null or hidden), then shows the overlay on top of its siblings.
    void setStep(QWidget *target, const QString &title, const QString &description,
                 const QString &progress, const QString &nextText, std::function<void()> onNext,
                 std::function<void()> onSkip, const QColor &accent, bool light);

    // The target's rectangle grown by 7 px and clipped to the overlay; empty without a visible
    // target.
    QRect highlight() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutBubble();

    QPointer<QWidget> m_target;
    QFrame *m_bubble = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_description = nullptr;
    QLabel *m_progress = nullptr;
    QPushButton *m_skip = nullptr;
    QPushButton *m_next = nullptr;
    QRect m_highlightRect;
    ThemePalette m_palette;
    std::function<void()> m_onNext;
    std::function<void()> m_onSkip;
};
