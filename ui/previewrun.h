#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class MainWindow;
class QWidget;

// The smoke run's preview: the sample account on show, then each "--preview-…" switch of the
// command line in a fixed order, with the pictures some of them save. Nothing here reaches the
// backend, the tunnel service or the geolocation service.
class PreviewRun : public QObject
{
    Q_OBJECT

public:
    // Pictures are saved as `captureDirectory` followed by their names ("/smoke-dropdown.png").
    PreviewRun(MainWindow &window, const QStringList &arguments, const QString &captureDirectory,
               QObject *parent = nullptr);

    // Shows the sample account now and arms the switches' timers.
    void start();
    // False once a picture could not be written.
    bool capturesSaved() const { return m_capturesSaved; }

    // The tour step "--preview-tour-step=" asks for, counted from 1. A missing, unreadable or
    // out-of-range value starts at the first step.
    static int tourStep(const QStringList &arguments);

private:
    bool has(const QString &argument) const { return m_arguments.contains(argument); }
    void after(int milliseconds, std::function<void()> action);
    void capture(QWidget *widget, const QString &name);
    void showSampleLatencies();
    // Opens the locations group `name` at once; `makeCurrent` also makes it the current row.
    void expandGroup(const QString &name, bool makeCurrent);
    void hoverLocations();

    MainWindow &m_window;
    QStringList m_arguments;
    QString m_captureDirectory;
    bool m_capturesSaved = true;
};
