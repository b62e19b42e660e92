#!/usr/bin/env python3
"""Checks the Debian package and the portable bundle on a fresh Debian 12 (debootstrap; needs root).

The base system is made once in out/check/base and copied for every check. The program's window goes
to an Xvfb of our own, and it downloads from an ostrel-serve on 127.0.0.1.

The program's name (NAME, ostrel unless the build names another) is the package's.

deb  apt-get installs ./NAME_*.deb with the dependencies it names; NAME and NAME-cli answer --version,
     NAME shows its window with --config FILE; apt-get purge and autoremove --purge leave none of its files
     and nothing else outside apt's and dpkg's own records.
run  on a system with a desktop's base libraries (X11, xcb, GL, fontconfig, freetype, harfbuzz, a Latin
     font) but no Qt, curl, TinyXML, xz or Wayland libraries, and /tmp mounted noexec: the archive is
     gzip-compressed and carries the Wayland platform and shell plugins; a damaged copy refuses to start;
     the .run answers --version (and --cli --version), also with a PATH that lacks xz, and
     without gzip says so in one line and unpacks nothing; it shows its window with a relative --config
     FILE, on X11 although WAYLAND_DISPLAY names a compositor that is not there, maps Qt, ICU, curl, OpenSSL, TinyXML, minizip and zlib only from its bundle (/proc/PID/maps),
     downloads, starts the installer with the player's environment, closes by itself and leaves no
     unpacked copy behind.
debs with --deb given more than once (packages of other brandings): apt-get installs them all into one
     system, and each shows its own window title, desktop entry Name and icon (a file of its own package).

    tools/check_package.py --deb out/ostrel_1.0_amd64.deb [--deb OTHER.deb] --run out/ostrel-1.0-x86_64.run \\
        --serve out/release/src/serve/ostrel-serve [--shots DIR] [--only deb|run]
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "out" / "check"
MIRROR = "http://deb.debian.org/debian"
PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
# What a desktop without Qt, curl and TinyXML has: the libraries the bundle leaves out.
DESKTOP_BASE = ["libx11-6", "libx11-xcb1", "libxcb1", "libxcb-randr0", "libxcb-render0", "libxcb-shape0",
                "libxcb-shm0", "libxcb-sync1", "libxcb-xfixes0", "libxcb-xkb1", "libsm6", "libice6", "libgl1",
                "libegl1", "libopengl0", "libfontconfig1", "libfreetype6", "libharfbuzz0b", "fonts-dejavu-core"]
WAYLAND_PLUGINS = ["plugins/platforms/libqwayland-generic.so", "plugins/wayland-shell-integration/libxdg-shell.so"]
FROM_BUNDLE = re.compile(r"/lib(Qt6\w+|icu\w+|curl|ssl|crypto|tinyxml|minizip|z)\.so")
# apt's, dpkg's and the dynamic loader's own records change with every installation.
BOOKKEEPING = re.compile(r"^(var/lib/(dpkg|apt)|var/cache|var/log|etc/ld\.so\.cache$)")


class Failure(Exception):
    pass


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        raise Failure(what)


def base_system():
    base = WORK / "base"
    if not (base / ".complete").exists():
        shutil.rmtree(base, ignore_errors=True)
        WORK.mkdir(parents=True, exist_ok=True)
        subprocess.run(["debootstrap", "--variant=minbase", "bookworm", base, MIRROR], check=True,
                       stdout=subprocess.DEVNULL)
        (base / ".complete").touch()
    return base


class FreshSystem:
    """A copy of the base system with /proc, /dev, the X socket and its own /tmp mounted."""

    def __init__(self, name, display, noexec_tmp=False):
        self.path = WORK / name
        self.display = display
        subprocess.run(["rm", "-rf", self.path], check=True)
        subprocess.run(["cp", "-a", base_system(), self.path], check=True)
        shutil.copy2("/etc/resolv.conf", self.path / "etc/resolv.conf")
        # The end report goes to the report host compiled in: keep it on this machine.
        with open(self.path / "etc/hosts", "a") as hosts:
            hosts.write("127.0.0.1 report.ambrel.example\n")
        self.mounts = []
        self.mount("proc", ["-t", "proc", "proc"])
        self.mount("dev", ["--rbind", "/dev"])
        self.mount("tmp", ["-t", "tmpfs", "-o", "noexec" if noexec_tmp else "exec", "tmpfs"])
        (self.path / "tmp/.X11-unix").mkdir()
        self.mount("tmp/.X11-unix", ["--bind", "/tmp/.X11-unix"])

    def mount(self, where, how):
        subprocess.run(["mount", *how, self.path / where], check=True)
        self.mounts.append(self.path / where)

    def close(self):
        for where in reversed(self.mounts):
            subprocess.run(["umount", "-R", "-l", where], check=False)
        subprocess.run(["rm", "-rf", "--one-file-system", self.path], check=False)

    def command(self, script, **extra):
        environment = {"PATH": PATH, "HOME": "/root", "LANG": "C.UTF-8", "DISPLAY": self.display, **extra}
        return ["chroot", self.path, "/usr/bin/env", "-i", *(f"{k}={v}" for k, v in environment.items()),
                "/bin/sh", "-c", script]

    def run(self, script, **extra):
        result = subprocess.run(self.command(script, **extra), text=True, capture_output=True)
        if result.returncode != 0:
            raise Failure(f"{script}: exit {result.returncode}\n{result.stdout[-2000:]}{result.stderr[-2000:]}")
        return result.stdout

    def files(self):
        found = set()
        for folder, folders, names in os.walk(self.path):
            relative = os.path.relpath(folder, self.path)
            if relative.split("/")[0] in ("proc", "dev", "tmp", "sys"):
                folders.clear()
                continue
            found.update(os.path.normpath(os.path.join(relative, n)) for n in names + folders)
        return found


class Desktop:
    """Xvfb and the tools that look at it and click on it."""

    def __init__(self):
        self.server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.display = ":" + self.server.stdout.readline().decode().strip()
        self.environment = dict(os.environ, DISPLAY=self.display)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.environment, text=True,
                              capture_output=True).stdout

    def window_of(self, pid, seconds=20):
        """The process's window, whatever the branding titles it."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            windows = self.xdotool("search", "--onlyvisible", "--pid", pid).split()
            if windows:
                return windows[0]
            time.sleep(0.2)
        raise Failure(f"no window of process {pid}")

    def click(self, window, x, y):
        fields = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell", window).split())
        self.xdotool("mousemove", int(fields["X"]) + x, int(fields["Y"]) + y, "click", "1")

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.environment, check=True)

    def close(self):
        self.server.terminate()
        self.server.wait()


INSTALLER = b"#!/bin/sh\nenv > installer-environment.txt\n"


def check_config(port, installer):
    """The worked example with two files on the local server; the last one is the installer, which its
    SHA-256 vouches for."""
    text = (ROOT / "res/config.xml").read_text(encoding="utf-8")
    files = (f'<File Url="http://127.0.0.1:{port}/data.bin" />\n'
             f'        <File Url="http://127.0.0.1:{port}/setup.sh" autoexecute="true" waitexecute="true" '
             f'autoclose="{"true" if installer else "false"}" Sha256="{hashlib.sha256(INSTALLER).hexdigest()}" />')
    return re.sub(r"<Files>.*?</Files>", lambda _: f"<Files>\n        {files}\n    </Files>", text, flags=re.S)


def button(name):
    text = (ROOT / "res/config.xml").read_text(encoding="utf-8")
    x, y = re.search(rf'<{name} [^>]*Position="(\d+),(\d+)"', text).groups()
    return int(x) + 20, int(y) + 10


def wait_for_exit(process, seconds):
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure(f"the program did not end within {seconds} s")


def check_deb(deb, desktop, port, shots):
    name = deb.name.split("_")[0]
    system = FreshSystem("deb", desktop.display)
    try:
        shutil.copy2(deb, system.path / "tmp" / deb.name)
        system.run("apt-get update -qq")
        before = system.files()
        packages_before = set(system.run("dpkg-query -W -f='${Package}\\n'").split())
        system.run(f"DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/{deb.name}")
        depends = system.run(f"dpkg-query -W -f='${{Depends}}' {name}")
        print(f"      Depends: {depends}")
        check(system.run(f"{name} --version").startswith(f"{name} "), f"deb: {name} --version answers")
        check(system.run(f"{name}-cli --version").startswith(f"{name}-cli "), f"deb: {name}-cli --version answers")
        (system.path / "tmp/check.xml").write_text(check_config(port, installer=False), encoding="utf-8")
        program = subprocess.Popen(system.command(f"exec {name} --config /tmp/check.xml"),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = desktop.window_of(program.pid)
        time.sleep(1)
        desktop.screenshot(shots / f"deb-{name}-window.png")
        check(True, f"deb: the window shows with --config (deb-{name}-window.png)")
        desktop.click(window, *button("Close"))
        check(wait_for_exit(program, 10) in (0, 1), "deb: Close ends the program")
        installed = [f for f in system.run(f"dpkg -L {name}").split() if (system.path / f[1:]).is_file()]
        packages = set(system.run("dpkg-query -W -f='${Package}\\n'").split())
        with_ostrel = system.files()
        system.run(f"DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq {name}")
        left = [f for f in installed if (system.path / f[1:]).exists()]
        check(not left, f"deb: purge removed all {len(installed)} files of the package {left}")
        extra = sorted(f for f in system.files() - with_ostrel if not BOOKKEEPING.match(f))
        check(not extra, f"deb: purge left nothing new behind {extra[:20]}")
        system.run("DEBIAN_FRONTEND=noninteractive apt-get autoremove --purge -y -qq")
        after = set(system.run("dpkg-query -W -f='${Package}\\n'").split())
        remaining = [f for f in system.files() - before if not BOOKKEEPING.match(f)]
        print(f"      autoremove --purge removed {len(packages - after) - 1} dependencies; apt keeps "
              f"{' '.join(sorted(after - packages_before))} ({len(remaining)} files)")
    finally:
        system.close()


def desktop_entry(system, files):
    """The keys of the desktop entry among a package's `files`."""
    entry = next(f for f in files if f.startswith("/usr/share/applications/") and f.endswith(".desktop"))
    lines = (system.path / entry[1:]).read_text(encoding="utf-8").splitlines()
    return dict(line.split("=", 1) for line in lines if "=" in line and not line.startswith("#"))


def check_side_by_side(debs, desktop, port):
    system = FreshSystem("debs", desktop.display)
    try:
        for deb in debs:
            shutil.copy2(deb, system.path / "tmp" / deb.name)
        system.run("apt-get update -qq")
        names = " ".join(f"/tmp/{deb.name}" for deb in debs)
        system.run(f"DEBIAN_FRONTEND=noninteractive apt-get install -y -qq {names}")
        (system.path / "tmp/check.xml").write_text(check_config(port, installer=False), encoding="utf-8")
        shown = []
        for deb in debs:
            name = deb.name.split("_")[0]
            files = system.run(f"dpkg -L {name}").split()
            entry = desktop_entry(system, files)
            icons = [f for f in files if "/icons/hicolor/" in f and Path(f).stem == entry["Icon"]]
            check(bool(icons), f"side by side: {name}'s desktop entry names an icon of its package ({entry['Icon']})")
            program = subprocess.Popen(system.command(f"exec {name} --config /tmp/check.xml"),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            window = desktop.window_of(program.pid)
            title = desktop.xdotool("getwindowname", window).strip()
            desktop.click(window, *button("Close"))
            check(wait_for_exit(program, 10) in (0, 1), f"side by side: {name} shows its window ({title}) and closes")
            shown.append((title, entry["Name"], entry["Icon"]))
        for index, what in enumerate(("window titles", "desktop entry names", "icons")):
            values = [one[index] for one in shown]
            check(len(set(values)) == len(values), f"side by side: the packages' {what} differ {values}")
    finally:
        system.close()


def payload_magic(bundle):
    """The first bytes of the archive behind the makeself header (its first `skip` lines)."""
    data = bundle.read_bytes()
    skip = int(re.search(rb'^skip="(\d+)"$', data, re.M).group(1))
    offset = 0
    for _ in range(skip):
        offset = data.index(b"\n", offset) + 1
    return data[offset:offset + 2]


def path_without(system, label, commands):
    """A folder of the system that stands for its PATH less the commands that match `commands`."""
    folder = system.path / "root" / f"path-without-{label}"
    folder.mkdir()
    for bin_folder in ("usr/bin", "usr/sbin", "bin", "sbin"):
        for tool in sorted((system.path / bin_folder).iterdir()):
            if not commands.fullmatch(tool.name) and not os.path.lexists(folder / tool.name):
                (folder / tool.name).symlink_to(f"/{bin_folder}/{tool.name}")
    return f"/root/{folder.name}"


def check_run(bundle, desktop, port, served, shots):
    name = bundle.name.rsplit("-", 2)[0]
    check(payload_magic(bundle) == b"\x1f\x8b", "run: the archive is gzip-compressed")
    listing = subprocess.run([bundle, "--archive", "--list"], text=True, capture_output=True).stdout
    missing = [name for name in WAYLAND_PLUGINS if name not in listing]
    check(not missing, f"run: the archive carries the Wayland platform and shell plugins {missing}")
    system = FreshSystem("run", desktop.display, noexec_tmp=True)
    try:
        system.run("apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "
                   "--no-install-recommends " + " ".join(DESKTOP_BASE))
        present = system.run("dpkg-query -W -f='${Package}\\n'").split()
        check(not [p for p in present if re.match(r"libqt|qt6|libcurl|libtinyxml", p)],
              "run: the system has no Qt, curl or TinyXML")
        (system.path / "tmp/probe").write_text("#!/bin/sh\n")
        os.chmod(system.path / "tmp/probe", 0o755)
        check(subprocess.run(system.command("/tmp/probe")).returncode != 0, "run: /tmp is mounted noexec")

        shutil.copy2(bundle, system.path / "root/ostrel.run")
        damaged = bytearray(bundle.read_bytes())
        damaged[-1000] ^= 0xFF
        (system.path / "root/damaged.run").write_bytes(damaged)
        os.chmod(system.path / "root/damaged.run", 0o755)
        # makeself makes its folder before it checks: keep that one out of the player's cache.
        refused = subprocess.run(system.command("cd /root && ./damaged.run --version", XDG_CACHE_HOME="/root/damaged"),
                                 text=True, capture_output=True)
        check(refused.returncode != 0 and "checksum" in (refused.stdout + refused.stderr).lower(),
              "run: a damaged copy refuses to start")
        version = system.run("cd /root && ./ostrel.run --version")
        check(version.startswith(f"{name} "), f"run: --version passes through ({version.splitlines()[0]})")
        version = system.run("cd /root && ./ostrel.run --cli --version")
        check(version.startswith(f"{name}-cli "), f"run: --cli starts {name}-cli ({version.splitlines()[0]})")
        without_xz = path_without(system, "xz", re.compile(r"(un)?(xz|lz)\w*"))
        version = subprocess.run(system.command("cd /root && ./ostrel.run --version", PATH=without_xz),
                                 text=True, capture_output=True)
        check(version.returncode == 0 and version.stdout.startswith(f"{name} "),
              f"run: it starts with a PATH that lacks xz {version.stderr.strip()[-300:]}")
        without_gzip = path_without(system, "gzip", re.compile(r"gzip|gunzip"))
        refused = subprocess.run(system.command("cd /root && ./ostrel.run --version", PATH=without_gzip,
                                                XDG_CACHE_HOME="/root/without-gzip"),
                                 text=True, capture_output=True)
        said = refused.stdout + refused.stderr
        check(refused.returncode != 0 and said == f"{name}: cannot start: gzip is missing\n"
              and not (system.path / "root/without-gzip").exists(),
              f"run: without gzip it says so in one line and unpacks nothing {said[-300:]!r}")

        (system.path / "root/check.xml").write_text(check_config(port, installer=True), encoding="utf-8")
        # The start script asks for Wayland first; with no compositor there the window falls back to X11.
        program = subprocess.Popen(system.command("cd /root && exec ./ostrel.run --config check.xml",
                                                  PLAYER_SETTING="kept", WAYLAND_DISPLAY="wayland-absent"),
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        cache = system.path / "root/.cache" / name
        pid = None
        deadline = time.monotonic() + 30
        while pid is None and time.monotonic() < deadline:
            for entry in Path("/proc").iterdir():
                try:
                    if entry.name.isdigit() and os.readlink(entry / "exe").startswith(str(cache)):
                        pid = int(entry.name)
                except OSError:
                    pass
            time.sleep(0.1)
        check(pid is not None, "run: the program runs from the unpacked bundle below ~/.cache")
        window = desktop.window_of(pid)
        time.sleep(1)
        desktop.screenshot(shots / "run-window.png")
        check(True, "run: the window shows on X11 with a relative --config FILE, WAYLAND_DISPLAY set "
              "(run-window.png)")
        mapped = sorted({line.split()[-1] for line in Path(f"/proc/{pid}/maps").read_text().splitlines()
                         if ".so" in line.split()[-1]})
        bundled = [m for m in mapped if m.startswith(str(cache))]
        system_libraries = [m for m in mapped if not m.startswith(str(cache))]
        wanted = [m for m in mapped if FROM_BUNDLE.search(m)]
        print(f"      mapped from the bundle: {' '.join(Path(m).name for m in bundled)}")
        print(f"      mapped from the system: {' '.join(Path(m).name for m in system_libraries)}")
        check(len(wanted) >= 10 and all(m.startswith(str(cache)) for m in wanted),
              f"run: Qt, ICU, curl, OpenSSL, TinyXML, minizip and zlib come from the bundle ({len(wanted)} files)")

        desktop.click(window, *button("Download"))
        status = wait_for_exit(program, 60)
        output = program.stdout.read().decode(errors="replace")
        check(status == 0, f"run: the program closed itself after the run, exit status {status}")
        target = system.path / "root/Documents/AmbrelLauncher"
        check((target / "data.bin").read_bytes() == (served / "data.bin").read_bytes(),
              "run: the file downloaded from ostrel-serve is complete")
        seen = (target / "installer-environment.txt").read_text().splitlines()
        names = {line.split("=", 1)[0] for line in seen}
        foreign = sorted(n for n in names if re.match(r"QT_|LD_|OSTREL_|USER_PWD|ARCHIVE_DIR", n))
        check("PLAYER_SETTING=kept" in seen and not foreign,
              f"run: the installer saw the player's environment, nothing of the bundle's {foreign}")
        left = [p.name for p in cache.glob("*")]
        check(not left, f"run: no unpacked copy is left behind {left}")
        if status != 0:
            print(output[-3000:])
    finally:
        system.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--deb", type=Path, required=True, action="append")
    parser.add_argument("--run", type=Path, required=True)
    parser.add_argument("--serve", type=Path, required=True)
    parser.add_argument("--shots", type=Path, default=WORK / "shots")
    parser.add_argument("--only", choices=("deb", "run"))
    options = parser.parse_args()
    options.shots.mkdir(parents=True, exist_ok=True)

    served = Path(tempfile.mkdtemp(prefix="ostrel-check-"))
    (served / "data.bin").write_bytes(os.urandom(3 * 1024 * 1024))
    (served / "setup.sh").write_bytes(INSTALLER)
    server = subprocess.Popen([options.serve, "--root", served, "--port", "0"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    port = int(server.stdout.readline())
    desktop = Desktop()
    try:
        if options.only in (None, "deb"):
            for deb in options.deb:
                check_deb(deb.resolve(), desktop, port, options.shots)
            if len(options.deb) > 1:
                check_side_by_side([deb.resolve() for deb in options.deb], desktop, port)
        if options.only in (None, "run"):
            check_run(options.run.resolve(), desktop, port, served, options.shots)
    except Failure as failure:
        print(f"check failed: {failure}", file=sys.stderr)
        return 1
    finally:
        desktop.close()
        server.terminate()
        server.wait()
        shutil.rmtree(served)
    print("all package checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
