#include "app/clientstartup.h"

#include "app/applicationfont.h"
#include "app/applicationidentity.h"
#include "app/legacymigration.h"
#include "app/startupoptions.h"
#include "settings/settingskeys.h"
#include "ui/mainwindow.h"
#include "ui/pages/settingspage.h"
#include "ui/previewrun.h"
#include "ui/websitecapture.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int smokeQuitMilliseconds = 1250;
constexpr int smokeCaptureMilliseconds = 1000;
constexpr int tourOfferMilliseconds = 350;

// Website shots start from a known look, whatever an earlier shot left in the test store.
void seedWebsiteShotSettings(const QString &shot)
{
    settings::clearAll();
    settings::setTheme(shot.contains(settings::lightTheme) ? settings::lightTheme
                                                           : settings::darkTheme);
    settings::setAccent(settings::defaultAccent);
    settings::setGuidedTourSeen(true);
}

} // namespace

int clientstartup::run(QApplication &application)
{
    applicationfont::install();
    // Numbers and dates format the same on every machine.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    identity::apply(RunKind::Normal);

    const StartupOptions options = StartupOptions::parse(QCoreApplication::arguments());
    QString captureDirectory;
    if (options.websiteCapture()) {
        // Refused before anything is written, the test store's reset included.
        QString error;
        captureDirectory =
            StartupOptions::resolveCaptureDirectory(options.captureDirectory, &error);
        if (captureDirectory.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    if (!options.smokeTest) {
        QString error;
        if (!legacymigration::migrateDataDirectory(&error)) {
            QMessageBox::critical(nullptr, QStringLiteral("Solvik VPN"), error, QMessageBox::Ok);
            return 1;
        }
        legacymigration::migrateSettings();
    } else {
        identity::apply(options.runKind());
        if (options.runKind() == RunKind::WebsiteAssets) {
            seedWebsiteShotSettings(options.websiteShot);
        }
        // Armed once the event loop runs, so the quit is counted from its start.
        QTimer::singleShot(0, &application, [&application] {
            QTimer::singleShot(smokeQuitMilliseconds, &application, &QCoreApplication::quit);
        });
    }

    // Smoke, preview and capture runs reach nothing outside: no lookups, no measurements.
    MainWindow window(nullptr, options.smokeTest ? ClientServices::Lookups::Disabled
                                                 : ClientServices::Lookups::Enabled);
    if (options.smokeTest) {
        window.settingsPage()->setSystemChangesAllowed(false);
    }
    if (!options.startsHidden(QSystemTrayIcon::isSystemTrayAvailable())) {
        window.show();
    }

    bool captureSaved = true;
    std::unique_ptr<PreviewRun> preview;
    std::unique_ptr<WebsiteCapture> websiteCapture;
    if (!options.smokeTest) {
        if (!settings::guidedTourSeen()) {
            QTimer::singleShot(tourOfferMilliseconds, &window, &MainWindow::maybeOfferTour);
        }
    } else {
        // Not even a stored session may reach the backend from a test identity.
        window.services().api().setOffline(true);
        if (options.websiteCapture()) {
            websiteCapture =
                std::make_unique<WebsiteCapture>(window, options.websiteShot, captureDirectory);
            if (!websiteCapture->start()) {
                std::fprintf(stderr, "Unknown website shot. Use home, account, account-free or "
                                     "settings, each optionally followed by -light.\n");
                return 1;
            }
        } else if (options.previewMode()) {
            preview = std::make_unique<PreviewRun>(window, QCoreApplication::arguments(),
                                                   QCoreApplication::applicationDirPath());
            preview->start();
        }
        const QString path = QCoreApplication::applicationDirPath() +
                             (options.previewMode() ? QStringLiteral("/smoke-profile.png")
                                                    : QStringLiteral("/smoke.png"));
        QTimer::singleShot(smokeCaptureMilliseconds, &window, [&window, &captureSaved, path] {
            captureSaved = window.grab().save(path, "PNG");
        });
    }

    const int exitCode = application.exec();
    // A smoke run whose screenshots are missing has not shown that the window renders.
    const bool allSaved = captureSaved && (!preview || preview->capturesSaved()) &&
                          (!websiteCapture || websiteCapture->finished());
    return allSaved ? exitCode : 1;
}
