#!/usr/bin/env bash
# Benchmarks the window's own work against curl, both against ostrel-serve on 127.0.0.1:
#  1. a whole download run of one large file (1 GiB, sparse) by the window and its worker
#     (ostrel-window-bench run), beside curl -o of the same file, ROUNDS times alternating after one
#     untimed run of each: median wall and CPU times with their ratios, and the largest gap between two
#     ticks of the window's one-second timer during the runs (how long the window thread was ever busy);
#  2. the window's size survey of 1 000 small files (ostrel-window-bench survey), beside one curl -I
#     process given all 1 000 URLs.
# Usage: bench/window.sh [BUILD_DIR]     (default build/; ROUNDS=3 and SIZE_MIB=1024 may be set)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
rounds=${ROUNDS:-3}
size_mib=${SIZE_MIB:-1024}
heads=1000
serve="$build/src/serve/ostrel-serve"
bench="$build/bench/ostrel-window-bench"
for tool in "$serve" "$bench" /usr/bin/time curl; do
    command -v "$tool" > /dev/null || { echo "missing $tool: build first; tools/deps installs time and curl" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-window-bench-XXXXXX")
source bench/common.sh
cleanup() {
    stop_server_at_exit
    rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$TMPDIR"
download="$HOME/Documents/AmbrelLauncher"

# LABEL COMMAND...: runs COMMAND under /usr/bin/time, keeping wall and CPU seconds and its own output.
measure() {
    local label=$1
    shift
    rm -rf "$download" "$work/curl.bin"
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > "$work/out" 2>> "$work/tools.err"
    read -r wall user sys < "$work/time"
    echo "$label $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $(cat "$work/out" | tr '\n' ' ')" \
        >> "$work/runs"
}

mkdir -p "$work/files" "$work/heads"
truncate -s "${size_mib}M" "$work/files/big.bin"
start_server "$work/files"
url="http://127.0.0.1:$port/big.bin"
: > "$work/runs"
measure warm "$bench" run "$url"
measure warm curl -s -o "$work/curl.bin" "$url"
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
        measure window "$bench" run "$url"
        measure curl curl -s -o "$work/curl.bin" "$url"
    else
        measure curl curl -s -o "$work/curl.bin" "$url"
        measure window "$bench" run "$url"
    fi
done
# A longer run at 100 MiB/s, so that the timer ticks a dozen times while data flows.
measure paced "$bench" run "$url?rate=104857600"
stop_server

echo "== whole run of ${size_mib} MiB over loopback, $rounds rounds each, alternating; medians =="
printf "%-8s %8s %8s\n" tool "wall s" "cpu s"
for tool in window curl; do
    printf "%-8s %8s %8s\n" "$tool" "$(column_of $tool 2 "$work/runs" | median)" "$(column_of $tool 3 "$work/runs" | median)"
done
awk -v ww="$(column_of window 2 "$work/runs" | median)" -v cw="$(column_of curl 2 "$work/runs" | median)" \
    -v wc="$(column_of window 3 "$work/runs" | median)" -v cc="$(column_of curl 3 "$work/runs" | median)" 'BEGIN {
        printf "wall ratio (window / curl): %.3f  (target <= 1.15)\n", ww / cw
        printf "cpu ratio  (window / curl): %.3f\n", wc / cc
    }'
echo "run seconds inside the window (without start-up): $(awk '$1 == "window"' "$work/runs" | grep -o 'run seconds=[0-9.]*' | cut -d= -f2 | tr '\n' ' ')"
echo "paced run at 100 MiB/s: $(awk '$1 == "paced"' "$work/runs" | grep -o 'run seconds=.*')"
echo "longest gap between two timer ticks over all runs, ms: $(grep -o 'longest_tick_gap_ms=[0-9.]*' "$work/runs" | cut -d= -f2 | sort -g | tail -n 1)  (target < 1100: every tick at most 100 ms late)"

echo "== size survey of $heads small files, $rounds rounds each; medians =="
for i in $(seq -f %04g 0 $((heads - 1))); do
    printf 'small file %s\n' "$i" > "$work/heads/f$i"
done
: > "$work/heads.runs"
for round in $(seq "$rounds"); do
    start_server "$work/heads"
    "$bench" survey "http://127.0.0.1:$port/f" "$heads" 2> /dev/null | grep -o 'seconds=[0-9.]*' | head -n 1 |
        sed 's/^/window /' >> "$work/heads.runs"
    for i in $(seq -f %04g 0 $((heads - 1))); do
        echo "url = \"http://127.0.0.1:$port/f$i\""
    done > "$work/curl.cfg"
    /usr/bin/time -f "%e" -o "$work/time" curl -s -I -K "$work/curl.cfg" > /dev/null
    echo "curl seconds=$(cat "$work/time")" >> "$work/heads.runs"
    stop_server
done
for tool in window curl; do
    seconds=$(awk -v t=$tool '$1 == t { sub("seconds=", "", $2); print $2 }' "$work/heads.runs" | median)
    printf "%-7s %s requests/s (%s s for %s)\n" "$tool" \
        "$(awk -v s="$seconds" -v n=$heads 'BEGIN { printf "%.0f", n / s }')" "$seconds" "$heads"
done
echo "(window: the survey's own loop, a fresh downloader per file on shared connections, its log lines;"
echo " curl: one process given all URLs)"
[ -n "${VERBOSE:-}" ] && cat "$work/runs" "$work/heads.runs"
exit 0
