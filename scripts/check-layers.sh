#!/usr/bin/env bash
# Fails when a source file includes a header of a higher layer, or when code below ui/ includes
# Qt Widgets. Every library exposes the repository root, so nothing else keeps the layers apart.
#   platform <- settings <- common <- api <- locations, vpn <- ui <- app
#   tunnel on common and platform only
# check-layers.sh [ROOT]: ROOT defaults to this repository.
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"

declare -A allowed=(
    [platform]="platform"
    [settings]="settings platform"
    [common]="common settings platform"
    [api]="api common settings platform"
    [locations]="locations api common settings platform"
    [vpn]="vpn api common settings platform"
    [ui]="ui locations vpn api common settings platform"
    [app]="app ui locations vpn api common settings platform"
    [tunnel]="tunnel common platform"
)
widgets_free="platform settings common api locations vpn tunnel"
widgets_headers=$(find /usr/include -maxdepth 3 -type d -name QtWidgets -print -quit 2>/dev/null || true)

status=0
for layer in "${!allowed[@]}"; do
    [ -d "$root/$layer" ] || continue
    while IFS= read -r -d '' file; do
        file=$root/$file
        while IFS= read -r included; do
            folder=${included%%/*}
            [ -n "${allowed[$folder]+set}" ] || continue
            case " ${allowed[$layer]} " in
            *" $folder "*) ;;
            *)
                echo "${file#"$root"/}: includes \"$included\" from the higher layer $folder/" >&2
                status=1
                ;;
            esac
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
        case " $widgets_free " in
        *" $layer "*)
            while IFS= read -r included; do
                name=${included#QtWidgets/}
                if [ "$name" != "$included" ] ||
                    { [ -n "$widgets_headers" ] && [ -f "$widgets_headers/$name" ]; }; then
                    echo "${file#"$root"/}: includes the Qt Widgets header <$included> below ui/" >&2
                    status=1
                fi
            done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\)>.*/\1/p' "$file")
            ;;
        esac
    done < <(cd "$root" && find "$layer" -type f \( -name '*.h' -o -name '*.cpp' \) -not -path '*/tests/*' -print0)
done
if [ "$status" -eq 0 ]; then
    echo "Layers hold: no upward include, no Qt Widgets below ui/."
fi
exit "$status"
