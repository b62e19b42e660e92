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
