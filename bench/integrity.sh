#!/usr/bin/env bash
# Benchmarks a whole window run of one large file (1 GiB, sparse) whose SHA-256 is configured, served
# by nginx on 127.0.0.1, beside what a player would otherwise do: curl -o, then sha256sum. ROUNDS times
# alternating after one untimed run of each; median wall and CPU times and their ratio.
# Usage: bench/integrity.sh [BUILD_DIR]     (default build/; ROUNDS=5 and SIZE_MIB=1024 may be set)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
rounds=${ROUNDS:-5}
size_mib=${SIZE_MIB:-1024}
bench="$build/bench/ostrel-window-bench"
for tool in "$bench" nginx /usr/bin/time curl sha256sum python3; do
    command -v "$tool" > /dev/null || { echo "missing $tool: build first; tools/deps installs nginx, time, curl" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-integrity-bench-XXXXXX")
source bench/common.sh
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$TMPDIR" "$work/files"
truncate -s "${size_mib}M" "$work/files/big.bin"
digest=$(sha256sum "$work/files/big.bin" | cut -d' ' -f1)
start_nginx "$work/files"
url="http://127.0.0.1:$port/big.bin"

# LABEL COMMAND...: runs COMMAND under /usr/bin/time and keeps its wall and CPU seconds.
measure() {
    local label=$1
    shift
    rm -rf "$HOME/Documents" "$work/curl.bin"
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > /dev/null 2>> "$work/tools.err" ||
        { echo "$label failed:" >&2; tail -n 5 "$work/tools.err" >&2; exit 1; }
    read -r wall user sys < "$work/time"
    echo "$label $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" >> "$work/runs"
}
window() { measure window "$bench" run "$url" "$digest"; }
curl_and_sum() { measure curl+sha256sum sh -c 'curl -s -o "$1" "$2" && sha256sum "$1"' sh "$work/curl.bin" "$url"; }

: > "$work/runs"
window
curl_and_sum
: > "$work/runs" # the untimed warm-up
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then window; curl_and_sum; else curl_and_sum; window; fi
done

echo "== ${size_mib} MiB with its SHA-256 from nginx over loopback, $rounds rounds each, alternating; medians =="
printf "%-14s %8s %8s\n" tool "wall s" "cpu s"
for tool in window curl+sha256sum; do
    printf "%-14s %8s %8s\n" "$tool" "$(column_of $tool 2 "$work/runs" | median)" "$(column_of $tool 3 "$work/runs" | median)"
done
awk -v w="$(column_of window 2 "$work/runs" | median)" -v c="$(column_of curl+sha256sum 2 "$work/runs" | median)" \
    'BEGIN { printf "wall ratio (window / curl + sha256sum): %.3f  (target <= 1)\n", w / c }'
[ -n "${VERBOSE:-}" ] && cat "$work/runs"
exit 0
