# Shared by the benchmark scripts: the work folder, ostrel-serve on 127.0.0.1 and the statistics.
# Expects $serve (the server program) and $work (a fresh folder removed at exit by the caller's trap).

server_pid=""

stop_server_at_exit() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2> /dev/null || true
        wait "$server_pid" 2> /dev/null || true
    fi
}

start_server() { # ROOT: serves ROOT, sets port and server_pid
    : > "$work/port"
    "$serve" --root "$1" --port 0 > "$work/port" 2> "$work/serve.err" &
    server_pid=$!
    for _ in $(seq 200); do
        [ -s "$work/port" ] && break
        sleep 0.05
    done
    port=$(head -n 1 "$work/port")
}

stop_server() { # leaves "N requests on M connections" in $work/served
    kill "$server_pid"
    wait "$server_pid" || true
    server_pid=""
    grep -o '[0-9]* requests on [0-9]* connections' "$work/serve.err" > "$work/served" || true
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_of() { awk -v t="$1" -v c="$2" '$1 == t { print $c }' "$3"; }

nginx_pid=""

# ROOT (inside $work): serves ROOT with nginx on a free loopback port, sets port and nginx_pid.
start_nginx() {
    mkdir -p "$work/nginx"
    # Run as root, nginx's workers take another user, who must reach the files.
    chmod o+x "$work"
    chmod -R o+rX "$1"
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    fastcgi_temp_path $work/nginx;
    uwsgi_temp_path $work/nginx;
    scgi_temp_path $work/nginx;
    server { listen 127.0.0.1:$port; root $1; }
}
CONF
    nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
    nginx_pid=$!
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && break
        sleep 0.05
    done
}

stop_nginx() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2> /dev/null || true
        wait "$nginx_pid" 2> /dev/null || true
        nginx_pid=""
    fi
}

# TOOL...: each must exist, else the benchmark ends with a hint.
require_tools() {
    for tool in "$@"; do
        command -v "$tool" > /dev/null ||
            { echo "missing $tool: build first; tools/deps installs nginx, time and curl" >&2; exit 1; }
    done
}

# NAME: a fresh $work with a player's own home, state, configuration and temporary folders.
make_work() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-$1-XXXXXX")
    export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"
    mkdir -p "$HOME" "$TMPDIR" "$work/files"
}

# URL [ATTRIBUTES]: the example configuration with URL as its one file, on standard output.
one_file_config() {
    python3 - "$1" "${2:-}" <<'PY'
import re, sys
text = open("res/config.xml", encoding="utf-8").read()
file = f'<File Url="{sys.argv[1]}" {sys.argv[2]}/>'
print(re.sub(r"<Files>.*</Files>", lambda _: f"<Files>{file}</Files>", text, flags=re.S))
PY
}

# LABEL COMMAND...: runs COMMAND under /usr/bin/time and appends LABEL, its wall and CPU seconds to
# $work/runs; a failed run ends the benchmark with its last error lines.
timed() {
    local label=$1
    shift
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > /dev/null 2>> "$work/tools.err" ||
        { echo "$label failed:" >&2; tail -n 5 "$work/tools.err" >&2; exit 1; }
    read -r wall user sys < "$work/time"
    echo "$label $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" >> "$work/runs"
}

# ROUNDS FIRST SECOND: the two shell functions in turns, which goes first alternating, after one
# untimed run of each.
alternate() {
    "$2"
    "$3"
    : > "$work/runs"
    for round in $(seq "$1"); do
        if [ $((round % 2)) -eq 1 ]; then "$2"; "$3"; else "$3"; "$2"; fi
    done
}

# TITLE TOOL BASE TARGET: the median wall and CPU times of the labels TOOL and BASE in $work/runs, and
# the ratio of their wall times against TARGET.
report_medians() {
    echo "== $1; medians =="
    printf "%-16s %8s %8s\n" tool "wall s" "cpu s"
    for tool in "$2" "$3"; do
        printf "%-16s %8s %8s\n" "$tool" "$(column_of "$tool" 2 "$work/runs" | median)" \
            "$(column_of "$tool" 3 "$work/runs" | median)"
    done
    awk -v t="$(column_of "$2" 2 "$work/runs" | median)" -v b="$(column_of "$3" 2 "$work/runs" | median)" \
        -v name="$2 / $3" -v target="$4" 'BEGIN { printf "wall ratio (%s): %.3f  (target <= %s)\n", name, t / b, target }'
    [ -z "${VERBOSE:-}" ] || cat "$work/runs"
}
