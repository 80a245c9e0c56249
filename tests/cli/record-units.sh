#!/usr/bin/env bash
# The hourly recording's systemd user units: systemd-analyze accepts them, and a real
# user manager (run in a mount namespace of this check, so that it believes the machine
# booted with systemd) starts the timer with the one documented command and runs the
# service against the simulator: the readings reach the history and the textfile is
# refreshed, after a failed list too.
source "$(dirname "$0")/script-common.sh"
need_tools systemd-analyze systemctl
units=$ODOMIRA_SOURCE_DIR/data/systemd

# The manual page the units name, as the package installs it.
mkdir -p "$scratch/man/man1"
ln -s "$ODOMIRA_BIN_DIR/../data/man/odomira-cli.1.gz" "$scratch/man/man1/"
check "systemd-analyze verify accepts the units" env MANPATH="$scratch/man" \
    systemd-analyze --user verify "$units/odomira-record.service" "$units/odomira-record.timer"
check "the timer is hourly with a randomised delay" \
    grep -qx 'OnCalendar=hourly' "$units/odomira-record.timer"
grep -q '^RandomizedDelaySec=' "$units/odomira-record.timer" || fail "no randomised delay"
systemd-analyze calendar hourly --iterations 2

if [[ $(id -u) -ne 0 ]] || ! unshare -m --propagation private true 2>/dev/null; then
    echo "skipped: a user manager needs root for a mount namespace of its own here"
    finish
    exit 0
fi

start_fleet
home=$scratch/home
mkdir -p "$home/.config/odomira" "$home/.config/systemd/user" "$scratch/textfile"
cp "$units/odomira-record.service" "$units/odomira-record.timer" "$home/.config/systemd/user/"
cat >"$home/.config/odomira/record.env" <<ENV
ODOMIRA_FLEET=$fleet
ODOMIRA_TEXTFILE_DIR=$scratch/textfile
PATH=$ODOMIRA_BIN_DIR:/usr/bin:/bin
VARKO_SETTINGS_ROOT=$VARKO_SETTINGS_ROOT
VARKO_DEVICE_DIR=$VARKO_DEVICE_DIR
ENV

cat >"$scratch/inside.sh" <<'INSIDE'
set -euo pipefail
# Only this namespace sees the marker of a machine booted with systemd.
mount -t tmpfs tmpfs /run/systemd
mkdir /run/systemd/system
export XDG_RUNTIME_DIR=$scratch/user-run HOME=$home XDG_CONFIG_HOME=$home/.config
unset DBUS_SESSION_BUS_ADDRESS
mkdir -m 700 "$XDG_RUNTIME_DIR"
/lib/systemd/systemd --user >"$scratch/manager.log" 2>&1 </dev/null &
manager=$!
trap 'kill -TERM $manager; wait $manager || true' EXIT
for _ in $(seq 100); do
    state=$(systemctl --user is-system-running 2>/dev/null || true)
    [[ $state == running || $state == degraded ]] && break
    sleep 0.1
done
systemctl --user enable --now odomira-record.timer
systemctl --user list-timers --all --no-pager >"$scratch/timers.txt"
# The fleet holds a printer on a port nobody serves: the list fails, the textfile is
# refreshed all the same.
systemctl --user start odomira-record.service || true
systemctl --user show -p Result -p ExecMainStatus odomira-record.service >"$scratch/first.txt"
cp "$ODOMIRA_TEXTFILE_DIR/odomira.prom" "$scratch/first.prom" || true
"$ODOMIRA_BIN_DIR/odomira-cli" remove -q "$ODOMIRA_FLEET_FILE" "$odd_name" >/dev/null
systemctl --user start odomira-record.service
systemctl --user show -p Result -p ExecMainStatus odomira-record.service >"$scratch/second.txt"
mv "$home/.config/odomira/record.env" "$scratch/record.env"
systemctl --user start odomira-record.service || true
systemctl --user show -p Result -p ExecMainStatus odomira-record.service >"$scratch/third.txt"
INSIDE
set +e
scratch=$scratch home=$home odd_name=$odd_name ODOMIRA_BIN_DIR=$ODOMIRA_BIN_DIR \
    ODOMIRA_FLEET_FILE=$fleet ODOMIRA_TEXTFILE_DIR=$scratch/textfile timeout 120 unshare -m --propagation private bash "$scratch/inside.sh"
status=$?
set -e
check "the user manager ran the units" test "$status" = 0
[[ -f $scratch/timers.txt ]] && cat "$scratch/timers.txt"
check "list-timers shows the timer and its service" \
    grep -q 'odomira-record\.timer *odomira-record\.service' "$scratch/timers.txt"
check "a failed list fails the service" grep -qx 'ExecMainStatus=1' "$scratch/first.txt"
check "a good list succeeds" grep -qx 'Result=success' "$scratch/second.txt"
check "without record.env the service says what is missing" grep -qx 'ExecMainStatus=78' \
    "$scratch/third.txt"
check "the textfile was written after the failed list" \
    grep -q '^odomira_printer_answered{name="Dock",.* 1$' "$scratch/first.prom"
readings=$("$cli" history "$fleet" Dock --csv 2>/dev/null | wc -l)
check "the readings reached the odometer history" test "$readings" -ge 2
if ((failures)); then
    cat "$scratch/manager.log" "$scratch"/first.txt "$scratch"/second.txt >&2 || true
fi
finish
