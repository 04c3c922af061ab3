#include "app/startupoptions.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

StartupOptions StartupOptions::parse(const QStringList &arguments)
{
    static const QString smokeTestSwitch = QStringLiteral("--smoke-test");
    static const QString websiteShotPrefix = QStringLiteral("--website-shot=");
    static const QString captureDirectoryPrefix = QStringLiteral("--capture-directory=");
    static const QString previewProfileSwitch = QStringLiteral("--preview-profile");
    static const QString previewGuidedTourSwitch = QStringLiteral("--preview-guided-tour");
    static const QString hiddenSwitch = QStringLiteral("--hidden");

    StartupOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == smokeTestSwitch) {
            options.smokeTest = true;
        } else if (argument.startsWith(websiteShotPrefix)) {
            options.websiteShot = argument.mid(websiteShotPrefix.size());
        } else if (argument.startsWith(captureDirectoryPrefix)) {
            options.captureDirectory = argument.mid(captureDirectoryPrefix.size());
        } else if (argument == previewProfileSwitch) {
            options.previewProfile = true;
        } else if (argument == previewGuidedTourSwitch) {
            options.previewGuidedTour = true;
        } else if (argument == hiddenSwitch) {
            options.hidden = true;
        }
    }
    return options;
}

RunKind StartupOptions::runKind() const
{
    if (!smokeTest) {
        return RunKind::Normal;
    }
    return websiteShot.isEmpty() ? RunKind::SmokeTest : RunKind::WebsiteAssets;
}

bool StartupOptions::previewMode() const
{
    return smokeTest && (previewProfile || previewGuidedTour);
}

bool StartupOptions::websiteCapture() const
{
    return smokeTest && !websiteShot.isEmpty() && !captureDirectory.isEmpty();
}

QString StartupOptions::resolveCaptureDirectory(const QString &directory, QString *error)
{
    // ".." is taken out of the text before anything is looked up, so it never climbs out of a link.
    const QFileInfo given(QDir::cleanPath(QFileInfo(directory).absoluteFilePath()));
    // A junction redirects like a link.
    if (given.isSymLink() || given.isJunction()) {
        *error = u"The capture directory \"%1\" is a symbolic link. Give the directory it "
                 u"points to instead."_s.arg(directory);
        return {};
    }
    const QString resolved = given.isDir() ? given.canonicalFilePath() : QString();
    if (resolved.isEmpty()) {
        *error = u"The capture directory \"%1\" is not an existing directory."_s.arg(directory);
    }
    return resolved;
}

bool StartupOptions::startsHidden(bool trayAvailable) const
{
    return hidden && !smokeTest && trayAvailable;
}
