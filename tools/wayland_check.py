#!/usr/bin/env python3
"""Runs the window natively on Wayland: a headless weston, ostrel-serve with one file, and ostrel with
QT_QPA_PLATFORM=wayland and a configuration whose one file that server serves.

The window shows: the log names the platform (wayland), the compositor configured the window's
toplevel, the program committed a buffer to it and titled it (the Wayland protocol trace), and the
survey asked the server for the file and logged the total size. Then Download is pressed as a screen reader
presses it, over the accessibility bus (nothing else on Wayland can press a button for us), and the
run completes: the file in the download folder is the served one byte for byte, the log says it was
downloaded, and the end report reached the loopback server, which stands in as the HTTP proxy of
everything that is not on 127.0.0.1. Exits 77 when weston, gdbus, dbus-daemon or at-spi2-core's bus
launcher is missing.

--program may also be the portable .run: its start script then chooses the platform by WAYLAND_DISPLAY.

    tools/wayland_check.py --program build/src/ostrel --serve build/src/serve/ostrel-serve
    tools/wayland_check.py --program out/ostrel-1.0-x86_64.run --serve out/release/src/serve/ostrel-serve
"""

import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import atspi

ROOT = Path(__file__).resolve().parent.parent
SOCKET = "ostrel-wayland-check"
CONTENT = b"served over loopback\n"
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
# The Download button's accessible name (string 172).
DOWNLOAD = "받기"


class Failure(Exception):
    pass


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = predicate()
        if found:
            return found
        time.sleep(0.1)
    raise Failure(f"timed out waiting for {what}")


def stop(process):
    """Ends `process` and, as the .run's header starts the program as its child, its process group."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    try:
        process.wait(timeout=3)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def read(path):
    return path.read_text(encoding="utf-8", errors="replace") if path.exists() else ""


def write_config(target, url):
    text = (ROOT / "res/config.xml").read_text(encoding="utf-8")
    text, count = re.subn(r"<Files>.*</Files>", lambda _: f'<Files>\n        <File Url="{url}" />\n    </Files>',
                          text, flags=re.S)
    if count != 1:
        raise Failure("res/config.xml has no <Files> element")
    target.write_text(text, encoding="utf-8")


def start(processes, command, work, name, env=None, **options):
    process = subprocess.Popen(command, env=env, stdout=open(work / name, "wb"), stderr=subprocess.STDOUT,
                               start_new_session=True, **options)
    processes.append(process)
    return process


def start_session_bus(processes, work, env):
    """A session bus of the check's own, and the accessibility bus launcher on it."""
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, start_new_session=True)
    processes.append(bus)
    ready, _, _ = select.select([bus.stdout], [], [], 5)
    address = bus.stdout.readline().strip().decode() if ready else ""
    if not address:
        raise Failure("dbus-daemon printed no address")
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    start(processes, [BUS_LAUNCHER], work, "bus-launcher.log", env)
    owned = lambda: "true" in subprocess.run(
        ["gdbus", "call", "--address", address, "--dest", "org.freedesktop.DBus", "--object-path",
         "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", "org.a11y.Bus"],
        capture_output=True, text=True).stdout
    wait_for(owned, 10, "the accessibility bus launcher")
    return atspi.Bus(atspi.address(env))


def press(bus, name):
    """Presses the button called `name` once the program has put it on the accessibility bus."""
    button = wait_for(lambda: bus.find(name), 15, f"the button {name} on the accessibility bus")
    bus.do_action(button, "Press")


def check(work, options):
    runtime = work / "runtime"
    runtime.mkdir(mode=0o700)
    served = work / "served"
    served.mkdir()
    (served / "payload.bin").write_bytes(CONTENT)
    env = {key: value for key, value in os.environ.items() if key not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(HOME=str(work / "home"), XDG_STATE_HOME=str(work / "state"), XDG_CONFIG_HOME=str(work / "config"),
               TMPDIR=str(work), XDG_RUNTIME_DIR=str(runtime), XDG_CACHE_HOME=str(work / "cache"))
    processes = []
    try:
        start(processes, ["weston", "--backend=headless-backend.so", f"--socket={SOCKET}", "--idle-time=0"], work,
              "weston.log", env)
        bus = start_session_bus(processes, work, env)
        server = subprocess.Popen([options.serve, "--root", served, "--port", "0", "--requests", work / "requests.log"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        processes.append(server)
        ready, _, _ = select.select([server.stdout], [], [], 5)
        port = server.stdout.readline().strip().decode() if ready else ""
        if not port.isdigit():
            raise Failure("ostrel-serve printed no port")
        url = f"http://127.0.0.1:{port}/payload.bin"
        write_config(work / "config.xml", url)
        wait_for(lambda: (runtime / SOCKET).exists(), 10, "weston's socket")

        # The end report's host is not on loopback: the server answers for it as the proxy.
        env.update(QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY=SOCKET, WAYLAND_DEBUG="client",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", http_proxy=f"http://127.0.0.1:{port}", no_proxy="127.0.0.1")
        program = start(processes, [options.program, "--config", "config.xml"], work, "program.out", env, cwd=work)
        log = lambda: "".join(read(path) for path in (work / "state").rglob("*.log"))
        wait_for(lambda: "Total size of contents: [%d]" % len(CONTENT) in log(), 15, "the survey's total size")
        folder = wait_for(lambda: re.search(r"Default download path: \[(.*)\]", log()), 5, "the download folder")
        if "Window platform: [wayland]." not in log():
            raise Failure("the log does not name the wayland platform")
        if "/payload.bin" not in read(work / "requests.log"):
            raise Failure("the server saw no request for the file")
        trace = lambda: read(work / "program.out")
        wait_for(lambda: re.search(r"xdg_toplevel@\d+\.configure\(", trace()), 10, "the compositor's configure")
        wait_for(lambda: re.search(r"wl_surface@\d+\.attach\(wl_buffer@\d+", trace()), 10, "a buffer on the window")
        # As the compositor's task list shows it: Qt adds nothing to it.
        if f'.set_title("{options.title}")' not in trace():
            raise Failure(f"the window is not titled {options.title}")
        if program.poll() is not None:
            raise Failure(f"ostrel ended early ({program.returncode})")

        press(bus, DOWNLOAD)
        wait_for(lambda: f"Successfully downloaded file [{url}]" in log(), 15, "the file's download")
        downloaded = Path(folder.group(1)) / "payload.bin"
        wait_for(lambda: downloaded.exists() and downloaded.read_bytes() == CONTENT, 5,
                 f"{downloaded} to hold the served bytes")
        wait_for(lambda: "tirrareport.sb?status=end" in read(work / "requests.log"), 10, "the end report")
        if program.poll() is not None:
            raise Failure(f"ostrel ended after its run ({program.returncode})")
    finally:
        for process in reversed(processes):
            stop(process)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", type=Path, required=True, help="the built ostrel")
    parser.add_argument("--serve", type=Path, required=True, help="the built ostrel-serve")
    parser.add_argument("--title", default="Ambrel", help="the window's title in this build (default: %(default)s)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    options = parser.parse_args()
    options.program, options.serve = options.program.resolve(), options.serve.resolve()
    missing = [tool for tool in ("weston", "gdbus", "dbus-daemon", BUS_LAUNCHER) if shutil.which(tool) is None]
    if missing:
        print(f"wayland_check: {', '.join(missing)} not installed (tools/deps); skipped")
        return 77
    work = Path(tempfile.mkdtemp(prefix="ostrel-wayland-"))
    try:
        check(work, options)
    except Failure as failure:
        print(f"wayland_check: FAILED: {failure}")
        for name in ("program.out", "weston.log", "bus-launcher.log"):
            lines = [line for line in read(work / name).splitlines() if "wl_" not in line and "xdg_" not in line]
            print(f"  {name} tail:\n    " + "\n    ".join(lines[-10:]))
        return 1
    finally:
        if options.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("wayland_check: the window showed natively on Wayland, and a run started from the accessibility bus "
          "completed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
