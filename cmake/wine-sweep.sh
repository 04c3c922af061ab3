#!/bin/sh
# Removes every tunnel service of the product from the Wine prefix and proves none is left:
# usage wine-sweep.sh <wine> <solvikvpn-tunnel.exe>. Run before and after the suites that install
# tunnels, so a crashed or timed-out run leaves no service (and no engine) behind. Wine's sc has no
# "query", so the services' registry keys are what is checked.
set -u
wine=$1
program=$2
run="$(dirname "$0")/wine-run.sh"
"$run" "$wine" "$program" --cleanup-all
code=$?
if [ "$code" -ne 0 ]; then
    echo "The tunnel program's --cleanup-all ended with $code." >&2
    exit 1
fi
left=$("$run" "$wine" reg query 'HKLM\System\CurrentControlSet\Services' | tr -d '\r' |
    grep -i -e 'SolvikVPN\$tnel_' -e 'PelgraVPN\$tnel_' -e 'WireGuardTunnel\$zelv_')
if [ -n "$left" ]; then
    echo "Tunnel services are still registered:" >&2
    echo "$left" >&2
    exit 1
fi
echo "No tunnel service is registered in the Wine prefix."
