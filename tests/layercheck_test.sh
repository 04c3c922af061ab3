#!/usr/bin/env bash
# scripts/check-layers.sh passes on the tree and fails on a copy of it with an upward include and
# a Qt Widgets include below ui/ planted.
set -euo pipefail
root=$1
bash "$root/scripts/check-layers.sh" "$root"
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
for plant in 'api/session.cpp:#include "ui/mainwindow.h"' 'vpn/vpncontroller.cpp:#include <QPushButton>'; do
    rm -rf "${copy:?}"/*
    cp -r "$root"/{platform,settings,common,api,locations,vpn,ui,app,tunnel} "$copy"/
    echo "${plant#*:}" >>"$copy/${plant%%:*}"
    if bash "$root/scripts/check-layers.sh" "$copy" 2>/dev/null; then
        echo "check-layers.sh let through: $plant" >&2
        exit 1
    fi
done
