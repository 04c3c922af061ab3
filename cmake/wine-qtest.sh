#!/bin/sh
# Runs one QtTest program under Wine: usage wine-qtest.sh <wine> <program> [args...].
# Wine hands no QT_* variable of Linux to a program, and "-platform" is refused by the suites that
# make no QGuiApplication: so the program starts through cmd, which sets the test's QT_* variables
# (QT_QPA_PLATFORM=offscreen; values without spaces) inside Windows, where the suite's own child
# processes inherit them as well. QtTest's console output does not come through Wine: the results
# go to a file, printed here. The exit code is the program's (the number of failed functions).
set -u
wine=$1
program=$2
shift 2
results=$(mktemp "${TMPDIR:-/tmp}/qtest.XXXXXX")
trap 'rm -f "$results"' EXIT
settings=$(env | grep '^QT_[A-Za-z0-9_]*=' | sed 's/^/set /; s/$/\&\&/' | tr '\n' ' ')
# Wine's drive Z: is the Unix root. $settings is split into one argument per variable on purpose.
# shellcheck disable=SC2086
"$(dirname "$0")/wine-run.sh" "$wine" cmd /c $settings "Z:$program" \
    -o "Z:$results,txt" "$@"
code=$?
cat "$results"
exit $code
