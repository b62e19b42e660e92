#!/usr/bin/env python3
"""Start-up to a visible window while the server takes its time: the program (ostrel-e2e, with a
config.xml beside it) under an Xvfb of its own, its one file answering HEAD only after DELAY ms; the
time from the program's start until its window is mapped, ROUNDS times, and the median.

Usage: bench/startup.py [BUILD_DIR]   (default build/; ROUNDS=5 and DELAY=3000 may be set)
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import run_e2e  # noqa: E402  (its Xvfb and process helpers)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rounds = int(os.environ.get("ROUNDS", "5"))
    delay = int(os.environ.get("DELAY", "3000"))
    program = os.path.join(build, "src", "ostrel-e2e")
    serve = os.path.join(build, "src", "serve", "ostrel-serve")
    work = tempfile.mkdtemp(prefix="ostrel-startup-bench-")
    display = run_e2e.Display()
    server = None
    try:
        os.makedirs(os.path.join(work, "served"))
        with open(os.path.join(work, "served", "AmbrelSetup.sh"), "wb") as out:
            out.write(b"#!/bin/sh\n")
        server = subprocess.Popen([serve, "--root", os.path.join(work, "served"), "--port", "0"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        port = int(server.stdout.readline())
        with open(os.path.join(HERE, "..", "res", "config.xml"), encoding="utf-8") as source:
            config = re.sub(r"<Files>.*</Files>",
                            f'<Files><File Url="http://127.0.0.1:{port}/AmbrelSetup.sh?delay_ms={delay}"/></Files>',
                            source.read(), flags=re.S)
        os.makedirs(os.path.join(work, "program"))
        shutil.copy2(program, os.path.join(work, "program", "ostrel-e2e"))
        with open(os.path.join(work, "program", "config.xml"), "w", encoding="utf-8") as out:
            out.write(config)
        env = dict(os.environ, DISPLAY=display.name, HOME=os.path.join(work, "home"),
                   XDG_STATE_HOME=os.path.join(work, "state"), TMPDIR=work, QT_QPA_PLATFORM="xcb")
        shown = []
        for _ in range(rounds):
            started = time.monotonic()
            child = subprocess.Popen([os.path.join(work, "program", "ostrel-e2e")], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                while True:
                    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(child.pid),
                                            "--name", "^Ambrel$"], env=env, capture_output=True, text=True)
                    if found.stdout.strip():
                        shown.append(time.monotonic() - started)
                        break
                    if child.poll() is not None or time.monotonic() - started > 20:
                        raise SystemExit("the window did not show")
            finally:
                run_e2e.stop_process(child)
        print(f"== start-up to a visible window, HEAD answered after {delay} ms, {rounds} rounds ==")
        print("seconds: " + " ".join(f"{s:.3f}" for s in shown))
        print(f"median {statistics.median(shown):.3f} s  (target < 0.5)")
    finally:
        run_e2e.stop_process(server)
        display.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
