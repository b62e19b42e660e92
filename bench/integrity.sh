#!/usr/bin/env bash
# Benchmarks a whole window run of one large file (1 GiB, sparse) whose SHA-256 is configured, served
# by nginx on 127.0.0.1, beside what a player would otherwise do: curl -o, then sha256sum. ROUNDS times
# alternating after one untimed run of each; median wall and CPU times and their ratio.
# Usage: bench/integrity.sh [BUILD_DIR]     (default build/; ROUNDS=5 and SIZE_MIB=1024 may be set)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

build=${1:-build}
rounds=${ROUNDS:-5}
size_mib=${SIZE_MIB:-1024}
bench="$build/bench/ostrel-window-bench"
require_tools "$bench" nginx /usr/bin/time curl sha256sum python3
make_work integrity-bench
trap 'stop_nginx; rm -rf "$work"' EXIT
truncate -s "${size_mib}M" "$work/files/big.bin"
digest=$(sha256sum "$work/files/big.bin" | cut -d' ' -f1)
start_nginx "$work/files"
url="http://127.0.0.1:$port/big.bin"

window() {
    rm -rf "$HOME/Documents"
    timed window "$bench" run "$url" "$digest"
}
curl_and_sum() {
    timed curl+sha256sum sh -c 'curl -s -o "$1" "$2" && sha256sum "$1"' sh "$work/curl.bin" "$url"
    rm -f "$work/curl.bin"
}
alternate "$rounds" window curl_and_sum
report_medians "${size_mib} MiB with its SHA-256 from nginx over loopback, $rounds rounds each, alternating" \
    window curl+sha256sum 1
