#include "ui/mainwindow.h"

#include <QPixmap>

namespace {
constexpr QSize windowSize{1180, 780};
constexpr QSize minimumWindowSize{850, 600};
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Solvik VPN"));
    // The layout is designed for one size: the window may shrink but never grows past it.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setMinimumSize(minimumWindowSize);
    setMaximumSize(windowSize);
    resize(windowSize);
}

void MainWindow::setPreviewMode(bool enabled)
{
    m_previewMode = enabled;
}

bool MainWindow::runWebsiteCapture(const QString &shot, const QString &directory)
{
    return grab().save(directory + QStringLiteral("/app-") + shot + QStringLiteral(".png"), "PNG");
}

void MainWindow::offerGuidedTour() {}
