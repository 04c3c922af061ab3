#!/usr/bin/env bash
# The Windows package under Wine, in a prefix of its own made afresh: the package of the mingw-qt
# build (with the engine stub, signed with a throw-away test CA) installs, its client renders at
# 100 % and 150 %, its programs connect end to end, a newer version replaces it keeping the user's
# settings, an older one is refused, and the uninstall leaves nothing of the product but the
# user's own data. Run by scripts/test-windows-lane.sh inside an X server (xvfb-run), after the
# build. A problem report is written through the installed client as well. Exits non-zero at the
# first check that fails.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/mingw-qt"
began=$SECONDS

fail() {
    echo "The package check failed: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
newer="${version%.*}.$((${version##*.} + 1))"
packages="$build/packages"
rm -rf "$packages"
bash "$root/scripts/package-windows.sh" --engine-stub --sign --output "$packages"
bash "$root/scripts/package-windows.sh" --engine-stub --sign --version "$newer" \
    --output "$packages"
package="$packages/SolvikVPN-$version-x64-engine-stub.msi"
upgrade="$packages/SolvikVPN-$newer-x64-engine-stub.msi"
packaged=$((SECONDS - began))

export WINEPREFIX="$build/wine-package"
export SOLVIKVPN_WINEPREFIX="$WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
rm -rf "$WINEPREFIX"
# A bare prefix: no Mono or Gecko, which nothing here needs.
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
wineserver -w
checked=$SECONDS

# What the installer's custom actions print goes to the run's log, not to the lane's output.
msiexec() {
    wine msiexec "$1" "$(winepath -w "$2")" /qn >>"$packages/msiexec.log" 2>&1
}
installed="$WINEPREFIX/drive_c/Program Files/Solvik VPN"
windowsFolder='C:\Program Files\Solvik VPN'
userSettings='HKCU\Software\SolvikVPN\SolvikVPN'
runKey='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
registered() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | grep -c "DisplayName *REG_SZ *Solvik VPN (engine stub)$" || true
}
tunnelServices() {
    wine reg query 'HKLM\System\CurrentControlSet\Services' 2>/dev/null | tr -d '\r' |
        grep -c 'SolvikVPN\$tnel_' || true
}
setDpi() {
    wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    wineserver -w
}

echo "-- install $(basename "$package")"
msiexec /i "$package" || fail "msiexec /i ended with $?."
for file in solvikvpn.exe solvikvpn-tunnel.exe Qt6Core.dll Qt6Widgets.dll libstdc++-6.dll \
    platforms/qwindows.dll tls/qschannelbackend.dll core/sing-box.exe; do
    [ -f "$installed/$file" ] || fail "$file is not in $windowsFolder."
done
find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Solvik VPN.lnk' | grep -q . ||
    fail "there is no Start-menu shortcut \"Solvik VPN\"."
[ "$(registered)" = 1 ] || fail "Add/Remove Programs does not list the product once."
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | grep -q "DisplayVersion *REG_SZ *$version$" ||
    fail "Add/Remove Programs does not give the version $version."

echo "-- the installed client's smoke run, at 100 % and at 150 %"
sh "$root/cmake/wine-smoke.sh" wine "$installed/solvikvpn.exe" windows
mv "$installed/smoke.png" "$packages/installed-smoke.png"
setDpi 144
sh "$root/cmake/wine-smoke.sh" wine "$installed/solvikvpn.exe" windows "1770 x 1170"
mv "$installed/smoke.png" "$packages/installed-smoke-150.png"
setDpi 96

echo "-- connect and disconnect with the installed programs"
# Wine keeps no access lists, so no folder there is the administrators' alone.
SOLVIKVPN_INSTALLED_PROGRAMS=$windowsFolder sh "$root/cmake/wine-qtest.sh" wine \
    "$build/bin/tst_connectunderwine.exe" connectThenDisconnect ||
    fail "the installed programs did not connect and disconnect."

echo "-- a problem report from the installed client"
report="$WINEPREFIX/drive_c/report.txt"
wine "$installed/solvikvpn.exe" --problem-report 'C:\report.txt' >/dev/null 2>&1 ||
    fail "the installed client wrote no problem report."
head -1 "$report" | grep -q "^Solvik VPN problem report" && grep -q "^Client log" "$report" &&
    iconv -f UTF-8 -t UTF-8 "$report" >/dev/null || fail "the problem report is not plain text."
rm "$report"

echo "-- upgrade to $newer while the client runs"
wine reg add "$userSettings" /v theme /t REG_SZ /d light /f >/dev/null 2>&1
SOLVIKVPN_NO_LOOKUPS=1 wine "$installed/solvikvpn.exe" >/dev/null 2>&1 &
client=$!
sleep 5
kill -0 "$client" 2>/dev/null || fail "the installed client did not start."
msiexec /i "$upgrade" || fail "the upgrade ended with $?."
for _ in $(seq 50); do
    kill -0 "$client" 2>/dev/null || break
    sleep 0.2
done
if kill -0 "$client" 2>/dev/null; then
    kill "$client"
    fail "the running client was not asked to quit."
fi
[ "$(registered)" = 1 ] || fail "after the upgrade, the product is not registered once."
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | grep -q "DisplayVersion *REG_SZ *$newer$" || fail "the upgrade did not register $newer."
wine reg query "$userSettings" /v theme 2>/dev/null | tr -d '\r' | grep -q 'light$' ||
    fail "the upgrade lost the user's settings."

echo "-- the older package is refused"
# Wine's installer logs no launch condition's text; the package carries it for Windows to show.
# Linux keeps the low byte of an exit code: 1603 (the installation failed) arrives as 67.
code=0
msiexec /i "$package" || code=$?
[ "$code" = 67 ] || fail "installing $version over $newer ended with $code, not 1603 (67)."
msiinfo export "$package" LaunchCondition | grep -q "A newer version of Solvik VPN is already" ||
    fail "the package does not say why it refuses."

echo "-- uninstall"
for tunnel in 0123456789abcdef0123 fedcba9876543210fedc; do
    wine sc create "SolvikVPN\$tnel_$tunnel" \
        binpath= "\"$windowsFolder\\solvikvpn-tunnel.exe\" --service $tunnel" >/dev/null 2>&1
done
[ "$(tunnelServices)" = 2 ] || fail "the two tunnel services were not created."
wine reg add "$runKey" /v SolvikVPN /t REG_SZ /d "\"$windowsFolder\\solvikvpn.exe\" --hidden" \
    /f >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/ProgramData/SolvikVPN"
echo status >"$WINEPREFIX/drive_c/ProgramData/SolvikVPN/leftover.status.dpapi"
msiexec /x "$upgrade" || fail "msiexec /x ended with $?."
if [ -d "$installed" ] && [ -n "$(find "$installed" -type f)" ]; then
    fail "files are left in $windowsFolder: $(find "$installed" -type f | head -3)"
fi
[ "$(tunnelServices)" = 0 ] || fail "tunnel services are left."
[ ! -e "$WINEPREFIX/drive_c/ProgramData/SolvikVPN" ] || fail "ProgramData\\SolvikVPN is left."
if wine reg query "$runKey" /v SolvikVPN >/dev/null 2>&1; then
    fail "the start-at-sign-in value is left."
fi
[ "$(registered)" = 0 ] || fail "the product is still registered."
wine reg query "$userSettings" /v theme >/dev/null 2>&1 ||
    fail "the uninstall removed the user's settings."

wineserver -k
rm -rf "$WINEPREFIX"
echo "package: $(du -k "$upgrade" | cut -f1) KiB; packaging and signing both versions took" \
    "$packaged s, the checks under Wine $((SECONDS - checked)) s"
echo "pictures: $packages/installed-smoke.png, $packages/installed-smoke-150.png"
