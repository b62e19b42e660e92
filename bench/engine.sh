#!/usr/bin/env bash
# Benchmarks the HTTP engine against curl, both against ostrel-serve on 127.0.0.1:
#  1. a large file (1 GiB, sparse) fetched ROUNDS times by ostrel-fetch and by curl -o, alternating which goes
#     first, into the same folder, after one untimed run of each (page cache and allocator warm): median CPU
#     and wall times, their ratios, and peak RSS; plus ostrel-fetch on a 64 MiB file, to show that its peak
#     RSS does not grow with the file;
#  2. 1 000 HEAD requests for 1 000 small files, ROUNDS times each: one after another through one downloader
#     object (ostrel-head-bench), and by one curl -I process given all 1 000 URLs; with the connections used.
# Usage: bench/engine.sh [BUILD_DIR]      (default build/; ROUNDS=5 and SIZE_MIB=1024 may be set; VERBOSE=1
# also prints every run)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
rounds=${ROUNDS:-5}
size_mib=${SIZE_MIB:-1024}
heads=1000
fetch="$build/src/fetch/ostrel-fetch"
serve="$build/src/serve/ostrel-serve"
headbench="$build/bench/ostrel-head-bench"
for tool in "$fetch" "$serve" "$headbench" /usr/bin/time curl; do
    command -v "$tool" > /dev/null || { echo "missing $tool: build first; tools/deps installs time and curl" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-bench-XXXXXX")
source bench/common.sh
cleanup() {
    stop_server_at_exit
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_STATE_HOME="$work/state" # the engine's log stays in the work folder

# LABEL EXPECTED_SIZE COMMAND...: runs COMMAND, which writes $work/out.bin, and records its times and peak RSS.
measure() {
    local label=$1 expected=$2
    shift 2
    rm -f "$work/out.bin"
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2>> "$work/tools.err"
    local got
    got=$(stat -c %s "$work/out.bin")
    [ "$got" -eq "$expected" ] || { echo "$label wrote $got bytes, not $expected" >&2; exit 1; }
    echo "$label $(cat "$work/time")" >> "$work/results"
    rm -f "$work/out.bin"
}

mkdir -p "$work/files" "$work/heads"
truncate -s "${size_mib}M" "$work/files/big.bin"
truncate -s 64M "$work/files/small.bin"
big=$((size_mib * 1048576))
start_server "$work/files"
url="http://127.0.0.1:$port/big.bin"
curl -s -o /dev/null "$url"
measure warm "$big" "$fetch" "$url" "$work/out.bin"
measure warm "$big" curl -s -o "$work/out.bin" "$url"
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
        measure fetch "$big" "$fetch" "$url" "$work/out.bin"
        measure curl "$big" curl -s -o "$work/out.bin" "$url"
    else
        measure curl "$big" curl -s -o "$work/out.bin" "$url"
        measure fetch "$big" "$fetch" "$url" "$work/out.bin"
    fi
done
measure fetch-64MiB $((64 * 1048576)) "$fetch" "http://127.0.0.1:$port/small.bin" "$work/out.bin"
stop_server

awk '{ print $1, $2, $3 + $4, $5 }' "$work/results" > "$work/runs"
echo "== ${size_mib} MiB over loopback, $rounds rounds each, alternating; medians =="
printf "%-10s %8s %8s %14s\n" tool "wall s" "cpu s" "peak RSS KiB"
for tool in fetch curl; do
    printf "%-10s %8s %8s %14s\n" "$tool" "$(column_of $tool 2 "$work/runs" | median)" \
        "$(column_of $tool 3 "$work/runs" | median)" "$(column_of $tool 4 "$work/runs" | sort -n | tail -n 1)"
done
awk -v fw="$(column_of fetch 2 "$work/runs" | median)" -v cw="$(column_of curl 2 "$work/runs" | median)" \
    -v fc="$(column_of fetch 3 "$work/runs" | median)" -v cc="$(column_of curl 3 "$work/runs" | median)" 'BEGIN {
        printf "cpu ratio  (ostrel-fetch / curl): %.3f  (target <= 1.25)\n", fc / cc
        printf "wall ratio (ostrel-fetch / curl): %.3f  (target <= 1.10)\n", fw / cw
    }'
echo "peak RSS of ostrel-fetch for 64 MiB: $(column_of fetch-64MiB 4 "$work/runs") KiB"
[ -n "${VERBOSE:-}" ] && cat "$work/runs"

echo "== $heads HEAD requests one after another, $rounds rounds each; medians =="
for i in $(seq -f %04g 0 $((heads - 1))); do
    printf 'small file %s\n' "$i" > "$work/heads/f$i"
done
: > "$work/heads.runs"
for round in $(seq "$rounds"); do
    start_server "$work/heads"
    /usr/bin/time -f "%e" -o "$work/time" "$headbench" "http://127.0.0.1:$port/f" "$heads" > /dev/null 2>&1
    stop_server
    echo "ostrel $(cat "$work/time") $(cat "$work/served")" >> "$work/heads.runs"

    start_server "$work/heads"
    for i in $(seq -f %04g 0 $((heads - 1))); do
        echo "url = \"http://127.0.0.1:$port/f$i\""
    done > "$work/curl.cfg"
    /usr/bin/time -f "%e" -o "$work/time" curl -s -I -K "$work/curl.cfg" > /dev/null
    stop_server
    echo "curl $(cat "$work/time") $(cat "$work/served")" >> "$work/heads.runs"
done
for tool in ostrel curl; do
    seconds=$(column_of $tool 2 "$work/heads.runs" | median)
    printf "%-7s %s requests/s (process %s s); %s\n" "$tool" \
        "$(awk -v s="$seconds" -v n=$heads 'BEGIN { printf "%.0f", n / s }')" "$seconds" \
        "$(awk -v t=$tool '$1 == t { $1 = $2 = ""; print }' "$work/heads.runs" | sort -u | tr '\n' ' ')"
done
echo "(ostrel: one CHttpDownloader2 object, HEAD, ~12 log lines per transfer; curl: one process, all URLs)"
[ -n "${VERBOSE:-}" ] && cat "$work/heads.runs"
exit 0
