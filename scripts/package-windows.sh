#!/usr/bin/env bash
# Builds the Windows package, an MSI, from a MinGW build of the product (preset mingw-qt, or
# mingw-release for a release):
#   package-windows.sh (--engine SING_BOX_EXE | --engine-stub) [--build DIR] [--version X.Y.Z]
#                      [--sign] [--output DIR]
# The files are the build's install component "solvikvpn" plus the engine as core\sing-box.exe:
# the named sing-box.exe, or with --engine-stub the build's engine stub, which names the package
# and the product "(engine stub)" so that it never passes for a release. --version sets the
# package's version (default: the build's). --sign signs the programs and the package with
# scripts/sign-windows.sh. Prints the package's path, its size and the time taken.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

usage() {
    echo "Usage: package-windows.sh (--engine SING_BOX_EXE | --engine-stub) [--build DIR]" \
        "[--version X.Y.Z] [--sign] [--output DIR]" >&2
    exit 2
}

build="$root/build/mingw-qt"
engine="" stub=false version="" sign=false output=""
while [ $# -gt 0 ]; do
    case $1 in
    --engine) [ $# -ge 2 ] || usage; engine=$2; shift 2 ;;
    --engine-stub) stub=true; shift ;;
    --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    --version) [ $# -ge 2 ] || usage; version=$2; shift 2 ;;
    --sign) sign=true; shift ;;
    --output) [ $# -ge 2 ] || usage; output=$2; shift 2 ;;
    *) usage ;;
    esac
done
began=$SECONDS

if [ -z "$engine" ] && ! $stub; then
    echo "No engine to package: name the Windows sing-box.exe with --engine PATH, or make a" \
        "test package with --engine-stub." >&2
    exit 1
fi
if [ -n "$engine" ] && $stub; then
    echo "Give either --engine or --engine-stub, not both." >&2
    exit 1
fi
cache="$build/CMakeCache.txt"
if [ ! -f "$cache" ] || [ ! -f "$build/bin/solvikvpn.exe" ]; then
    echo "$build holds no MinGW build of Solvik VPN: build the preset mingw-qt or" \
        "mingw-release first." >&2
    exit 1
fi
if grep -q '^SOLVIKVPN_TEST_SWITCHES:BOOL=ON$' "$cache" && ! $stub; then
    echo "$build honours the test switches and must never ship: package a build of the preset" \
        "mingw-release, or make a test package with --engine-stub." >&2
    exit 1
fi
if [ -n "$engine" ] && [ "$(head -c 2 "$engine" 2>/dev/null)" != "MZ" ]; then
    echo "$engine is not a Windows program." >&2
    exit 1
fi
if [ -z "$version" ]; then
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache")
fi
if ! [[ "$version" =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,5}$ ]]; then
    echo "\"$version\" is not a package version (X.Y.Z, X and Y below 256, Z below 65536)." >&2
    exit 1
fi

work="$build/package"
stage="$work/files"
rm -rf "$work"
mkdir -p "$stage"
cmake --install "$build" --component solvikvpn --prefix "$stage" >/dev/null
if $stub; then
    cmake --install "$build" --component engine-stub --prefix "$stage" >/dev/null
fi
# Debug information is no use to a user and is most of the MinGW runtime's size.
find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \) \
    -exec x86_64-w64-mingw32-strip --strip-debug {} +
if [ -n "$engine" ]; then
    mkdir -p "$stage/core"
    cp "$engine" "$stage/core/sing-box.exe"
elif [ ! -f "$stage/core/sing-box.exe" ]; then
    echo "$build has no engine stub: it is built with the tests (SOLVIKVPN_TESTS=ON)." >&2
    exit 1
fi
if $sign; then
    bash "$root/scripts/sign-windows.sh" "$stage/solvikvpn.exe" "$stage/solvikvpn-tunnel.exe"
fi

name="Solvik VPN" file="SolvikVPN-$version-x64"
if $stub; then
    name="Solvik VPN (engine stub)" file="$file-engine-stub"
fi
package="${output:-$build}/$file.msi"
mkdir -p "$(dirname "$package")"
# wixl takes sources relative to the folder it runs in. Every file but the two programs, which the
# package's source names itself, comes from the installed tree.
cp "$root/resources/app/solvikvpn.ico" "$work/"
(
    cd "$work"
    find files -type f ! -path files/solvikvpn.exe ! -path files/solvikvpn-tunnel.exe |
        LC_ALL=C sort |
        wixl-heat --prefix files/ --directory-ref INSTALLDIR --var var.SourceDir \
            --component-group ProductFiles --win64 >files.wxs
    wixl --arch x64 -D "Version=$version" -D "ProductName=$name" -D SourceDir=files \
        -D Win64=yes -D Icon=solvikvpn.ico -o package.msi \
        "$root/resources/windows/solvikvpn.wxs" files.wxs
)
mv "$work/package.msi" "$package"
if $sign; then
    bash "$root/scripts/sign-windows.sh" "$package"
fi
echo "package: $package ($(du -k "$package" | cut -f1) KiB, $((SECONDS - began)) s)"
