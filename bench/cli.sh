#!/usr/bin/env bash
# Benchmarks ostrel-cli against curl on one large file (1 GiB, sparse) served by nginx on 127.0.0.1:
# the whole run of the launcher (survey, transfer, size check; no report, no installer) beside
# curl -o, ROUNDS times alternating after one untimed run of each; median wall and CPU times and their
# ratio.
# Usage: bench/cli.sh [BUILD_DIR]     (default build/; ROUNDS=5 and SIZE_MIB=1024 may be set)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

build=${1:-build}
rounds=${ROUNDS:-5}
size_mib=${SIZE_MIB:-1024}
cli="$build/src/cli/ostrel-cli"
require_tools "$cli" nginx /usr/bin/time curl python3
make_work cli-bench
trap 'stop_nginx; rm -rf "$work"' EXIT
truncate -s "${size_mib}M" "$work/files/big.bin"
start_nginx "$work/files"
url="http://127.0.0.1:$port/big.bin"
one_file_config "$url" > "$work/config.xml"

ostrel() {
    rm -rf "$work/out"
    timed ostrel-cli "$cli" --config "$work/config.xml" --dir "$work/out" --overwrite --no-report --no-exec
}
curl_o() {
    timed curl curl -s -o "$work/curl.bin" "$url"
    rm -f "$work/curl.bin"
}
alternate "$rounds" ostrel curl_o
report_medians "${size_mib} MiB from nginx over loopback, $rounds rounds each, alternating" ostrel-cli curl 1.05
