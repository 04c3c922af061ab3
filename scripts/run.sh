#!/usr/bin/env bash
# Builds the client and runs it against the development backend on loopback, with a demo account.
# Settings and protected files of this run live under build/dev-home, never in your own profile.
# Without a display the client renders offscreen once and the script prints where the screenshot is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake --preset release
cmake --build --preset release -j "$(nproc)" --target solvikvpn solvikvpn-tunnel solvikvpn-devbackend

bin=$PWD/build/release/bin
home=$PWD/build/dev-home
port=${SOLVIKVPN_DEV_PORT:-8787}
email=demo@solvikvpn.test
password=demo-password-1
mkdir -p "$home"
export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache

"$bin/solvikvpn-devbackend" --host 127.0.0.1 --port "$port" \
    --demo-email "$email" --demo-password "$password" > "$home/devbackend.log" 2>&1 &
backend=$!
trap 'kill $backend 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    grep -q "listening" "$home/devbackend.log" 2>/dev/null && break
    sleep 0.1
done

# The client reads its backend address from its settings store; point every identity it may use
# (normal run, smoke test) at the development backend.
for store in SolvikVPN/SolvikVPN SolvikVPNTests/SmokeTest; do
    mkdir -p "$XDG_CONFIG_HOME/$(dirname "$store")"
    printf '[General]\napiUrl=http://127.0.0.1:%s\nproduction=false\n' "$port" \
        > "$XDG_CONFIG_HOME/$store.conf"
done

echo "Development backend: http://127.0.0.1:$port (log: $home/devbackend.log)"
echo "Demo account: $email / $password"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$bin/solvikvpn"
else
    QT_QPA_PLATFORM=offscreen "$bin/solvikvpn" --smoke-test
    echo "No display: the client was rendered offscreen; screenshot: $bin/smoke.png"
fi
