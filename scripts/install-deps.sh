#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the run command need.
# install-deps.sh --vendor also brings nodejs and npm for scripts/vendor-resources.sh.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config ccache clang-format
    qt6-base-dev qt6-svg-dev libqt6svg6 libsodium-dev libfontconfig-dev doctest-dev
    g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth
    clang libclang-rt-14-dev fonts-inter-variable fonts-dejavu-core
    nftables iproute2 wixl msitools osslsigncode openssl
)
# A Node.js that bundles its own npm conflicts with Debian's npm package: keep the one present.
if [ "${1:-}" = "--vendor" ] && ! command -v npm >/dev/null; then
    packages+=(nodejs npm fonts-inter)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
