#pragma once

#include <QFont>

// The application font (Inter, installed at start-up) at `pixelSize` and `weight` (the
// toolkit's 100 to 900 scale), with grey-scale antialiasing and no hinting, as every label of
// the window is drawn.
QFont uiFont(int pixelSize, int weight);
