#!/usr/bin/env python3
"""End-to-end tests of the real program: ostrel-e2e runs under its own Xvfb against ostrel-serve and is
driven with xdotool like a player would drive it. Each scenario gets fresh home, state, configuration and
temporary folders, a program folder with its own config.xml, and a fresh served folder.

Usage: run_e2e.py --program ostrel-e2e --serve ostrel-serve --config res/config.xml --port N
                  [--only NAME ...] [--keep] [--shots DIR]
"""

import argparse
import ctypes
import hashlib
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

AGENT = "TirraLauncher20120615"
REPORT_TARGET = "/launcher/tirrareport.sb?status=end"
MAIN_TITLE = "Ambrel"
TITLE_WARNING = "경고"
TITLE_NOTICE = "알림"
WINDOW_SIZE = (576, 520)
BUTTON_SIZE = (84, 30)
# The first row's check box in the example configuration's file list (at 17,308).
FILE_LIST_FIRST_CHECK_BOX = (17 + 12, 308 + 9)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout, what, interval=0.05):
    """Polls until predicate() gives a true value and returns it; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def pattern_bytes(size, seed):
    """Bytes that repeat only every 251 bytes, so that misplaced pieces show."""
    period = bytes((i * 7 + seed) % 251 for i in range(251))
    return (period * (size // 251 + 1))[:size]


def mul_div(number, numerator, denominator):
    return (number * numerator + denominator // 2) // denominator


def dialog_rect(x, y, width, height):
    """Pixels of a dialog-unit rectangle of the program's dialogs (base units 6 × 13)."""
    return mul_div(x, 6, 4), mul_div(y, 13, 8), mul_div(width, 6, 4), mul_div(height, 13, 8)


# The overwrite question's controls, in dialog units, below the line that names the file.
NAME_LINE = 10
OVERWRITE_RADIO = dialog_rect(26, 39 + NAME_LINE, 48, 10)
CONTINUE_RADIO = dialog_rect(115, 39 + NAME_LINE, 48, 10)
APPLY_ALL_CHECK = dialog_rect(13, 67 + NAME_LINE, 110, 11)
OK_BUTTON = dialog_rect(132, 65 + NAME_LINE, 50, 14)
OVERWRITE_DIALOG_SIZE = (mul_div(189, 6, 4), mul_div(86 + NAME_LINE, 13, 8))


class Display:
    """An Xvfb of our own; xdotool and the program talk to it through DISPLAY."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=end_with_driver)
        os.close(write_end)
        # Read the whole line: Xvfb ends when the pipe closes before it has written the line feed.
        reported = b""
        deadline = time.monotonic() + 15
        try:
            while not reported.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_end], [], [], max(deadline - time.monotonic(), 0))
                chunk = os.read(read_end, 64) if ready else b""
                if not chunk:
                    break
                reported += chunk
        finally:
            os.close(read_end)
        number = reported.decode().strip()
        if not number.isdigit():
            self.stop()
            raise Failure("Xvfb did not report its display")
        self.name = ":" + number

    def stop(self):
        stop_process(self.process)


def end_with_driver():
    """In a child before it runs: it gets SIGTERM when the driver dies, even by SIGKILL (a ctest time-out)."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def stop_process(process, grace=3):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Scenario:
    """One run of the program: its folders, its server, the program process and the X helpers."""

    def __init__(self, options, display, name):
        self.options = options
        self.display = display
        self.name = name
        self.root = tempfile.mkdtemp(prefix=f"ostrel-e2e-{name}-")
        self.home = self.dir("home")
        self.served = self.dir("served")
        self.program_dir = self.dir("program")
        self.state = self.dir("state")
        self.requests_file = os.path.join(self.root, "requests.log")
        self.downloads = os.path.join(self.home, "Documents", "AmbrelLauncher")
        self.env = dict(os.environ, DISPLAY=display.name, HOME=self.home, TMPDIR=self.dir("tmp"),
                        XDG_STATE_HOME=self.state, XDG_CONFIG_HOME=self.dir("config"),
                        XDG_RUNTIME_DIR=self.dir("runtime", 0o700), QT_QPA_PLATFORM="xcb")
        self.server = None
        self.program = None
        self.window = None
        self.origin = (0, 0)

    def dir(self, name, mode=0o755):
        path = os.path.join(self.root, name)
        os.makedirs(path, mode=mode)
        return path

    def url(self, name):
        return f"http://127.0.0.1:{self.options.port}/{name}"

    def close(self, failed):
        if failed and self.options.shots:
            os.makedirs(self.options.shots, exist_ok=True)
            shot = os.path.join(self.options.shots, f"{self.name}.png")
            subprocess.run(["import", "-window", "root", shot], env=self.env, timeout=10,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            print(f"  screen at the failure: {shot}")
            lines = [line for line in self.log().splitlines() if line.strip()]
            print("  log tail:\n    " + "\n    ".join(lines[-12:]))
        stop_process(self.program)
        stop_process(self.server)
        if self.options.keep:
            print(f"  kept {self.root}")
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    # --- set-up -------------------------------------------------------------------------------

    def start_server(self, files):
        """Serves `files` (name → bytes) on the tests' port, logging every request."""
        for name, content in files.items():
            with open(os.path.join(self.served, name), "wb") as out:
                out.write(content)
        command = [self.options.serve, "--root", self.served, "--port", str(self.options.port),
                   "--requests", self.requests_file]
        # A server of the scenario before may still be letting go of the port.
        deadline = time.monotonic() + 5
        while True:
            self.server = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                           preexec_fn=end_with_driver)
            ready, _, _ = select.select([self.server.stdout], [], [], 5)
            if ready and self.server.stdout.readline().strip() == str(self.options.port).encode():
                return
            stop_process(self.server)
            check(time.monotonic() < deadline,
                  f"ostrel-serve cannot listen on 127.0.0.1:{self.options.port} "
                  f"({self.server.stderr.read().decode().strip()}); choose another -DOSTREL_E2E_PORT")
            time.sleep(0.2)

    def write_config(self, file_elements, checked=True, connections=None):
        """The worked example configuration with `file_elements` (attribute texts) as its files, its rows
        ticked or not, and Base's Connections when given."""
        with open(self.options.config, encoding="utf-8") as source:
            text = source.read()
        files = "".join(f"\n        <File {attributes} />" for attributes in file_elements)
        text, count = re.subn(r"<Files>.*</Files>", lambda _: f"<Files>{files}\n    </Files>", text, flags=re.S)
        check(count == 1, "the example configuration has no <Files> element")
        if not checked:
            text, count = re.subn(r'(<FileList [^>]*Checked=")1"', r'\g<1>0"', text)
            check(count == 1, "the example configuration has no ticked FileList")
        if connections is not None:
            text, count = re.subn(r"<Base ", f'<Base Connections="{connections}" ', text)
            check(count == 1, "the example configuration has no Base")
        with open(os.path.join(self.program_dir, "config.xml"), "w", encoding="utf-8") as out:
            out.write(text)

    def put_download(self, name, content):
        os.makedirs(self.downloads, exist_ok=True)
        with open(os.path.join(self.downloads, name), "wb") as out:
            out.write(content)

    def start_program(self):
        """Starts the program from its own folder and waits for its window to show, ready."""
        program = os.path.join(self.program_dir, "ostrel-e2e")
        try:
            os.link(self.options.program, program)
        except OSError:
            shutil.copy2(self.options.program, program)
        self.program = subprocess.Popen([program], env=self.env, cwd=self.root,
                                        stdout=open(os.path.join(self.root, "program.out"), "wb"),
                                        stderr=subprocess.STDOUT, preexec_fn=end_with_driver)
        self.window = wait_for(lambda: self.find_window(MAIN_TITLE), 15, "the main window")
        self.origin = wait_for(self.placed_main_window, 5, "the main window at the size of its background")

    def placed_main_window(self):
        x, y, width, height = self.window_position(self.window)
        return (x, y) if (width, height) == WINDOW_SIZE else None

    # --- the window -----------------------------------------------------------------------------

    def xdotool(self, *args, timeout=5):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=timeout)
        return result.stdout

    def visible_windows(self, title=None):
        """The program's mapped windows, optionally only those whose title is `title`."""
        if self.program.poll() is not None:
            raise Failure(f"the program ended (status {self.program.returncode}) while its window was awaited")
        args = ["search", "--all", "--onlyvisible", "--pid", str(self.program.pid)]
        if title is not None:
            args += ["--name", f"^{title}$"]
        return self.xdotool(*args).split()

    def find_window(self, title):
        windows = self.visible_windows(title)
        return windows[0] if windows else None

    def window_position(self, window):
        fields = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell", window).split())
        return int(fields["X"]), int(fields["Y"]), int(fields["WIDTH"]), int(fields["HEIGHT"])

    def click(self, x, y):
        # No --sync: it waits forever when the pointer is already there; the server keeps the order anyway.
        self.xdotool("mousemove", str(x), str(y), "click", "1")

    def click_button(self, name):
        """Clicks the middle of a skin button at its position in the example configuration."""
        positions = {"Execution": (192, 476), "Download": (286, 476), "Stop": (380, 476), "Close": (474, 476)}
        x, y = positions[name]
        self.click(self.origin[0] + x + BUTTON_SIZE[0] // 2, self.origin[1] + y + BUTTON_SIZE[1] // 2)

    def screen(self, x, y, width, height):
        """The pixels of a rectangle of the window, as PPM bytes."""
        return subprocess.run(["import", "-window", "root", "-crop",
                               f"{width}x{height}+{self.origin[0] + x}+{self.origin[1] + y}", "ppm:-"],
                              env=self.env, capture_output=True, timeout=10, check=True).stdout

    def answer_message(self, title, key):
        """Waits for the message box titled `title`, answers it with `key` (Return: the default button,
        Yes or OK) and waits until it is gone; gives the moment just before the key was sent."""
        box = wait_for(lambda: self.find_window(title), 10, f"the message box \"{title}\"")
        self.xdotool("windowfocus", "--sync", box)
        answered = time.monotonic()
        self.xdotool("key", key)
        wait_for(lambda: self.program.poll() is not None or box not in self.visible_windows(), 5,
                 f"the message box \"{title}\" to close")
        return answered

    def overwrite_dialog(self):
        """The overwrite question: the program's untitled window of the question's size."""
        for window in self.visible_windows():
            if window != self.window and self.window_position(window)[2:] == OVERWRITE_DIALOG_SIZE:
                return window
        return None

    def answer_overwrite(self, keep_going, for_all):
        """Answers the overwrite question: continue (이어받기) or overwrite (덮어쓰기), for all files or not."""
        dialog = wait_for(self.overwrite_dialog, 10, "the overwrite question")
        x, y, _, _ = self.window_position(dialog)
        for control, wanted in ((CONTINUE_RADIO if keep_going else OVERWRITE_RADIO, True), (APPLY_ALL_CHECK, for_all)):
            if wanted:
                left, top, _, control_height = control
                self.click(x + left + 7, y + top + control_height // 2)
        left, top, ok_width, ok_height = OK_BUTTON
        self.click(x + left + ok_width // 2, y + top + ok_height // 2)
        wait_for(lambda: dialog not in self.visible_windows(), 5, "the overwrite question to close")

    # --- what the program did ---------------------------------------------------------------------

    def log(self):
        folder = os.path.join(self.state, "Harnlow")
        if not os.path.isdir(folder):
            return ""
        parts = []
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as source:
                parts.append(source.read())
        return "".join(parts)

    def wait_for_log(self, text, timeout=15):
        wait_for(lambda: text in self.log(), timeout, f"the log line \"{text}\"")

    def row_states(self, url=None):
        """(url, state) of every row state change in the log, in order; only `url`'s when given."""
        found = re.findall(r"\[COstrelDlg::_DownloadThread\]\[\d+\] File \[(.*?)\] state: \[(.*?)\]", self.log())
        return [state for u, state in found if u == url] if url else found

    def wait_for_state(self, url, state, timeout=15):
        wait_for(lambda: state in self.row_states(url), timeout, f"{url} in state {state}")

    def requests(self):
        """(method, target, Range, User-Agent) of every request the server received."""
        if not os.path.exists(self.requests_file):
            return []
        with open(self.requests_file, encoding="utf-8") as source:
            return [tuple(line.rstrip("\n").split("\t")) for line in source]

    def gets(self, name):
        """Range headers of the GETs of the served file `name` (query included)."""
        return [request[2] for request in self.requests() if request[0] == "GET" and request[1] == "/" + name]

    def report_requests(self):
        return [request for request in self.requests() if request[1] == REPORT_TARGET]

    def downloaded(self, name):
        path = os.path.join(self.downloads, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as source:
            return source.read()

    def check_downloaded(self, name, content):
        got = self.downloaded(name)
        check(got is not None, f"{name} is not in the download folder")
        check(got == content, f"{name}: {len(got)} bytes on disk differ from the {len(content)} served")

    def check_report_sent(self):
        reports = self.report_requests()
        check(len(reports) == 1, f"{len(reports)} end report requests, expected one")
        check(reports[0][0] == "GET" and reports[0][3] == AGENT, f"end report sent as {reports[0]}")

    def wait_for_exit(self, timeout):
        try:
            return self.program.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program still runs {timeout} s later") from None

    def close_window(self):
        """Close on an idle window ends the program at once."""
        self.click_button("Close")
        check(self.wait_for_exit(5) == 0, f"the program ended with status {self.program.returncode}")


# --- scenarios ----------------------------------------------------------------------------------------

# The installer takes a moment, so that a start that is not waited for shows.
SETUP = b"#!/bin/sh\nsleep 0.3\npwd > installed.marker\n"
# Only an installer whose bytes are vouched for is started.
SETUP_DIGEST = f'Sha256="{hashlib.sha256(SETUP).hexdigest()}"'
MARKER = "installed.marker"
DATA = pattern_bytes(256 * 1024, 1)
PATCH = pattern_bytes(96 * 1024 + 13, 2)


def fresh_run(s):
    """Two files from nothing: both arrive whole, the report is sent, the installer runs and is waited for."""
    s.start_server({"AmbrelSetup.sh": SETUP, "AmbrelData.pak": DATA})
    s.write_config([f'Url="{s.url("AmbrelSetup.sh")}" autoexecute="true" waitexecute="true" {SETUP_DIGEST}',
                    f'Url="{s.url("AmbrelData.pak")}"'])
    s.start_program()
    s.click_button("Download")
    s.wait_for_log("Process [" + os.path.join(s.downloads, "AmbrelSetup.sh") + "] terminated.")
    for name in ("AmbrelSetup.sh", "AmbrelData.pak"):
        check(s.row_states(s.url(name)) == ["전송중", "완료"], f"{name} went through {s.row_states(s.url(name))}")
        check(s.gets(name) == [""], f"{name} was fetched with ranges {s.gets(name)}")
    s.check_downloaded("AmbrelSetup.sh", SETUP)
    s.check_downloaded("AmbrelData.pak", DATA)
    s.check_report_sent()
    check(s.downloaded(MARKER) == (s.downloads + "\n").encode(), "the installer did not run in its folder")
    s.close_window()


def continued_run(s):
    """Partial files: continue for all files is asked once, each file is fetched from its local size on."""
    s.start_server({"AmbrelData.pak": DATA, "AmbrelPatch.pak": PATCH})
    s.write_config([f'Url="{s.url("AmbrelData.pak")}"', f'Url="{s.url("AmbrelPatch.pak")}"'])
    s.put_download("AmbrelData.pak", DATA[:100000])
    s.put_download("AmbrelPatch.pak", PATCH[:12345])
    s.start_program()
    s.click_button("Download")
    s.answer_overwrite(keep_going=True, for_all=True)
    # A second question would hold the worker, and the run would not end.
    s.wait_for_state(s.url("AmbrelPatch.pak"), "완료")
    check(s.gets("AmbrelData.pak") == ["bytes=100000-"], f"AmbrelData.pak ranges {s.gets('AmbrelData.pak')}")
    check(s.gets("AmbrelPatch.pak") == ["bytes=12345-"], f"AmbrelPatch.pak ranges {s.gets('AmbrelPatch.pak')}")
    s.check_downloaded("AmbrelData.pak", DATA)
    s.check_downloaded("AmbrelPatch.pak", PATCH)
    wait_for(s.report_requests, 10, "the end report")
    s.check_report_sent()
    check(s.overwrite_dialog() is None, "the overwrite question was asked again")
    s.close_window()


def complete_file_skipped(s):
    """A complete local file answered with continue is skipped without a request; the other one is fetched."""
    s.start_server({"AmbrelData.pak": DATA, "AmbrelPatch.pak": PATCH})
    s.write_config([f'Url="{s.url("AmbrelData.pak")}"', f'Url="{s.url("AmbrelPatch.pak")}"'])
    s.put_download("AmbrelData.pak", DATA)
    s.start_program()
    s.click_button("Download")
    s.answer_overwrite(keep_going=True, for_all=False)
    s.wait_for_state(s.url("AmbrelPatch.pak"), "완료")
    check(s.row_states(s.url("AmbrelData.pak")) == ["건너뜀"], f"states {s.row_states(s.url('AmbrelData.pak'))}")
    check(s.gets("AmbrelData.pak") == [], "the complete file was requested again")
    check(s.gets("AmbrelPatch.pak") == [""], f"AmbrelPatch.pak ranges {s.gets('AmbrelPatch.pak')}")
    s.check_downloaded("AmbrelData.pak", DATA)
    s.check_downloaded("AmbrelPatch.pak", PATCH)
    wait_for(s.report_requests, 10, "the end report")
    s.close_window()


def overwrite_all(s):
    """Overwrite for all files: asked once, local garbage (longer and shorter) replaced from byte 0."""
    s.start_server({"AmbrelData.pak": DATA, "AmbrelPatch.pak": PATCH})
    s.write_config([f'Url="{s.url("AmbrelData.pak")}"', f'Url="{s.url("AmbrelPatch.pak")}"'])
    s.put_download("AmbrelData.pak", b"\xff" * (len(DATA) + 5000))
    s.put_download("AmbrelPatch.pak", b"garbage")
    s.start_program()
    s.click_button("Download")
    s.answer_overwrite(keep_going=False, for_all=True)
    s.wait_for_state(s.url("AmbrelPatch.pak"), "완료")
    for name, content in (("AmbrelData.pak", DATA), ("AmbrelPatch.pak", PATCH)):
        check(s.gets(name) == [""], f"{name} ranges {s.gets(name)}")
        s.check_downloaded(name, content)
    wait_for(s.report_requests, 10, "the end report")
    check(s.overwrite_dialog() is None, "the overwrite question was asked again")
    s.close_window()


def stop_and_restart(s):
    """Stop during the second of three files, then Download again: the new run continues the stopped file.
    After the stop the third file is never started, the Stopped message shows, no report is sent."""
    slow = "AmbrelData.pak?rate=50000"
    s.start_server({"AmbrelSetup.sh": SETUP, "AmbrelData.pak": DATA, "AmbrelPatch.pak": PATCH})
    # One at a time: the third file waits for the second.
    s.write_config([f'Url="{s.url("AmbrelSetup.sh")}" autoexecute="true" {SETUP_DIGEST}', f'Url="{s.url(slow)}"',
                    f'Url="{s.url("AmbrelPatch.pak")}"'], connections=1)
    s.start_program()
    s.click_button("Download")
    wait_for(lambda: len(s.downloaded(slow) or b"") >= 10000, 10, "the second file's first bytes")
    s.click_button("Stop")
    s.answer_message(TITLE_NOTICE, "Return")  # 다운로드를 중지하겠습니까? → Yes
    wait_for(lambda: set(s.row_states(s.url(slow))) & {"실패", "완료"}, 5, "the stopped file's end state")
    s.answer_message(TITLE_WARNING, "Return")  # 다운로드를 중지했습니다.
    check(s.row_states(s.url("AmbrelPatch.pak")) == [], "the third file was started after Stop")
    check(s.gets("AmbrelPatch.pak") == [], "the third file was requested after Stop")
    check(s.report_requests() == [], "a stopped run sent the end report")
    check("Successfully executed" not in s.log(), "a stopped run started the installer")
    partial = s.downloaded(slow)
    check(partial is not None and 0 < len(partial) < len(DATA) and DATA.startswith(partial),
          "the stopped file's partial data is not kept as it was received")

    s.click_button("Download")  # enabled again in the Stopped state
    s.answer_overwrite(keep_going=True, for_all=True)
    wait_for(lambda: len(s.gets(slow)) == 2, 10, "the stopped file to be requested again")
    check(s.gets(slow)[1] == f"bytes={len(partial)}-", f"the new run asked for {s.gets(slow)[1]}")
    check(s.row_states(s.url("AmbrelSetup.sh"))[-1] == "건너뜀", "the complete first file was not skipped")
    s.click_button("Close")
    s.answer_message(TITLE_NOTICE, "Return")
    s.wait_for_exit(5)


def failed_file(s):
    """A file gone after the start survey fails: the incomplete message shows, no report, nothing started."""
    s.start_server({"AmbrelSetup.sh": SETUP, "AmbrelData.pak": DATA})
    s.write_config([f'Url="{s.url("AmbrelSetup.sh")}" autoexecute="true"', f'Url="{s.url("AmbrelData.pak")}"'])
    s.start_program()
    os.remove(os.path.join(s.served, "AmbrelData.pak"))
    s.click_button("Download")
    s.wait_for_state(s.url("AmbrelData.pak"), "실패")
    s.answer_message(TITLE_WARNING, "Return")  # 일부 파일을 완전히 다운로드 하지 못했습니다.
    check(s.row_states(s.url("AmbrelSetup.sh")) == ["전송중", "완료"], "the first file did not arrive")
    check(s.report_requests() == [], "a run with a failed file sent the end report")
    check("Successfully executed" not in s.log(), "a run with a failed file started the installer")
    s.close_window()


def close_during_run(s):
    """Close during a transfer, confirmed: the program ends within a second."""
    slow = "AmbrelData.pak?rate=20000"
    s.start_server({"AmbrelData.pak": DATA})
    s.write_config([f'Url="{s.url(slow)}"'])
    s.start_program()
    s.click_button("Download")
    s.wait_for_state(s.url(slow), "전송중")
    s.click_button("Close")
    answered = s.answer_message(TITLE_NOTICE, "Return")
    status = s.wait_for_exit(5)
    took = time.monotonic() - answered
    print(f"  ended {took * 1000:.0f} ms after the answer")
    check(took < 1.0, f"the program took {took:.2f} s to end")
    check(status == 0, f"the program ended with status {status}")
    check(s.report_requests() == [], "a closed run sent the end report")


class SilentListener:
    """A loopback port that takes connections and never answers."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(8)
        self.port = self.socket.getsockname()[1]

    def close(self):
        self.socket.close()


def close_during_stalled_survey(s):
    """A check-box survey meets a server that never answers: Close still ends the program within a second."""
    silent = SilentListener()
    try:
        s.start_server({})
        s.write_config([f'Url="http://127.0.0.1:{silent.port}/AmbrelData.pak"'], checked=False)
        s.start_program()
        opened = s.log().count("Sucessfully open the file to download into")
        x, y = FILE_LIST_FIRST_CHECK_BOX
        s.click(s.origin[0] + x, s.origin[1] + y)
        wait_for(lambda: s.log().count("Sucessfully open the file to download into") > opened, 5,
                 "the survey of the ticked file")
        time.sleep(0.3)  # into the wait for the answer
        closed = time.monotonic()
        s.click_button("Close")
        status = s.wait_for_exit(5)
        took = time.monotonic() - closed
        print(f"  ended {took * 1000:.0f} ms after the click")
        check(took < 1.0, f"the program took {took:.2f} s to end")
        check(status == 0, f"the program ended with status {status}")
    finally:
        silent.close()


def awaited_installer(s):
    """While an awaited installer runs, the window repaints and Close ends the program at once.
    A button lights up under the pointer; the installer keeps running after the program has ended."""
    waiting = b"#!/bin/sh\ni=0\nwhile [ ! -e go ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\ntouch finished\n"
    s.start_server({"AmbrelSetup.sh": waiting})
    s.write_config([f'Url="{s.url("AmbrelSetup.sh")}" autoexecute="true" waitexecute="true" '
                    f'Sha256="{hashlib.sha256(waiting).hexdigest()}"'])
    s.start_program()
    s.click_button("Download")
    s.wait_for_log("Successfully executed downloaded local file [" + os.path.join(s.downloads, "AmbrelSetup.sh"))
    close = (474, 476, *BUTTON_SIZE)
    s.xdotool("mousemove", str(s.origin[0] + 10), str(s.origin[1] + 10))
    time.sleep(0.3)
    before = s.screen(*close)
    s.xdotool("mousemove", str(s.origin[0] + close[0] + 20), str(s.origin[1] + close[1] + 10))
    wait_for(lambda: s.screen(*close) != before, 5, "the Close button to light up under the pointer")
    check("Process [" not in s.log(), "the installer was not waited for")
    closed = time.monotonic()
    s.click_button("Close")
    s.wait_for_exit(5)
    took = time.monotonic() - closed
    check(took < 1.0, f"the program took {took:.2f} s to end while it waited for the installer")
    check(s.downloaded("finished") is None, "the installer ended before it was let go")
    s.put_download("go", b"")
    wait_for(lambda: s.downloaded("finished") is not None, 5, "the installer, still running, to finish")


def auto_close(s):
    """autoclose on the last file: after a complete run the window closes by itself."""
    s.start_server({"AmbrelData.pak": DATA, "AmbrelPatch.pak": PATCH})
    s.write_config([f'Url="{s.url("AmbrelData.pak")}"', f'Url="{s.url("AmbrelPatch.pak")}" autoclose="true"'])
    s.start_program()
    s.click_button("Download")
    check(s.wait_for_exit(15) == 0, f"the program ended with status {s.program.returncode}")
    s.check_downloaded("AmbrelData.pak", DATA)
    s.check_downloaded("AmbrelPatch.pak", PATCH)
    s.check_report_sent()


SCENARIOS = [fresh_run, continued_run, complete_file_skipped, overwrite_all, stop_and_restart, failed_file,
             close_during_run, auto_close, close_during_stalled_survey, awaited_installer]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--serve", required=True)
    parser.add_argument("--config", required=True, help="the example configuration whose <Files> are replaced")
    parser.add_argument("--port", type=int, required=True, help="the port the program's end report goes to")
    parser.add_argument("--only", nargs="*", default=[], help="scenario names to run")
    parser.add_argument("--keep", action="store_true", help="keep the scenarios' folders")
    parser.add_argument("--shots", help="folder for a screenshot of a failed scenario")
    options = parser.parse_args()

    missing = [tool for tool in ("Xvfb", "xdotool", "import") if shutil.which(tool) is None]
    if missing:
        print(f"missing {', '.join(missing)}: run tools/deps")
        return 1
    chosen = [scenario for scenario in SCENARIOS if not options.only or scenario.__name__ in options.only]
    display = Display()
    started = time.monotonic()
    try:
        for scenario in chosen:
            print(f"{scenario.__name__}: {scenario.__doc__.splitlines()[0]}", flush=True)
            begun = time.monotonic()
            s = Scenario(options, display, scenario.__name__)
            failed = True
            try:
                scenario(s)
                failed = False
            except (Failure, subprocess.TimeoutExpired) as error:
                print(f"FAILED {scenario.__name__}: {error}", flush=True)
                return 1
            finally:
                s.close(failed)
            print(f"  passed in {time.monotonic() - begun:.1f} s", flush=True)
    finally:
        display.stop()
    print(f"{len(chosen)} scenarios passed in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
