#!/usr/bin/env bash
# The Windows lane: MinGW-w64 builds run under Wine, in three parts.
# - The seam (preset mingw-wine): platform/ and its doctest suites, without Qt.
# - The application (preset mingw-qt): the whole product against the Qt for MinGW-w64 kit, every
#   QtTest suite that does not need Linux, the seam's suites again (linked as the product links
#   them) and the client's smoke run. Without the kit this part is skipped, saying why.
# - The package (scripts/test-windows-package.sh): the MSI of that build, signed, installed,
#   upgraded and removed in a fresh prefix of its own.
# The kit is the unpacked folder named by SOLVIKVPN_QT_MINGW_KIT, or else the team's tarball in
# ../shared/qt6-mingw/ beside the repository, unpacked once into build/qt6-mingw-kit/.
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

elapsed() {
    local took=$((SECONDS - $1))
    echo "$((took / 60)) min $((took % 60)) s"
}

began=$SECONDS
echo "-- Windows lane, the seam (preset mingw-wine)"
cmake --preset mingw-wine
cmake --build --preset mingw-wine --parallel 2
# The tray menu's suite opens real popup menus, which need a display.
xvfb-run -a ctest --preset mingw-wine
echo "-- the seam: $(elapsed "$began")"

began=$SECONDS
tarball="$root/../shared/qt6-mingw/qt6.4.2-mingw-w64-x86_64-posix.tar.xz"
if [ -n "${SOLVIKVPN_QT_MINGW_KIT:-}" ]; then
    kit=$SOLVIKVPN_QT_MINGW_KIT
elif [ -f "$tarball" ]; then
    kit="$root/build/qt6-mingw-kit/qt6-mingw"
    if [ ! -f "$kit/.unpacked" ] || [ "$tarball" -nt "$kit/.unpacked" ]; then
        echo "Unpacking the Qt for MinGW-w64 kit into build/qt6-mingw-kit/"
        rm -rf "$kit"
        mkdir -p "$(dirname "$kit")"
        tar -xf "$tarball" -C "$(dirname "$kit")"
        touch "$kit/.unpacked"
    fi
else
    echo "-- Windows lane, the application: SKIPPED, because there is no Qt for MinGW-w64 kit:"
    echo "   SOLVIKVPN_QT_MINGW_KIT is not set and there is no $tarball."
    echo "   The product itself was neither built for Windows nor tested under Wine; README.md"
    echo "   (The Windows build on Linux, under Wine) says how to get the kit."
    exit 0
fi
if [ ! -f "$kit/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    echo "No Qt for MinGW-w64 kit in $kit (SOLVIKVPN_QT_MINGW_KIT names the unpacked qt6-mingw folder)." >&2
    exit 1
fi
export SOLVIKVPN_QT_MINGW_KIT=$kit

echo "-- Windows lane, the application (preset mingw-qt, Qt kit $kit)"
cmake --preset mingw-qt
cmake --build --preset mingw-qt --parallel 2
count() {
    ctest --preset mingw-qt -N -L "^$1\$" | sed -n 's/^Total Tests: //p'
}
echo "Under Wine: $(count qtest) QtTest suites, $(count doctest) doctest suites of the seam and" \
    "the smoke run; $(count linux-only) QtTest suites need Linux and are skipped with the reason."
# Settings and data that an earlier run's client left in the prefix would change this run's.
wine reg delete 'HKCU\Software\SolvikVPNTests' /f >/dev/null 2>&1 || true
ctest --preset mingw-qt
# CTest keeps every test's output; the reasons of the skips, suites and single cases alike.
grep -a -h -e '^tst_[a-z_]* needs Linux: ' -e '^SKIP   : ' \
    build/mingw-qt/Testing/Temporary/LastTest.log || true
echo "-- the application: $(elapsed "$began") (smoke run's picture: build/mingw-qt/bin/smoke.png)"

began=$SECONDS
echo "-- Windows lane, the package"
# A screen of a common size: on Xvfb's default 640 x 480 one the client is not scaled to 150 %.
xvfb-run -a -s "-screen 0 1920x1080x24" bash scripts/test-windows-package.sh
echo "-- the package: $(elapsed "$began")"
