#pragma once

#include <QMainWindow>
#include <QString>

// The client's one window. It grows page by page; for now it carries its fixed geometry and the
// hooks that start-up calls.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);

    // Preview mode renders built-in sample data instead of a backend session. The sample data
    // arrives with the pages that show it; until then the flag is only recorded.
    void setPreviewMode(bool enabled);
    bool previewMode() const { return m_previewMode; }

    // Saves the whole window as "app-<shot>.png" in `directory`. The per-shot sample data and the
    // detail regions arrive with the pages they show. Returns false when the image was not saved.
    bool runWebsiteCapture(const QString &shot, const QString &directory);

public slots:
    // Called once, shortly after a first start, to invite the user to the guided tour. The tour
    // arrives with its own overlay; until then there is nothing to offer.
    void offerGuidedTour();

private:
    bool m_previewMode = false;
};
