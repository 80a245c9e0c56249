#!/usr/bin/env bash
# ./scripts/run as CI runs it (CI=true, no input): it must end by itself, with the
# window's screenshot of the filled demo list and the command-line listing.
set -euo pipefail
root=${ODOMIRA_SOURCE_DIR:?}
shot=$(mktemp -d /tmp/odomira-demo-test.XXXXXX)/demo.png
trap 'rm -rf "$(dirname "$shot")"' EXIT
out=$(CI=true ODOMIRA_RUN_PREBUILT=1 ODOMIRA_BUILD_DIR=${ODOMIRA_BUILD_DIR:?} \
      ODOMIRA_DEMO_SCREENSHOT=$shot timeout 150 "$root/scripts/run" </dev/null 2>&1) || {
    echo "$out"
    echo "FAIL: scripts/run ended with an error"
    exit 1
}
echo "$out" | tail -n 15
[[ -s $shot ]] || { echo "FAIL: no screenshot at $shot"; exit 1; }
# A real picture of a window, not an empty one.
size=$(identify -format '%w %h' "$shot")
read -r w h <<<"$size"
((w >= 400 && h >= 200)) || { echo "FAIL: screenshot is only ${w}x${h}"; exit 1; }
grep -q "screenshot of the filled list: $shot" <<<"$out" || { echo "FAIL: not reported"; exit 1; }
grep -q "^Shipping Dock" <<<"$out" || { echo "FAIL: no odomira-cli listing"; exit 1; }
# The demo's folder is gone, and its simulator with it.
work=$(grep -o '/tmp/odomira-demo\.[A-Za-z0-9]*' <<<"$out" | head -n 1)
[[ -n $work ]] || { echo "FAIL: the demo's folder was not named"; exit 1; }
[[ ! -e $work ]] || { echo "FAIL: $work was left behind"; exit 1; }
if pgrep -f "odomira-printer-sim.*$work" >/dev/null; then
    echo "FAIL: the simulator of $work still runs"
    exit 1
fi
echo "PASS: the headless demo ended by itself with a ${w}x${h} screenshot"
