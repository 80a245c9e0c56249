# Shared by the shell checks of odomira-cli: private settings, devices and lock in a
# scratch folder removed on exit, checks that report and go on, and the printer
# simulator with a small fleet.
#
# Environment (set by CMakeLists.txt): ODOMIRA_BIN_DIR, ODOMIRA_SOURCE_DIR.
set -euo pipefail
: "${ODOMIRA_BIN_DIR:?}" "${ODOMIRA_SOURCE_DIR:?}"

cli=$ODOMIRA_BIN_DIR/odomira-cli
scratch=$(mktemp -d "${TMPDIR:-/tmp}/odomira-cli-check.XXXXXX")
export VARKO_SETTINGS_ROOT=$scratch/settings VARKO_DEVICE_DIR=$scratch/devices
export XDG_RUNTIME_DIR=$scratch/run VARKO_DISCOVERY_BROADCAST=127.255.255.255
mkdir -p "$VARKO_SETTINGS_ROOT" "$VARKO_DEVICE_DIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Processes this check started, stopped on exit by their process ids.
pids=()
on_exit() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap on_exit EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
    if ((failures)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

need_tools() {
    local t missing=()
    for t in "$@"; do
        command -v "$t" >/dev/null 2>&1 || missing+=("$t")
    done
    if ((${#missing[@]})); then
        echo "FAIL: missing tools: ${missing[*]} (scripts/setup installs them)" >&2
        exit 1
    fi
}

# Starts the simulator with a serial (Dock, COM3) and a USB (Office) printer and writes
# $scratch/fleet.vps with them, a parallel printer (Line) and a serial printer on a port
# nobody serves, under a name the escapes must carry: Latin-1 text, quotes, a backslash.
odd_name=$'Caf\xe9 "Q" \\ back'
start_fleet() {
    cat >"$scratch/sim-fleet.txt" <<'FLEET'
[Dock]
kind = serial
com = 3
model = RX400
serial = RX4-1
head = 100
total = 2000
[Office]
kind = usb
link = lp0
model = RX200
serial = RX2-9
head = 5
total = 60
FLEET
    "$ODOMIRA_BIN_DIR/odomira-printer-sim" --fleet "$scratch/sim-fleet.txt" \
        --device-dir "$VARKO_DEVICE_DIR" --no-discovery \
        >"$scratch/sim.out" 2>"$scratch/sim.err" </dev/null &
    pids+=($!)
    for _ in $(seq 100); do
        grep -qx READY "$scratch/sim.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -qx READY "$scratch/sim.out" || { cat "$scratch/sim.err" >&2; echo "FAIL: simulator" >&2; exit 1; }
    fleet=$scratch/fleet.vps
    "$cli" add "$fleet" -q --name Dock --serial COM3 --model RX400 >/dev/null
    "$cli" add "$fleet" -q --name Office --usb "$VARKO_DEVICE_DIR/usb/lp0" >/dev/null
    "$cli" add "$fleet" -q --name Line --parallel LPT2 >/dev/null
    "$cli" add "$fleet" -q --name "$odd_name" --serial COM4 >/dev/null
}

# A TCP port on 127.0.0.1 that nothing listens on now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
