#!/usr/bin/env bash
# The real odomira program on a virtual X screen, driven only from outside as a user
# would: keys sent with xdotool, the result read from the printer simulator's log.
#   1. A file given on the command line opens; F5 asks every printer again, Ctrl+A
#      selects every row, Alt+P P O (Printer > Print > Odometers) prints the odometer report
#      on each; F1 opens the manual in the browser; File > Exit closes the window.
#   2. While another program holds the printer library's lock, start-up shows the
#      message, and the program ends with a non-zero status once it is answered.
# Needs: xvfb-run, xdotool. Environment: ODOMIRA_BIN_DIR (the build's bin folder).
set -euo pipefail
bin=${ODOMIRA_BIN_DIR:?}
if [[ -z ${IN_XVFB:-} ]]; then
    for tool in xvfb-run xdotool; do
        command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 0; }
    done
    exec env IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

work=$(mktemp -d /tmp/odomira-e2e.XXXXXX)
sim_pid= app_pid= holder_pid=
cleanup() {
    for p in $app_pid $holder_pid $sim_pid; do
        kill -TERM "$p" 2>/dev/null || true
    done
    for _ in $(seq 30); do
        alive=0
        for p in $app_pid $holder_pid $sim_pid; do
            kill -0 "$p" 2>/dev/null && alive=1
        done
        ((alive)) || break
        sleep 0.1
    done
    for p in $app_pid $holder_pid $sim_pid; do
        kill -KILL "$p" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    # What the program said is the first thing to read when it ended early.
    for out in "$work"/app*.out; do
        [[ -s $out ]] && sed "s|^|${out##*/}: |" "$out" | tail -n 40 >&2
    done
    exit 1
}

export VARKO_DEVICE_DIR=$work/devices VARKO_SETTINGS_ROOT=$work/settings
export XDG_RUNTIME_DIR=$work/run VARKO_DISCOVERY_BROADCAST=127.255.255.255
export QT_QPA_PLATFORM=xcb
mkdir -p "$VARKO_DEVICE_DIR" "$VARKO_SETTINGS_ROOT" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
log=$work/sim.jsonl

cat >"$work/fleet.txt" <<'FLEET'
[Dock]
kind = serial
com = 4
serial = E2E-1
head = 12
total = 34
[Bench]
kind = serial
com = 5
serial = E2E-2
FLEET
"$bin/odomira-printer-sim" --fleet "$work/fleet.txt" --no-discovery --log "$log" \
    >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!
for _ in $(seq 100); do
    grep -qx READY "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
grep -qx READY "$work/sim.out" || fail "simulator not ready: $(cat "$work/sim.err")"

vps=$work/e2e.vps
"$bin/odomira-cli" add "$vps" --name Dock --serial COM4 >/dev/null
"$bin/odomira-cli" add "$vps" --name Bench --serial COM5 >/dev/null

count() { grep -c "\"command\":\"$1\"" "$log" || true; }
wait_window() { # title; sets wid
    wid=
    for _ in $(seq 200); do
        wid=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
        [[ -n $wid ]] && return 0
        kill -0 "$app_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
# The program's visible windows: the main window, and a popup for each open menu.
windows() { xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l; }
wait_windows() { # count
    for _ in $(seq 100); do
        (($(windows) >= $1)) && return 0
        sleep 0.1
    done
    return 1
}
wait_for() { # condition command...
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# The desktop's browser, played by a script that notes what it was asked to open.
cat >"$work/browser" <<BROWSER
#!/bin/sh
echo "\$@" >>"$work/opened"
BROWSER
chmod +x "$work/browser"
export BROWSER=$work/browser DEFAULT_BROWSER=$work/browser

# 1. The list, driven by keys.
"$bin/odomira" "$vps" >"$work/app.out" 2>&1 </dev/null &
app_pid=$!
wait_window '^e2e\.vps - Odomira$' || fail "no window titled 'e2e.vps - Odomira'"
xdotool windowfocus --sync "$wid"
[[ $(count URS) == 2 ]] || fail "the list did not ask each printer once: $(count URS)"

xdotool key F5
asked_again() { (($(count URS) >= 4)); }
wait_for asked_again || fail "F5 did not ask the printers again"
# A refresh rebuilds the rows, so the selection comes after it.
xdotool key ctrl+a
base=$(windows)
xdotool key alt+p
wait_windows $((base + 1)) || fail "Alt+P did not open the Printer menu"
xdotool key p
wait_windows $((base + 2)) || fail "P did not open the Print menu"
xdotool key o
has_reports() { [[ $(count URLp) == 2 ]]; }
wait_for has_reports || fail "Printer > Print > Odometers did not reach both printers"
grep '"command":"URLp"' "$log" | grep -q '"hex":"0a55524c69700a"' \
    || fail "the odometer report command is not exactly LF URLip LF"

# F1 opens the manual built beside the program in the desktop's browser.
xdotool key F1
manual_opened() { grep -q "manual/index.html" "$work/opened" 2>/dev/null; }
wait_for manual_opened || fail "F1 did not open the manual: $(cat "$work/opened" 2>/dev/null)"

base=$(windows)
xdotool key alt+f
wait_windows $((base + 1)) || fail "Alt+F did not open the File menu"
xdotool key x 2>/dev/null || true
wait_for bash -c "! kill -0 $app_pid 2>/dev/null" || fail "File > Exit did not end the program"
wait "$app_pid" || fail "the program ended with status $?"
app_pid=

# 2. Another program holds the printers.
coproc HOLDER { "$bin/lock_holder"; }
holder_pid=$HOLDER_PID
read -r -u "${HOLDER[0]}" answer
[[ $answer == LOCKED ]] || fail "the lock holder did not take the lock: $answer"
"$bin/odomira" "$vps" >"$work/app2.out" 2>&1 </dev/null &
app_pid=$!
wait_window '^Odomira$' || fail "no message box while the lock is held"
xdotool windowfocus --sync "$wid"
xdotool key Return
# A second box follows for the Open step; answer every box until the program ends.
for _ in $(seq 50); do
    kill -0 "$app_pid" 2>/dev/null || break
    if wid=$(xdotool search --onlyvisible --name '^Odomira$' 2>/dev/null | head -n 1) && [[ -n $wid ]]; then
        xdotool windowfocus --sync "$wid" 2>/dev/null || true
        xdotool key Return 2>/dev/null || true
    fi
    sleep 0.2
done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end while the lock was held"
status=0
wait "$app_pid" || status=$?
app_pid=
((status != 0)) || fail "start-up under another program's lock ended with status 0"
echo "PASS: keys reached the commands; the lock ended start-up with status $status"
