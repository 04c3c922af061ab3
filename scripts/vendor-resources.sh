#!/usr/bin/env bash
# Refreshes the vendored interface resources in resources/ from pinned npm and Debian packages and
# renders the brand mark. Run by hand when a pin changes; the build and CI only read what this left in the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --vendor

lucide=lucide-static@1.87.0
flags=flag-icons@7.5.0
atlas=world-atlas@2.0.2
topojson=topojson-client@3.1.0
icons=(
    globe user-round external-link settings-2 shield power eye eye-off search refresh-cw zap
    map-pin monitor log-out chevron-down chevron-right arrow-up-right plus minus check x copy
)

# Inter: the variable font for Qt's own font engines, and the static weights the theme uses (400,
# 500, 600, 700) for Windows, whose GDI draws a variable font at its default weight only.
inter=4.0~beta7+ds-1
for package in fonts-inter-variable fonts-inter; do
    installed=$(dpkg-query -W -f='${Version}' "$package")
    if [ "$installed" != "$inter" ]; then
        echo "$package is $installed here; the pin is $inter." >&2
        exit 1
    fi
done
cp /usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf resources/fonts/InterVariable.ttf
for weight in Regular Medium SemiBold Bold; do
    cp "/usr/share/fonts/opentype/inter/Inter-$weight.otf" resources/fonts/
done
cp /usr/share/doc/fonts-inter/copyright resources/fonts/LICENSE.txt

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# --ignore-scripts: these are asset packages, nothing of theirs needs to run at install time.
npm install --prefix "$tmp" --no-save --no-package-lock --no-audit --no-fund --ignore-scripts \
    "$lucide" "$flags" "$atlas" "$topojson"
modules=$tmp/node_modules

# The dropdown arrows in resources/icons are the project's own and stay as they are.
for name in "${icons[@]}"; do
    cp "$modules/lucide-static/icons/$name.svg" resources/icons/
done
{
    cat "$modules/lucide-static/LICENSE"
    echo
    echo "dropdown-arrow.svg and dropdown-arrow-light.svg are Solvik VPN's own, not Lucide icons."
} > resources/icons/LICENSE.txt

# Only the two-letter names: regions such as gb-eng and groups such as asean are not countries.
rm -rf resources/flags
mkdir -p resources/flags
for file in "$modules"/flag-icons/flags/4x3/??.svg; do
    cp "$file" resources/flags/
done
cp "$modules/flag-icons/LICENSE" resources/flags/LICENSE.txt

mkdir -p resources/map
node "$modules/topojson-client/bin/topo2geo" land=- \
    < "$modules/world-atlas/land-110m.json" > resources/map/land.json
{
    cat "$modules/world-atlas/LICENSE"
    echo
    echo "land.json is world-atlas's land-110m.json converted to GeoJSON with topojson-client."
    echo "It is derived from Natural Earth's 1:110m land data, which is in the public domain."
} > resources/map/LICENSE.txt

cmake -S . -B build/vendor -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/vendor --target solvikvpn-brandmark
QT_QPA_PLATFORM=offscreen build/vendor/bin/solvikvpn-brandmark resources/app/solvik-vpn-mark.svg \
    resources/app/solvik-vpn-mark.png resources/app/solvikvpn.ico
du -sh resources
