#pragma once

#include <QString>

#include <optional>

// Failure modes chosen by environment variables, one variable per behaviour, so one stub
// executable can play every engine a test needs:
//
//   SOLVIKVPN_STUB_EXIT_CODE=<n>        exit at once with code n (0 to 255), before reading input
//                                       and without printing anything
//   SOLVIKVPN_STUB_DIAGNOSTIC=<text>    after a successful decode print "FATAL[SSSS] <text>" and
//                                       exit 1
//   SOLVIKVPN_STUB_FAIL=check|run|check,run
//                                       the commands the diagnostic applies to (default: both)
//   SOLVIKVPN_STUB_FLOOD_BYTES=<n>      print n bytes of the flood pattern to standard error as
//                                       the last output before exiting or waiting for the break
//   SOLVIKVPN_STUB_IGNORE_BREAK=1       ignore SIGINT and SIGTERM; only SIGKILL ends "run"
//   SOLVIKVPN_STUB_NO_PORT=1            "run" never opens the probe inbound
//   SOLVIKVPN_STUB_NO_TUN=1             "run" does not try to create the TUN adapter
//   SOLVIKVPN_STUB_SILENT=1             print nothing at all, not even fatal lines
//   SOLVIKVPN_STUB_HANG_CHECK=1         "check" reads its input and then never ends
//   SOLVIKVPN_STUB_ESCAPE_SECONDS=<n>   "run" starts a process that leaves the engine's process
//                                       group, holds its output open and ends after n seconds
//   SOLVIKVPN_STUB_RUN_LOG=<path>       "run" appends "run <process id>" to the file when it
//                                       starts and "accept" for every connection to its inbound
//   SOLVIKVPN_STUB_GOOD_RUNS=<n>        with the run log: a "run" that finds n runs logged
//                                       already prints a fatal line and exits 1
//   SOLVIKVPN_STUB_PORT_SECONDS=<n>     "run" closes its probe inbound after n seconds and runs on
class StubModes
{
public:
    static StubModes fromEnvironment();

    std::optional<int> exitCode;
    QString diagnostic;
    bool diagnosticForCheck = true;
    bool diagnosticForRun = true;
    qint64 floodBytes = 0;
    bool ignoreBreak = false;
    bool noPort = false;
    bool noTun = false;
    bool silent = false;
    bool hangCheck = false;
    int escapeSeconds = 0;
    QString runLog;
    std::optional<int> goodRuns;
    int portSeconds = 0;

    // The diagnostic to fail `command` ("check" or "run") with; empty when none applies.
    QString diagnosticFor(const QString &command) const;
};
