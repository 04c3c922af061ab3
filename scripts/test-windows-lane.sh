#!/usr/bin/env bash
# The Windows lane: cross-compiles the OS seam with MinGW-w64 and runs its tests under Wine.
# Exits non-zero when configuring, building or any test fails.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

export WINEPREFIX="${SOLVIKVPN_WINEPREFIX:-${HOME}/.wine-solvikvpn}"
export SOLVIKVPN_WINEPREFIX="$WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Initialising the Wine prefix $WINEPREFIX (once)..."
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

cmake --preset mingw-wine
cmake --build --preset mingw-wine --parallel 2
ctest --preset mingw-wine
