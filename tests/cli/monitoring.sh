#!/usr/bin/env bash
# odomira-cli metrics as a monitoring system takes it: promtool accepts the output, a
# real node exporter (on 127.0.0.1) serves the textfile without a scrape error, and the
# example alerting rules load and fire when they should.
source "$(dirname "$0")/script-common.sh"
need_tools promtool prometheus-node-exporter curl python3
start_fleet

set +e
"$cli" list "$fleet" >/dev/null 2>"$scratch/list.err"
status=$?
set -e
check "list fails for the printer on a port nobody serves" test "$status" = 1
"$cli" head-life RX400 2000000 >/dev/null

"$cli" metrics "$fleet" >"$scratch/out.prom"
check "promtool check metrics accepts the output" promtool check metrics <"$scratch/out.prom"
check "head usage in metres" grep -qx \
    'odomira_head_usage_meters{name="Dock",serial="RX4-1",model="RX400",port="COM3"} 2.54' \
    "$scratch/out.prom"
check "head life in metres" grep -qx \
    'odomira_head_life_meters{name="Dock",serial="RX4-1",model="RX400",port="COM3"} 50800' \
    "$scratch/out.prom"
# The name as the format carries it: UTF-8, the quotes and the backslash escaped.
label='name="Caf'$'\xc3\xa9'' \"Q\" \\ back"'
check "the printer nobody serves did not answer" grep -qxF \
    "odomira_printer_answered{$label,serial=\"\",model=\"\",port=\"COM4\"} 0" "$scratch/out.prom"
check "a parallel printer cannot answer, and has no answered series" \
    test "$(grep -c 'name="Line"' "$scratch/out.prom")" = 1

textdir=$scratch/textfile
mkdir "$textdir"
"$cli" metrics "$fleet" --textfile "$textdir"
check "--textfile writes odomira.prom and nothing else" test "$(ls -A "$textdir")" = odomira.prom
check "--textfile writes what standard output gets" cmp -s "$scratch/out.prom" "$textdir/odomira.prom"
set +e
"$cli" metrics "$fleet" --textfile "$scratch/none" 2>"$scratch/textfile.err"
status=$?
set -e
check "a missing folder is an error" test "$status" = 1

port=$(free_port)
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$textdir" \
    >"$scratch/exporter.log" 2>&1 </dev/null &
pids+=($!)
scraped=$scratch/scraped.txt
for _ in $(seq 100); do
    curl -fsS "http://127.0.0.1:$port/metrics" >"$scraped" 2>/dev/null && break
    sleep 0.1
done
check "the node exporter serves its metrics" test -s "$scraped"
check "the textfile was read without a scrape error" grep -qx 'node_textfile_scrape_error 0' "$scraped"
check "the odomira series are served, labels sorted by the exporter" grep -qx \
    'odomira_head_usage_meters{model="RX400",name="Dock",port="COM3",serial="RX4-1"} 2.54' "$scraped"
check "the escaped name arrives intact" grep -qF "$label" "$scraped"
check "every family the file has is served" test \
    "$(grep -o '^# TYPE odomira_[a-z_]*' "$textdir/odomira.prom" | sort)" = \
    "$(grep -o '^# TYPE odomira_[a-z_]*' "$scraped" | sort)"

rules=$ODOMIRA_SOURCE_DIR/docs/odomira-alerts.yml
check "promtool check rules accepts the example alerts" promtool check rules "$rules"
check "the example alerts fire when they should" \
    promtool test rules "$ODOMIRA_SOURCE_DIR/tests/cli/odomira-alerts.test.yml"
if ((failures)); then
    cat "$scratch/out.prom" "$scratch/exporter.log" >&2
fi
finish
