#!/usr/bin/env bash
# An installed tree finds a USB printer: odomira-cli from the tree runs detection, and the
# printer library loads libVarkoUSB.so from its installed folder (nothing else points it
# there: no LD_LIBRARY_PATH, no VARKO_USB_LIBRARY). The printer is a simulated one, on a
# pseudo-terminal linked from a private device folder. Waits out the 10-second network
# search, which stays on loopback on a port of its own.
source "$(dirname "$0")/common.sh"
need_tools cmake

tree=$scratch/root
install_tree "$tree"
bin=$tree/usr/bin

export VARKO_DEVICE_DIR=$scratch/devices VARKO_SETTINGS_ROOT=$scratch/settings
export XDG_RUNTIME_DIR=$scratch/run VARKO_DISCOVERY_BROADCAST=127.255.255.255
export VARKO_DISCOVERY_PORT=$((20000 + RANDOM % 30000))
unset VARKO_USB_LIBRARY LD_LIBRARY_PATH
mkdir -p "$VARKO_DEVICE_DIR" "$VARKO_SETTINGS_ROOT" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

"$bin/odomira-printer-sim" --no-discovery --device-dir "$VARKO_DEVICE_DIR" \
    --printer "name=Dock,kind=usb,link=lp0,model=RX200,serial=USB-4711,head=12,total=345" \
    >"$scratch/sim.out" 2>"$scratch/sim.err" </dev/null &
sim=$!
cleanups+=("kill -TERM $sim 2>/dev/null; wait $sim 2>/dev/null")
for _ in $(seq 100); do
    grep -qx READY "$scratch/sim.out" && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.1
done
if ! grep -qx READY "$scratch/sim.out"; then
    cat "$scratch/sim.err" >&2
    fail "the installed odomira-printer-sim did not get ready"
    finish
fi

vps=$scratch/fleet.vps
"$bin/odomira-cli" detect "$vps" >"$scratch/detect.out" 2>&1 </dev/null || true
list=$("$bin/odomira-cli" list "$vps" --json 2>&1 </dev/null || true)
if [[ $list == *'"serial_number": "USB-4711"'* && $list == *'"port": "USB"'* ]]; then
    pass "detection from the installed tree found the USB printer and read its serial number"
else
    fail "detection from the installed tree did not find the USB printer"
    cat "$scratch/detect.out" >&2
    echo "$list" >&2
fi
finish
