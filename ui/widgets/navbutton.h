#pragma once

#include <QColor>
#include <QPushButton>
#include <QTransform>

class QAbstractButton;
class QPainter;
class QVariantAnimation;

// A navigation rail button. Its icon, given through icontint::setIcon, brightens from the normal
// towards the hover colour while the button becomes active, and briefly wobbles, turns or hops.
class NavButton : public QPushButton
{
    Q_OBJECT

public:
    explicit NavButton(QWidget *parent = nullptr);

    // The icon's tint when inactive and when fully highlighted; re-tints the icon at once.
    void setColours(const QColor &normal, const QColor &hover);

    // Becoming active replays the highlight from the start; becoming inactive drops it at once.
    void setActive(bool active);
    bool isActive() const { return m_active; }
    double progress() const { return m_progress; }

    // Re-tints the icon for the current highlight; does nothing until both colours are set.
    void refreshNavIcon();

    // Per channel, alpha included, `normal` moved towards `hover` by `progress` and rounded half
    // away from zero.
    static QColor tintAt(const QColor &normal, const QColor &hover, double progress);
    // How the icon named `iconName` is placed around the button's centre at `progress`.
    static QTransform iconTransform(const QString &iconName, double progress);
    // Draws the button's icon pixmap centred on the painter's origin, as the icon buttons of the
    // window do after moving the origin to their centre.
    static void drawCentredIcon(QPainter &painter, const QAbstractButton &button);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVariantAnimation *m_animation;
    QColor m_normalColour;
    QColor m_hoverColour;
    double m_progress = 0.0;
    bool m_active = false;
};
