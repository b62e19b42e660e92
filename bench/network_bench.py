#!/usr/bin/env python3
"""ostrel-cli beside other download tools, on a server that is far away and on one that is near.

Starts its own nginx on a free loopback port and bench/delay_relay.py in front of it (40 ms round trip),
then runs each case in turns (after one untimed run of each: ostrel, other, then other, ostrel, ...)
and prints the median wall and CPU seconds, the requests each made, and the ratio ostrel-cli / other:

  survey   the size survey of 300 files of 16 KiB that are all complete on disk (--continue: every file
           is surveyed, checked and skipped, none fetched), through the relay, beside
           curl -I --parallel --parallel-max 16 (ostrel-cli with SurveyConnections="16")
  small    the same 300 files into an empty folder, through the relay, beside aria2c -j16 (ostrel-cli
           with SurveyConnections="16" Connections="16")
  limited  64 MiB from nginx sending at most 8 MiB/s per connection, beside aria2c -x8 -s8 -k1M
           (ostrel-cli with Connections="8")
  capped   the same 64 MiB through a second relay that caps each connection at 8 MiB/s (40 ms round
           trip), beside aria2c -x8 -s8 -k1M (ostrel-cli with Connections="8"): nginx's limit_rate is per
           request and lets each request's first second go at once, which a per-connection cap does not
  big      1 GiB (--big-mib) from nginx on loopback, beside curl -o

Every file fetched is compared with the served one (size and SHA-256); any difference, failed run or
request outside a case's plan ends the benchmark with exit status 1.

Usage: bench/network_bench.py [--cli PATH] [--rounds N] [--only CASE]... [--big-mib N] [--keep]
"""

import argparse
import collections
import hashlib
import os
import re
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CASES = ("survey", "small", "limited", "capped", "big")
ROUND_TRIP_MS = 40
SMALL_COUNT = 300
SMALL_SIZE = 16 * 1024
LIMITED_MIB = 64
CAP_BYTES_PER_S = 8 << 20
PARALLEL = 16
RUN_TIMEOUT_S = 900

NGINX_CONF = """daemon off;
worker_processes 1;
pid nginx.pid;
error_log error.log;
events {{ worker_connections 1024; }}
http {{
    log_format requests '$connection $request_method $uri $status';
    access_log access.log requests;
    sendfile on;
    client_body_temp_path temp;
    proxy_temp_path temp;
    fastcgi_temp_path temp;
    uwsgi_temp_path temp;
    scgi_temp_path temp;
    server {{
        listen 127.0.0.1:{port};
        root {served};
        location /limited/ {{ limit_rate 8m; }}
    }}
}}
"""


class Failure(Exception):
    pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and process.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise Failure(f"nothing listens on port {port}")


def stop(process):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def start_nginx(folder, served):
    """nginx serving `served`, its configuration, pid and logs in `folder`: (process, port)."""
    os.makedirs(os.path.join(folder, "temp"))
    port = free_port()
    with open(os.path.join(folder, "nginx.conf"), "w") as f:
        f.write(NGINX_CONF.format(port=port, served=served))
    process = subprocess.Popen(["nginx", "-p", folder, "-e", "error.log", "-c", "nginx.conf"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_port(port, process)
    return process, port


def start_relay(port, rate=0):
    """bench/delay_relay.py in front of `port`, each connection capped at `rate` bytes/s: (process, its port)."""
    process = subprocess.Popen([sys.executable, os.path.join(ROOT, "bench", "delay_relay.py"), "--listen", "0",
                                "--to", f"127.0.0.1:{port}", "--delay-ms", str(ROUND_TRIP_MS / 2),
                                "--rate", str(rate)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    relay_port = int(process.stdout.readline())
    wait_for_port(relay_port, process)
    return process, relay_port


def write_random(path, size):
    """`size` random bytes (none of them a hole) into `path`; their SHA-256."""
    digest = hashlib.sha256()
    with open(path, "wb") as f:
        for start in range(0, size, 1 << 22):
            block = os.urandom(min(1 << 22, size - start))
            digest.update(block)
            f.write(block)
    return digest.hexdigest()


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def write_config(path, urls, base=""):
    """The example configuration with `urls` as its files and the attributes `base` added to its Base."""
    with open(os.path.join(ROOT, "res", "config.xml"), encoding="utf-8") as f:
        text = f.read()
    if base:
        text = text.replace("<Base ", f"<Base {base} ", 1)
    files = "".join(f'        <File Url="{url}" />\n' for url in urls)
    text = re.sub(r"<Files>.*</Files>", lambda _: "<Files>\n" + files + "    </Files>", text, flags=re.S)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


class AccessLog:
    """The requests nginx logged since the last look: a count per method and the connections they used."""

    def __init__(self, path):
        self.path = path
        self.offset = 0

    def skip(self):
        self.offset = os.path.getsize(self.path)

    def since(self):
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            text = f.read()
        self.offset += len(text)
        lines = text.decode().splitlines()
        methods = collections.Counter(line.split()[1] for line in lines)
        statuses = collections.Counter(line.split()[3] for line in lines)
        connections = len({line.split()[0] for line in lines})
        return methods, statuses, connections


def describe_requests(methods, connections):
    counts = ", ".join(f"{n} {method}" for method, n in sorted(methods.items()))
    return f"{counts or 'none'} on {connections} connection{'s' if connections != 1 else ''}"


class Tool:
    """One side of a case: its command, what it must leave behind, and what its runs took."""

    def __init__(self, name, command, prepare, check):
        self.name = name
        self.command = command
        self.prepare = prepare  # before each run, untimed
        self.check = check  # after each run, untimed: raises Failure
        self.walls = []
        self.cpus = []
        self.requests = ""


class Bench:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="ostrel-network-bench-")
        # nginx's workers leave root behind and must still reach the files.
        os.chmod(self.work, 0o711)
        self.served = os.path.join(self.work, "served")
        self.out = os.path.join(self.work, "out")
        os.makedirs(os.path.join(self.served, "small"))
        os.makedirs(os.path.join(self.served, "limited"))
        self.env = dict(os.environ)
        for name, folder in (("HOME", "home"), ("XDG_STATE_HOME", "state"), ("XDG_CONFIG_HOME", "config"),
                             ("TMPDIR", "tmp")):
            self.env[name] = os.path.join(self.work, folder)
            os.makedirs(self.env[name])
        self.nginx = self.relay = None
        self.log = None
        self.port = self.relay_port = 0

    def start_servers(self):
        self.nginx, self.port = start_nginx(os.path.join(self.work, "nginx"), self.served)
        self.log = AccessLog(os.path.join(self.work, "nginx", "access.log"))
        self.relay, self.relay_port = start_relay(self.port)
        self.capped, self.capped_port = start_relay(self.port, CAP_BYTES_PER_S)

    def stop_servers(self):
        stop(self.capped)
        stop(self.relay)
        stop(self.nginx)

    def path(self, name):
        return os.path.join(self.work, name)

    def fresh_out(self):
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)

    def ostrel(self, config, folder, *options):
        return [self.args.cli, "--config", config, "--dir", folder, "--no-report", "--no-exec", *options]

    def run(self, tool):
        """One timed run of `tool` between its untimed preparation and check."""
        tool.prepare()
        self.log.skip()
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        started = time.monotonic()
        done = subprocess.run(tool.command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=self.env, timeout=RUN_TIMEOUT_S)
        wall = time.monotonic() - started
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
        if done.returncode != 0:
            tail = (done.stderr or done.stdout).decode(errors="replace").strip().splitlines()[-5:]
            raise Failure(f"{tool.name} ended with status {done.returncode}:\n  " + "\n  ".join(tail))
        methods, statuses, connections = self.log.since()
        if set(statuses) - {"200", "206"}:
            raise Failure(f"{tool.name}: nginx answered {dict(statuses)}")
        tool.check(done.stdout.decode(errors="replace"), methods)
        tool.requests = describe_requests(methods, connections)
        return wall, cpu

    def compare(self, title, ostrel, other):
        """Both tools in turns after one untimed run of each; prints and returns the medians."""
        self.run(ostrel)
        self.run(other)
        for round_number in range(self.args.rounds):
            for tool in (ostrel, other) if round_number % 2 == 0 else (other, ostrel):
                wall, cpu = self.run(tool)
                tool.walls.append(wall)
                tool.cpus.append(cpu)
        print(f"== {title}; medians of {self.args.rounds} rounds in turns ==")
        print(f"{'tool':<44} {'wall s':>8} {'cpu s':>8}  requests per run")
        for tool in (ostrel, other):
            print(f"{tool.name:<44} {statistics.median(tool.walls):8.3f} {statistics.median(tool.cpus):8.3f}  "
                  f"{tool.requests}")
            print(f"  wall s per round: {' '.join(f'{w:.3f}' for w in tool.walls)}")
        ratio = statistics.median(ostrel.walls) / statistics.median(other.walls)
        print(f"wall ratio ostrel-cli / {other.name.split()[0]}: {ratio:.2f}\n", flush=True)
        return statistics.median(ostrel.walls), statistics.median(other.walls), ratio

    def expect_same(self, folder, digests):
        """Every served file in `digests` (name: SHA-256) lies in `folder` byte for byte."""
        for name, digest in digests.items():
            local = os.path.join(folder, name)
            if not os.path.isfile(local):
                raise Failure(f"{local} is missing")
            if sha256_of(local) != digest:
                raise Failure(f"{local} differs from the served file ({os.path.getsize(local)} bytes)")
        extra = set(os.listdir(folder)) - set(digests)
        if extra:
            raise Failure(f"{folder} holds more than was served: {sorted(extra)[:5]}")

    def small_files(self):
        """The 300 small files (name: SHA-256), served, and their URLs through the relay."""
        digests = {}
        for i in range(SMALL_COUNT):
            name = f"part{i:03}.bin"
            digests[name] = write_random(os.path.join(self.served, "small", name), SMALL_SIZE)
        urls = [f"http://127.0.0.1:{self.relay_port}/small/{name}" for name in digests]
        return digests, urls

    def survey_case(self, digests, urls):
        # As many size requests at once as curl's.
        parallel = f'SurveyConnections="{PARALLEL}"'
        config = self.path("survey.xml")
        write_config(config, urls, parallel)
        complete = self.path("complete")
        shutil.copytree(os.path.join(self.served, "small"), complete)
        curl_list = self.path("survey.curl")
        with open(curl_list, "w") as f:
            f.writelines(f'url = "{url}"\noutput = "/dev/null"\n' for url in urls)

        def ostrel_check(stdout, methods):
            skipped = sum(line.startswith("skipped ") for line in stdout.splitlines())
            if skipped != SMALL_COUNT or set(methods) != {"HEAD"}:
                raise Failure(f"ostrel-cli skipped {skipped} of {SMALL_COUNT} files with {dict(methods)}")
            self.expect_same(complete, digests)

        def curl_check(stdout, methods):
            answers = collections.Counter(stdout.split("\n")[:-1])
            if answers != {f"200 {SMALL_SIZE}": SMALL_COUNT} or set(methods) != {"HEAD"}:
                raise Failure(f"curl's answers: {dict(answers)} with {dict(methods)}")

        ostrel = Tool("ostrel-cli --continue (all complete)", self.ostrel(config, complete, "--continue"),
                      lambda: None, ostrel_check)
        curl = Tool(f"curl -I --parallel --parallel-max {PARALLEL}",
                    ["curl", "-s", "-I", "--parallel", "--parallel-max", str(PARALLEL), "-K", curl_list,
                     "-w", "%{http_code} %header{content-length}\\n"], lambda: None, curl_check)
        return self.compare(f"survey: HEAD of {SMALL_COUNT} files complete on disk, {ROUND_TRIP_MS} ms round trip, "
                            f"ostrel-cli with {parallel}", ostrel, curl)

    def fetch_tools(self, title, digests, ostrel_command, other_name, other_command):
        """ostrel-cli and another tool each fetching `digests`' files into an empty folder."""

        def check(stdout, methods):
            self.expect_same(self.out, digests)

        ostrel = Tool("ostrel-cli", ostrel_command, self.fresh_out, check)
        other = Tool(other_name, other_command, self.fresh_out, check)
        return self.compare(title, ostrel, other)

    def small_case(self, digests, urls):
        # As many requests and files at once as aria2c's.
        parallel = f'SurveyConnections="{PARALLEL}" Connections="{PARALLEL}"'
        config = self.path("small.xml")
        write_config(config, urls, parallel)
        aria_list = self.path("small.aria2")
        with open(aria_list, "w") as f:
            f.writelines(url + "\n" for url in urls)
        return self.fetch_tools(f"small: {SMALL_COUNT} x {SMALL_SIZE // 1024} KiB fresh, {ROUND_TRIP_MS} ms round trip, "
                                f"ostrel-cli with {parallel}", digests, self.ostrel(config, self.out), f"aria2c -j{PARALLEL}",
                                ["aria2c", "-q", f"-j{PARALLEL}", "-i", aria_list, "-d", self.out])

    def eight_connections_case(self, title, url_base, folder):
        """64 MiB, ostrel-cli with Connections="8" beside aria2c -x8 -s8 -k1M."""
        name = f"{folder}{LIMITED_MIB}.bin"
        os.makedirs(os.path.join(self.served, folder), exist_ok=True)
        digest = write_random(os.path.join(self.served, folder, name), LIMITED_MIB << 20)
        url = f"{url_base}/{folder}/{name}"
        config = self.path(f"{folder}.xml")
        write_config(config, [url], 'Connections="8"')
        return self.fetch_tools(f'{title}, ostrel-cli with Connections="8"', {name: digest}, self.ostrel(config, self.out),
                                "aria2c -x8 -s8 -k1M", ["aria2c", "-q", "-x8", "-s8", "-k1M", "-d", self.out, url])

    def limited_case(self):
        return self.eight_connections_case(f"limited: {LIMITED_MIB} MiB, nginx limit_rate 8m per connection, no relay",
                                           f"http://127.0.0.1:{self.port}", "limited")

    def capped_case(self):
        return self.eight_connections_case(
            f"capped: {LIMITED_MIB} MiB, 8 MiB/s per connection, {ROUND_TRIP_MS} ms round trip",
            f"http://127.0.0.1:{self.capped_port}", "capped")

    def big_case(self):
        name = "big.bin"
        digest = write_random(os.path.join(self.served, name), self.args.big_mib << 20)
        url = f"http://127.0.0.1:{self.port}/{name}"
        config = self.path("big.xml")
        write_config(config, [url])
        result = self.fetch_tools(f"big: {self.args.big_mib} MiB on loopback, no relay, no rate limit",
                                  {name: digest}, self.ostrel(config, self.out), "curl -o",
                                  ["curl", "-s", "-o", os.path.join(self.out, name), url])
        os.remove(os.path.join(self.served, name))
        return result

    def run_cases(self, cases):
        results = {}
        if {"survey", "small"} & set(cases):
            small = self.small_files()
            if "survey" in cases:
                results["survey"] = ("curl -I --parallel", self.survey_case(*small))
            if "small" in cases:
                results["small"] = (f"aria2c -j{PARALLEL}", self.small_case(*small))
        if "limited" in cases:
            results["limited"] = ("aria2c -x8 -s8", self.limited_case())
        if "capped" in cases:
            results["capped"] = ("aria2c -x8 -s8", self.capped_case())
        if "big" in cases:
            results["big"] = ("curl -o", self.big_case())
        print("== summary: median wall seconds ==")
        print(f"{'case':<8} {'ostrel-cli':>10} {'other':>10} {'ratio':>7}  other")
        for case, (other, (ostrel_s, other_s, ratio)) in results.items():
            print(f"{case:<8} {ostrel_s:10.3f} {other_s:10.3f} {ratio:7.2f}  {other}")
        sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "src", "cli", "ostrel-cli"),
                        help="the built ostrel-cli (default: build/src/cli/ostrel-cli)")
    parser.add_argument("--rounds", type=int, default=5, help="timed rounds per case (default 5)")
    parser.add_argument("--only", action="append", choices=CASES, help="run only this case (repeatable)")
    parser.add_argument("--big-mib", type=int, default=1024, help="size of the big case's file (default 1024)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder (files, logs, configurations)")
    args = parser.parse_args()
    args.cli = os.path.abspath(args.cli)
    cases = args.only or list(CASES)
    needed = {"nginx", "curl"} | ({"aria2c"} if {"small", "limited", "capped"} & set(cases) else set())
    missing = sorted(tool for tool in needed if shutil.which(tool) is None)
    if not os.access(args.cli, os.X_OK):
        missing.insert(0, args.cli)
    if missing:
        sys.exit(f"network_bench: missing {', '.join(missing)}: build ostrel-cli; tools/deps installs the rest")

    bench = Bench(args)
    try:
        bench.start_servers()
        bench.run_cases(cases)
    except (Failure, subprocess.TimeoutExpired) as failure:
        sys.stdout.flush()
        print(f"network_bench: FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        bench.stop_servers()
        if args.keep:
            print(f"work folder kept: {bench.work}", file=sys.stderr)
        else:
            shutil.rmtree(bench.work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
