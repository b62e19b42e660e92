#!/usr/bin/env python3
"""Runs ostrel-cli against web servers nobody here wrote: Apache, busybox httpd, Python's http.server,
nginx over HTTPS with HTTP/2 (its certificate from a private authority made here with openssl), lighttpd
and Caddy over plain HTTP.

Each server serves a data file, an empty file and an installer script on 127.0.0.1. For each server:
a fresh run, a run interrupted with SIGINT halfway, a continued run, and a run after the server's file
was replaced by another version of the same size while a part of the old one was on disk; then a big
file (fetched in pieces where the server answers ranges of a version), interrupted and continued. Every
file must end byte for byte equal to what the server has then; nginx's access log must show every
request made over HTTP/2, and where a server logs them, the big file's pieces with If-Range. Caddy logs
in JSON; its request line, Range and If-Range are read from there into the same plain lines as the
others' logs.

The servers' own ways: Apache names a file changed within the current second by a weak ETag and matches
a date in If-Range only to a whole-second time, so the big file is dated back to a whole second;
lighttpd sends neither ETag nor Last-Modified for a file without a type and writes its log out only
every few seconds, so it is given a type and its log is read after it stopped.

Servers that are not installed are skipped (tools/deps installs them).
Usage: tools/real_servers.py [--cli PATH_OF_OSTREL_CLI]
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA_SIZE = 3 * 1024 * 1024
BIG_SIZE = 17 * 1024 * 1024  # fetched in pieces over several connections
LIMIT = "600K"  # slow enough to interrupt halfway
INSTALLER = b"#!/bin/sh\necho installed > installed.txt\n"

APACHE_CONF = """ServerRoot "{root}"
ServerName 127.0.0.1
Listen 127.0.0.1:{port}
LoadModule mpm_prefork_module /usr/lib/apache2/modules/mod_mpm_prefork.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
User www-data
Group www-data
PidFile "{root}/apache.pid"
ErrorLog "{root}/error.log"
LogFormat "%r %>s range=[%{{Range}}i] if-range=[%{{If-Range}}i]" plain
CustomLog "{root}/access.log" plain
DocumentRoot "{served}"
<Directory "{served}">
    Require all granted
</Directory>
"""

NGINX_CONF = """daemon off;
worker_processes 1;
pid {root}/nginx.pid;
error_log {root}/error.log;
events {{
    worker_connections 64;
}}
http {{
    log_format plain '$request $status range=[$http_range] if-range=[$http_if_range]';
    access_log {root}/access.log plain;
    client_body_temp_path {root}/temp;
    proxy_temp_path {root}/temp;
    fastcgi_temp_path {root}/temp;
    uwsgi_temp_path {root}/temp;
    scgi_temp_path {root}/temp;
    server {{
        listen 127.0.0.1:{port} ssl http2;
        ssl_certificate {root}/server.pem;
        ssl_certificate_key {root}/server.key;
        root {served};
    }}
}}
"""

LIGHTTPD_CONF = """server.document-root = "{served}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{root}/error.log"
server.modules = ("mod_accesslog")
accesslog.filename = "{root}/access.log"
accesslog.format = "%r %>s range=[%{{Range}}i] if-range=[%{{If-Range}}i]"
# Without a type of its own lighttpd sends a file with neither ETag nor Last-Modified.
mimetype.assign = ("" => "application/octet-stream")
"""

CADDY_CONF = """{{
    admin off
    auto_https off
    storage file_system {root}/caddy
}}
http://127.0.0.1:{port} {{
    root * {served}
    file_server
    log {{
        output file {root}/caddy-access.json
        format json
    }}
}}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def write_conf(work, name, template, served, port):
    """The server's configuration file `name` in the work folder, from `template`; its path."""
    conf = os.path.join(work, name)
    with open(conf, "w") as f:
        f.write(template.format(root=work, port=port, served=served))
    return conf


def start_apache(work, served, port):
    if shutil.which("apache2") is None and not os.path.exists("/usr/sbin/apache2"):
        return None
    conf = write_conf(work, "apache.conf", APACHE_CONF, served, port)
    # -X: one process in the foreground, ours to end by its PID.
    return subprocess.Popen(["/usr/sbin/apache2", "-X", "-f", conf], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def start_busybox(work, served, port):
    if shutil.which("busybox") is None:
        return None
    return subprocess.Popen(["busybox", "httpd", "-f", "-p", f"127.0.0.1:{port}", "-h", served],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_python(work, served, port):
    return subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1",
                             "--directory", served], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(work):
    """A private authority (ca.pem) and a certificate for 127.0.0.1 that it signed; False without openssl."""
    if shutil.which("openssl") is None:
        return False
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    ext = os.path.join(work, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    steps = [
        ["req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=ostrel test authority"],
        ["req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"],
        ["x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2",
         "-extfile", ext, "-out", "server.pem"],
    ]
    return all(subprocess.run(["openssl", *step], cwd=work, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0 for step in steps)


def start_nginx(work, served, port):
    if shutil.which("nginx") is None and not os.path.exists("/usr/sbin/nginx"):
        return None
    if not make_certificates(work):
        return None
    os.makedirs(os.path.join(work, "temp"))
    conf = write_conf(work, "nginx.conf", NGINX_CONF, served, port)
    # daemon off: the master stays in the foreground, ours to end by its PID; -e: no start-up error log
    # in the system's folder.
    return subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx", "-c", conf, "-p", work, "-e",
                             os.path.join(work, "error.log")], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_lighttpd(work, served, port):
    if shutil.which("lighttpd") is None and not os.path.exists("/usr/sbin/lighttpd"):
        return None
    conf = write_conf(work, "lighttpd.conf", LIGHTTPD_CONF, served, port)
    # -D: stays in the foreground, ours to end by its PID.
    return subprocess.Popen([shutil.which("lighttpd") or "/usr/sbin/lighttpd", "-D", "-f", conf],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_caddy(work, served, port):
    if shutil.which("caddy") is None:
        return None
    conf = write_conf(work, "Caddyfile", CADDY_CONF, served, port)
    # Its saved configuration and data stay in the work folder, not the user's.
    env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "caddy"),
               XDG_DATA_HOME=os.path.join(work, "caddy"))
    return subprocess.Popen(["caddy", "run", "--config", conf, "--adapter", "caddyfile"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def plain_log(work):
    """The lines of access.log, each "request status range=[...] if-range=[...]"; None without a log."""
    log = os.path.join(work, "access.log")
    if not os.path.exists(log):
        return None
    with open(log) as f:
        return [line.strip() for line in f]


def caddy_log(work):
    """Caddy's JSON access log in the plain lines of the other servers."""
    log = os.path.join(work, "caddy-access.json")
    if not os.path.exists(log):
        return None
    lines = []
    with open(log) as f:
        for entry in map(json.loads, f):
            request = entry["request"]
            headers = request.get("headers", {})

            def header(name):
                return ", ".join(headers.get(name, [])) or "-"

            lines.append(f"{request['method']} {request['uri']} {request['proto']} {entry['status']} "
                         f"range=[{header('Range')}] if-range=[{header('If-Range')}]")
    return lines


# Name, start, whether the server speaks HTTPS (its authority in ca.pem) and must answer over HTTP/2, and
# how its access log is read.
SERVERS = [("apache", start_apache, False, plain_log), ("busybox httpd", start_busybox, False, plain_log),
           ("python http.server", start_python, False, plain_log),
           ("nginx https http/2", start_nginx, True, plain_log), ("lighttpd", start_lighttpd, False, plain_log),
           ("caddy", start_caddy, False, caddy_log)]


def write_config(path, base_url, names):
    with open(os.path.join(ROOT, "res", "config.xml"), encoding="utf-8") as f:
        text = f.read()
    files = "".join(f'        <File Url="{base_url}/{name}"{extra} />\n' for name, extra in names)
    text = re.sub(r"<Files>.*</Files>", "<Files>\n" + files + "    </Files>", text, flags=re.S)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


class Check:
    def __init__(self, name):
        self.name = name
        self.failures = []

    def expect(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition


def same_files(check, served, folder, names, scenario):
    for name in names:
        local = os.path.join(folder, name)
        with open(os.path.join(served, name), "rb") as f:
            want = f.read()
        got = open(local, "rb").read() if os.path.exists(local) else None
        check.expect(got == want, f"{scenario}: {name} differs from the server's "
                                  f"({'missing' if got is None else len(got)} vs {len(want)} bytes)")


def half_there(path, size):
    return lambda: os.path.exists(path) and os.path.getsize(path) >= size // 2


def there_for(paths, seconds):
    """True once one of `paths` has existed for `seconds`."""
    seen = []

    def check():
        if not seen and any(os.path.exists(p) for p in paths):
            seen.append(time.monotonic())
        return bool(seen) and time.monotonic() - seen[0] >= seconds

    return check


def run_cli(cli, config, folder, env, extra=(), interrupt_when=None):
    """Runs ostrel-cli; with interrupt_when, sends SIGINT once it is true."""
    command = [cli, "--config", config, "--dir", folder, "--no-report", *extra]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    if interrupt_when is not None:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and process.poll() is None:
            if interrupt_when():
                process.send_signal(signal.SIGINT)
                break
            time.sleep(0.02)
    try:
        out, err = process.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        return -1, out.decode(errors="replace"), "timed out\n" + err.decode(errors="replace")
    return process.returncode, out.decode(errors="replace"), err.decode(errors="replace")


def check_log(check, log, secure):
    """If-Range on continued requests and the big file in several pieces; over HTTPS, HTTP/2 alone."""
    if log is None:
        return
    ranged = [line for line in log if "range=[bytes" in line]
    check.expect(any("if-range=[-]" not in line for line in ranged),
                 "no continued request carried If-Range: " + " | ".join(ranged))
    pieces = [line for line in ranged if "/big.bin " in line and re.search(r"range=\[bytes=\d+-\d+\]", line)]
    check.expect(len(pieces) > 1 and all("if-range=[-]" not in line for line in pieces),
                 f"the big file came in {len(pieces)} pieces with If-Range on each: " + " | ".join(pieces[:4]))
    if secure:
        protocols = {line.split()[2] if len(line.split()) > 2 else line for line in log}
        check.expect(protocols == {"HTTP/2.0"}, f"requests came over {sorted(protocols)}, not HTTP/2.0 alone")


def exercise(cli, name, start, secure, read_log, work):
    check = Check(name)
    served = os.path.join(work, "served")
    os.makedirs(served)
    os.chmod(work, 0o755)
    first = os.urandom(DATA_SIZE)
    files = {"data.bin": first, "empty.dat": b"", "setup.sh": INSTALLER}
    for file_name, content in files.items():
        with open(os.path.join(served, file_name), "wb") as f:
            f.write(content)
    port = free_port()
    server = start(work, served, port)
    if server is None:
        print(f"{name}: not installed, skipped")
        return None
    try:
        if not check.expect(wait_for_port(port, server), "the server did not start"):
            return check
        config = os.path.join(work, "config.xml")
        # Over plain HTTP only its SHA-256 vouches for the installer.
        setup = f' executable="true" autoexecute="true" Sha256="{hashlib.sha256(INSTALLER).hexdigest()}"'
        scheme = "https" if secure else "http"
        write_config(config, f"{scheme}://127.0.0.1:{port}", [("setup.sh", setup), ("data.bin", ""), ("empty.dat", "")])
        env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"), HOME=work)
        if secure:
            env["SSL_CERT_FILE"] = os.path.join(work, "ca.pem")
        names = list(files)

        fresh = os.path.join(work, "fresh")
        status, out, err = run_cli(cli, config, fresh, env)
        check.expect(status == 0, f"fresh run: exit {status}: {err.strip()}")
        same_files(check, served, fresh, names, "fresh run")
        check.expect(os.path.exists(os.path.join(fresh, "installed.txt")), "fresh run: the installer did not run")

        cut = os.path.join(work, "cut")
        data = os.path.join(cut, "data.bin")
        status, out, err = run_cli(cli, config, cut, env, ["--limit", LIMIT, "--no-exec"], half_there(data, DATA_SIZE))
        part = os.path.getsize(data) if os.path.exists(data) else 0
        check.expect(status == 130, f"interrupted run: exit {status}, expected 130: {err.strip()}")
        check.expect(0 < part < DATA_SIZE, f"interrupted run: {part} bytes on disk")
        check.expect(not os.path.exists(os.path.join(cut, "installed.txt")), "interrupted run started the installer")
        status, out, err = run_cli(cli, config, cut, env, ["--continue", "--no-exec"])
        check.expect(status == 0, f"continued run: exit {status}: {err.strip()}")
        same_files(check, served, cut, names, "continued run")

        changed = os.path.join(work, "changed")
        data = os.path.join(changed, "data.bin")
        run_cli(cli, config, changed, env, ["--limit", LIMIT, "--no-exec"], half_there(data, DATA_SIZE))
        # Another version of the same size, with another time: only a validator tells them apart.
        with open(os.path.join(served, "data.bin"), "wb") as f:
            f.write(os.urandom(DATA_SIZE))
        later = time.time() + 5
        os.utime(os.path.join(served, "data.bin"), (later, later))
        status, out, err = run_cli(cli, config, changed, env, ["--continue", "--no-exec"])
        check.expect(status == 0, f"run after a change: exit {status}: {err.strip()}")
        same_files(check, served, changed, names, "run after a change")

        with open(os.path.join(served, "big.bin"), "wb") as f:
            f.write(os.urandom(BIG_SIZE))
        # Apache weakens the ETag of a file changed within the current second and matches a date in
        # If-Range only to a whole-second time, so a file just written would come whole from it.
        settled = int(time.time()) - 10
        os.utime(os.path.join(served, "big.bin"), (settled, settled))
        big_config = os.path.join(work, "big.xml")
        write_config(big_config, f"{scheme}://127.0.0.1:{port}", [("big.bin", "")])
        pieces = os.path.join(work, "pieces")
        big = os.path.join(pieces, "big.bin")
        status, out, err = run_cli(cli, big_config, pieces, env, ["--limit", "4M", "--no-exec"],
                                   there_for([big, big + ".part"], 1.0))
        check.expect(status == 130, f"interrupted big file: exit {status}, expected 130: {err.strip()}")
        status, out, err = run_cli(cli, big_config, pieces, env, ["--continue", "--no-exec"])
        check.expect(status == 0, f"continued big file: exit {status}: {err.strip()}")
        same_files(check, served, pieces, ["big.bin"], "continued big file")
        check.expect(not os.path.exists(big + ".part"), "continued big file: its part file stayed")
    finally:
        server.terminate()
        try:
            server.wait(5)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
    # Read once the server has stopped: lighttpd writes its log out only every few seconds.
    check_log(check, read_log(work), secure)
    return check


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "src", "cli", "ostrel-cli"))
    cli = parser.parse_args().cli
    if not os.path.exists(cli):
        print(f"no {cli}: build first")
        return 2
    failed = 0
    for name, start, secure, read_log in SERVERS:
        with tempfile.TemporaryDirectory(prefix="ostrel-real-") as work:
            check = exercise(cli, name, start, secure, read_log, work)
        if check is None:
            continue
        if check.failures:
            failed += 1
            print(f"{name}: FAILED")
            for failure in check.failures:
                print(f"  {failure}")
        else:
            print(f"{name}: fresh, interrupted, continued and changed runs byte for byte")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
