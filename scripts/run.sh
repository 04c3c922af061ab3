#!/usr/bin/env bash
# Builds the client and runs it against the development backend on loopback, with a demo account:
# sign in, pick a location, connect and disconnect, all on this machine and without a password.
#
# The run is an installation of its own under build/dev-home: the client and the tunnel program
# in app/, the engine stub standing in for the sing-box engine as app/core/sing-box (the real
# engine is not part of this repository), the tunnel program's service manager rooted in
# service/, and the client's settings and protected files in config/ and data/. Nothing of it
# touches your own profile or needs the internet. The tunnel program is started directly instead
# of through the elevation prompt, and its connectivity check asks the development backend; these
# test switches exist only in builds configured with SOLVIKVPN_TEST_SWITCHES (the debug preset),
# never in a release.
#
# Without a display the client renders offscreen once and the script prints where the screenshot
# is.
set -euo pipefail
cd "$(dirname "$0")/.."
port=${SOLVIKVPN_DEV_PORT:-8787}
# The client takes http://127.0.0.1:3000 for a leftover development address and replaces it with
# the production one.
if [ "$port" = 3000 ]; then
    echo "Port 3000 cannot be used for the development backend; choose another SOLVIKVPN_DEV_PORT." >&2
    exit 1
fi
bash scripts/install-deps.sh

cmake --preset debug
cmake --build --preset debug -j "$(nproc)" \
    --target solvikvpn solvikvpn-tunnel solvikvpn-devbackend solvikvpn-engine-stub

bin=$PWD/build/debug/bin
home=$PWD/build/dev-home
app=$home/app
mkdir -p "$app/core" "$home/service"
# The service manager and the tunnel program accept only folders that nobody else may change.
chmod 0755 build "$home" "$app" "$app/core" "$home/service"
install -m 0755 "$bin/solvikvpn" "$bin/solvikvpn-tunnel" "$app/"
install -m 0755 "$bin/sing-box" "$app/core/sing-box"

export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache
export SOLVIKVPN_SERVICE_ROOT=$home/service
export SOLVIKVPN_ELEVATION=direct
export SOLVIKVPN_CONNECTIVITY_CHECK_URLS=http://127.0.0.1:$port/generate_204

"$bin/solvikvpn-devbackend" --host 127.0.0.1 --port "$port" > "$home/devbackend.log" 2>&1 &
backend=$!
# A tunnel left up when the window closes keeps running, as the product's service does; this run
# ends it with the development backend.
trap '"$app/solvikvpn-tunnel" --cleanup-all >/dev/null 2>&1 || true; kill $backend 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    grep -q "listening" "$home/devbackend.log" && break
    kill -0 $backend 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "listening" "$home/devbackend.log"; then
    cat "$home/devbackend.log" >&2
    echo "The development backend did not start (is port $port in use? set SOLVIKVPN_DEV_PORT)." >&2
    exit 1
fi

# The client reads its backend address from its settings store; point every identity it may use
# (normal run, smoke test) at the development backend, keeping what else the store holds (theme,
# accent, the tour seen). The block on a drop stays off: the engine stub tunnels nothing, and the
# block would hold this machine's own traffic back.
for store in SolvikVPN/SolvikVPN SolvikVPNTests/SmokeTest; do
    file=$XDG_CONFIG_HOME/$store.conf
    mkdir -p "$(dirname "$file")"
    [ -s "$file" ] || printf '[General]\n' > "$file"
    grep -q '^\[General\]$' "$file" || sed -i '1i [General]' "$file"
    sed -i -e '/^apiUrl=/d' -e '/^production=/d' -e '/^blockIfVpnDrops=/d' \
        -e "s|^\[General\]\$|[General]\napiUrl=http://127.0.0.1:$port\nproduction=false\nblockIfVpnDrops=false|" "$file"
done

echo "Development backend: http://127.0.0.1:$port (log: $home/devbackend.log)"
grep "^Demo account" "$home/devbackend.log"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$app/solvikvpn"
else
    QT_QPA_PLATFORM=offscreen "$app/solvikvpn" --smoke-test
    echo "No display: the client was rendered offscreen; screenshot: $app/smoke.png"
fi
