#!/bin/sh
# Runs one QtTest program under Wine: usage wine-qtest.sh <wine> <program> [args...].
# Wine hands no QT_* variable of Linux to a program, and "-platform" is refused by the suites that
# make no QGuiApplication: so the program starts through cmd, which sets the test's QT_* variables
# (QT_QPA_PLATFORM=offscreen; values without spaces) inside Windows, where the suite's own child
# processes inherit them as well. QtTest's console output does not come through Wine: the results
# go to a file, printed here as they come, so that a suite stopped for its time shows how far it
# got. The exit code is the program's (the number of failed functions), or 1 when Wine reported a
# crash of any program the suite started (a service's crash after it reported its end would
# otherwise pass unseen).
set -u
wine=$1
program=$2
shift 2
results=$(mktemp "${TMPDIR:-/tmp}/qtest.XXXXXX")
errors=$(mktemp "${TMPDIR:-/tmp}/qtest-errors.XXXXXX")
trap 'rm -f "$results" "$errors"' EXIT
settings=$(env | grep '^QT_[A-Za-z0-9_]*=' | sed 's/^/set /; s/$/\&\&/' | tr '\n' ' ')
# Wine's drive Z: is the Unix root. $settings is split into one argument per variable on purpose.
# shellcheck disable=SC2086
"$(dirname "$0")/wine-run.sh" "$wine" cmd /c $settings "Z:$program" \
    -o "Z:$results,txt" "$@" 2>"$errors" &
runner=$!
# Ends once the program has, after printing what the file then holds.
tail -n +1 -s 0.2 --pid=$runner -f "$results"
wait $runner
code=$?
cat "$errors" >&2
if grep -q '^wine: Unhandled' "$errors" && [ "$code" -eq 0 ]; then
    echo "A program the suite started crashed." >&2
    code=1
fi
exit $code
