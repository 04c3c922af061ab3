#pragma once

#include "ui/theme/themepalette.h"

#include <QWidget>

// The rounded drop-down panel of an appearance chooser. Its 6 px layout margin leaves a rim of
// the panel's colour around the list it holds.
class AppearancePopup : public QWidget
{
    Q_OBJECT

public:
    explicit AppearancePopup(QWidget *parent = nullptr);

    void setAppearance(bool light, const QColor &accent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ThemePalette m_palette;
};
