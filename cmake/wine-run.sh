#!/bin/sh
# Runs one cross-compiled test program under Wine: usage wine-run.sh <wine> <program> [args...].
# A private prefix keeps the tests away from the user's own Wine setup; it is created on first
# use (slow once), serialised by a lock so that parallel tests do not initialise it twice.
set -eu
wine=$1
shift
export WINEPREFIX="${SOLVIKVPN_WINEPREFIX:-${HOME}/.wine-solvikvpn}"
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            wineboot -i >/dev/null 2>&1
            wineserver -w
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
