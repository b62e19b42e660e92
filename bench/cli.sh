#!/usr/bin/env bash
# Benchmarks ostrel-cli against curl on one large file (1 GiB, sparse) served by nginx on 127.0.0.1:
# the whole run of the launcher (survey, transfer, size check; no report, no installer) beside
# curl -o, ROUNDS times alternating after one untimed run of each; median wall and CPU times and their
# ratio.
# Usage: bench/cli.sh [BUILD_DIR]     (default build/; ROUNDS=5 and SIZE_MIB=1024 may be set)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
rounds=${ROUNDS:-5}
size_mib=${SIZE_MIB:-1024}
cli="$build/src/cli/ostrel-cli"
for tool in "$cli" nginx /usr/bin/time curl python3; do
    command -v "$tool" > /dev/null || { echo "missing $tool: build first; tools/deps installs nginx, time, curl" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-cli-bench-XXXXXX")
source bench/common.sh
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$TMPDIR" "$work/files"
truncate -s "${size_mib}M" "$work/files/big.bin"
start_nginx "$work/files"
url="http://127.0.0.1:$port/big.bin"
python3 - "$url" > "$work/config.xml" <<'PY'
import re, sys
text = open("res/config.xml", encoding="utf-8").read()
print(re.sub(r"<Files>.*</Files>", f'<Files><File Url="{sys.argv[1]}"/></Files>', text, flags=re.S))
PY

# LABEL COMMAND...: runs COMMAND under /usr/bin/time and keeps its wall and CPU seconds.
measure() {
    local label=$1
    shift
    rm -rf "$work/out"
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > /dev/null 2>> "$work/tools.err" ||
        { echo "$label failed:" >&2; tail -n 5 "$work/tools.err" >&2; exit 1; }
    read -r wall user sys < "$work/time"
    echo "$label $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" >> "$work/runs"
}
ostrel() { measure ostrel-cli "$cli" --config "$work/config.xml" --dir "$work/out" --overwrite --no-report --no-exec; }
curl_o() { measure curl curl -s -o "$work/curl.bin" "$url"; rm -f "$work/curl.bin"; }

: > "$work/runs"
ostrel
curl_o
: > "$work/runs" # the untimed warm-up
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then ostrel; curl_o; else curl_o; ostrel; fi
done

echo "== ${size_mib} MiB from nginx over loopback, $rounds rounds each, alternating; medians =="
printf "%-10s %8s %8s\n" tool "wall s" "cpu s"
for tool in ostrel-cli curl; do
    printf "%-10s %8s %8s\n" "$tool" "$(column_of $tool 2 "$work/runs" | median)" "$(column_of $tool 3 "$work/runs" | median)"
done
awk -v ow="$(column_of ostrel-cli 2 "$work/runs" | median)" -v cw="$(column_of curl 2 "$work/runs" | median)" \
    'BEGIN { printf "wall ratio (ostrel-cli / curl): %.3f  (target <= 1.05)\n", ow / cw }'
[ -n "${VERBOSE:-}" ] && cat "$work/runs"
exit 0
