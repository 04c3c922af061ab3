#pragma once

#include "ui/theme/themepalette.h"

#include <QAbstractButton>
#include <QColor>

class QVariantAnimation;

// An on/off switch: a rounded track, in the accent colour when on, with a round knob that slides
// to the side of the state. It is a checkable button, so Space toggles it and assistive technology
// reads it as a button with a checked state; the caller gives it its accessible name.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget *parent = nullptr);

    void setAppearance(bool light, const QColor &accent);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    void slideKnob(bool on);

    QVariantAnimation *m_animation;
    ThemePalette m_palette;
    // 0 with the knob at the left (off), 1 at the right (on).
    double m_position = 0.0;
    bool m_keyboardFocus = false;
};
