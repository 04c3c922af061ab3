#pragma once

#include <QPushButton>

class QVariantAnimation;

// An icon button whose icon turns while something reloads. When the reload ends, the icon
// completes its current turn instead of snapping back upright.
class RefreshButton : public QPushButton
{
    Q_OBJECT

public:
    explicit RefreshButton(QWidget *parent = nullptr);

    void setSpinning(bool on);
    // The icon's rotation in degrees, 0 to below 360.
    double angle() const { return m_angle; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVariantAnimation *m_animation;
    double m_angle = 0.0;
    bool m_spinning = false;
};
