#pragma once

#include "app/applicationidentity.h"

#include <QString>
#include <QStringList>

// What a start asks of the account's one client.
enum class ClientCommand
{
    None,          // show the window (or, with "--hidden", only the tray icon)
    Connect,       // "--connect [SERVER_ID | COUNTRY_CODE]"
    Disconnect,    // "--disconnect"
    Status,        // "--status"
    Quit,          // "--quit": a running client ends, as by the tray's Quit; none is started
    ProblemReport, // "--problem-report PATH": writes the report there and ends
    Help,          // "--help": the switches, printed without starting a window
};

// The client's command line. All matches are case-sensitive.
struct StartupOptions
{
    bool smokeTest = false;
    // Remainder of the last "--website-shot=" argument.
    QString websiteShot;
    // Remainder of the last "--capture-directory=" argument.
    QString captureDirectory;
    bool previewProfile = false;
    bool previewGuidedTour = false;
    // "--hidden": started at sign-in, the window waits in the tray.
    bool hidden = false;
    ClientCommand command = ClientCommand::None;
    // The server id or two-letter country code after "--connect"; empty for the usual choice.
    QString connectTarget;
    // The file after "--problem-report".
    QString problemReportPath;
    // One line saying what is wrong with the command line; empty when nothing is.
    QString error;

    // `arguments` is the full argument vector; its first entry, the program path, is not an option.
    static StartupOptions parse(const QStringList &arguments);

    RunKind runKind() const;
    // Preview data is shown only in smoke-test runs, with either preview switch.
    bool previewMode() const;
    // A website capture needs both a shot name and a directory to write into.
    bool websiteCapture() const;
    // `directory` made absolute and canonical, with no ".." left, for the capture mode to write
    // into; empty, with `error` saying why, when it is a symbolic link, which another account may
    // have planted in a shared folder, or not an existing directory.
    static QString resolveCaptureDirectory(const QString &directory, QString *error);
    // A normal run started with "--hidden" shows only its tray icon; without a tray nothing
    // could bring the window back, so it shows.
    bool startsHidden(bool trayAvailable) const;
    // Smoke, preview and capture runs neither serve nor look for the account's one client.
    bool usesInstance() const { return !smokeTest; }

    // Every switch the program takes, one per line with what it does.
    static QString helpText();
};
