#!/usr/bin/env bash
# Two network namespaces joined by a veth pair, for the discovery test that sends a real
# 255.255.255.255 broadcast: nothing of it can reach the machine's own network.
#   scripts/netns-discovery.sh up APP PRINTER     (app side 10.77.0.1, printer 10.77.0.11)
#   scripts/netns-discovery.sh down APP PRINTER   (always safe to run)
# Needs root and iproute2.
set -euo pipefail
action=${1:?up or down}
app=${2:?app namespace name}
printer=${3:?printer namespace name}
case "$action" in
up)
    ip netns add "$app"
    ip netns add "$printer"
    # Interface names are at most 15 characters; the namespaces keep them apart.
    ip link add veth-app netns "$app" type veth peer name veth-p1 netns "$printer"
    ip -n "$app" addr add 10.77.0.1/24 brd + dev veth-app
    ip -n "$printer" addr add 10.77.0.11/24 brd + dev veth-p1
    for n in "$app" "$printer"; do ip -n "$n" link set lo up; done
    ip -n "$app" link set veth-app up
    ip -n "$printer" link set veth-p1 up
    # Without this route the limited broadcast has no way out (ENETUNREACH).
    ip -n "$app" route add 255.255.255.255/32 dev veth-app
    ;;
down)
    ip netns del "$app" 2>/dev/null || true
    ip netns del "$printer" 2>/dev/null || true
    ;;
*)
    echo "usage: $0 up|down APP PRINTER" >&2
    exit 2
    ;;
esac
