#!/usr/bin/env bash
# Runs inside xvfb-run for the headless demo: starts Odomira on a settings file, waits
# until its window is up (the list is filled before the window shows), photographs the
# screen, and closes the program through its own File > Exit, as a user would.
# Usage: demo-window.sh ODOMIRA FILE.vps SCREENSHOT.png
set -euo pipefail
program=$1 vps=$2 shot=$3
title="$(basename "$vps") - Odomira"

"$program" "$vps" </dev/null &
pid=$!
finish() {
    if kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        sleep 1
        kill -KILL "$pid" 2>/dev/null || true
    fi
}
trap finish EXIT

wid=
for _ in $(seq 300); do
    wid=$(xdotool search --onlyvisible --name "^${title//./\\.}\$" 2>/dev/null | head -n 1 || true)
    [[ -n $wid ]] && break
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "demo-window: Odomira ended before its window appeared" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ -z $wid ]]; then
    echo "demo-window: no window titled \\"$title\\" within 30 seconds" >&2
    exit 1
fi
# Let the window paint once it is mapped.
sleep 1
mkdir -p "$(dirname "$shot")"
import -window "$wid" "$shot"

# Keys go through the X test extension to the focused window. The last key closes the
# window, so the key command may find it gone: that is no failure.
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key alt+f 2>/dev/null || true
sleep 0.3
xdotool key x 2>/dev/null || true
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    echo "demo-window: Odomira did not end after File > Exit" >&2
    exit 1
fi
wait "$pid"
