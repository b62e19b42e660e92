#!/usr/bin/env python3
"""Packs a built ostrel into one portable file, NAME-VERSION-x86_64.run (a makeself archive, gzip).

Inside: bin/NAME and bin/NAME-cli with qt.conf, the shared libraries they need that a desktop does not
provide (lib/), Qt's xcb and Wayland platforms with the Wayland shell and decoration plugins, the
image-format plugins (plugins/), NanumGothic (share/ostrel/fonts/) and the
copyright files of every bundled Debian package (share/licenses/). Every ELF file finds its libraries
through an $ORIGIN-relative RPATH, so no environment variable is needed. The archive unpacks below
$XDG_CACHE_HOME (not /tmp, which may be mounted noexec), checks its own checksums and passes its
arguments to the program; `--cli` in front starts NAME-cli instead, `--archive` in front reaches
makeself's own options (--archive --check). NAME is the program's name (ostrel unless the build names
another), so that two brandings unpack side by side.

    tools/make_bundle.py --program out/release/src/ostrel --cli out/release/src/cli/ostrel-cli \
        --version 1.0 --out out
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MAKESELF_HEADER = Path("/usr/share/makeself/makeself-header.sh")

# Libraries that belong to the system it runs on: the C library and the compiler's runtime (newer
# on newer systems, never older), the graphics stack that must match its drivers, the X11 and Wayland
# client libraries and the font stack that must match its configuration. Their own dependencies are not
# followed either, so that no bundled copy stands in for what those system libraries load.
EXCLUDED = re.compile(
    r"^(ld-linux.*|lib(c|m|dl|pthread|rt|resolv|util|nsl|anl|mvec|BrokenLocale|thread_db)"
    r"|libstdc\+\+|libgcc_s"
    r"|lib(GL|EGL|GLX|GLdispatch|OpenGL|GLESv1_CM|GLESv2|gbm|drm)"
    r"|libX[A-Za-z0-9-]*|libSM|libICE"
    r"|libxcb(-(composite|damage|dpms|dri2|dri3|glx|present|randr|record|render|res|screensaver|shape|shm"
    r"|sync|xf86dri|xfixes|xinerama|xinput|xkb|xtest|xv|xvmc))?"
    r"|libwayland-(client|cursor|egl)"
    r"|libfontconfig|libfreetype|libharfbuzz)\.so")

# None: every plugin of the folder.
PLUGINS = {
    "platforms": ["libqxcb.so", "libqwayland-generic.so", "libqwayland-egl.so"],
    "wayland-shell-integration": ["libxdg-shell.so"],
    "wayland-decoration-client": None,
    "imageformats": None,
}

# The commands the archive's own start runs to check and unpack itself (gzip, as every Linux system has
# it; xz is missing from many). Looked for before anything else, so that a system without one hears
# which in one line rather than makeself's errors half-way through.
START_TOOLS = "gzip tar dd head wc tr cut expr cat mkdir rm dirname"


def run(*args, **kwargs):
    return subprocess.run([str(a) for a in args], check=True, text=True, capture_output=True, **kwargs).stdout


def needed(elf):
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run("readelf", "-d", elf))


def resolved(elf):
    """soname -> path of everything the dynamic loader would load for `elf` on this system."""
    found = {}
    for line in run("ldd", elf).splitlines():
        match = re.match(r"\s*(\S+) => (/\S+)", line)
        if match:
            found[match.group(1)] = match.group(2)
    return found


def qt_plugin_folder():
    return Path(run("qmake6", "-query", "QT_INSTALL_PLUGINS").strip())


def copy_libraries(roots, lib):
    """Copies the libraries `roots` need, following dependencies through bundled libraries only."""
    copied = {}
    for root in roots:
        paths = resolved(root)
        waiting = [root]
        while waiting:
            for soname in needed(waiting.pop()):
                if EXCLUDED.match(soname) or soname in copied:
                    continue
                if soname not in paths:
                    sys.exit(f"make_bundle: {soname} (needed below {root}) is not found on this system")
                copied[soname] = paths[soname]
                shutil.copy2(paths[soname], lib / soname, follow_symlinks=True)
                waiting.append(lib / soname)
    return copied


def owning_package(path):
    real = os.path.realpath(path)
    for candidate in (path, real, real.replace("/usr/lib/", "/lib/", 1)):
        result = subprocess.run(["dpkg", "-S", candidate], text=True, capture_output=True)
        if result.returncode == 0:
            return result.stdout.split(":", 1)[0]
    return None


def copy_licences(sources, licences):
    for package in sorted({owning_package(path) for path in sources} - {None}):
        notice = Path("/usr/share/doc") / package / "copyright"
        if notice.exists():
            (licences / package).mkdir(parents=True, exist_ok=True)
            shutil.copy2(notice, licences / package / "copyright")


def set_rpaths(stage):
    # DT_RPATH rather than DT_RUNPATH: searched before LD_LIBRARY_PATH, so that a player's own
    # library path cannot put another Qt under the program.
    for folder, rpath in (("bin", "$ORIGIN/../lib"), ("lib", "$ORIGIN"), ("plugins/*", "$ORIGIN/../../lib")):
        for elf in stage.glob(f"{folder}/*"):
            if elf.is_file() and elf.suffix != ".conf":
                run("patchelf", "--force-rpath", "--set-rpath", rpath, elf)


def glibc_floor(stage):
    versions = set()
    for elf in stage.rglob("*"):
        if elf.is_file() and elf.read_bytes()[:4] == b"\x7fELF":
            versions.update(re.findall(r"GLIBC_(\d+(?:\.\d+)+)", run("objdump", "-T", elf)))
    return max(versions, key=lambda v: tuple(int(part) for part in v.split(".")))


def makeself_header(target, name):
    """Debian's makeself header with four changes: it first looks for the tools it needs, the player's
    arguments go to the program (makeself's own options only after --archive), it runs quietly, and it
    unpacks below $XDG_CACHE_HOME."""
    text = MAKESELF_HEADER.read_text()
    changes = [
        ("#!/bin/sh\n",
         "#!/bin/sh\n"
         f"for ostrel_tool in {START_TOOLS}; do\n"
         "    command -v \\$ostrel_tool >/dev/null 2>&1 || "
         f'{{ echo "{name}: cannot start: \\$ostrel_tool is missing" >&2; exit 127; }}\n'
         "done\n"),
        ("TMPROOT=\\${TMPDIR:=/tmp}\n",
         f'case "\\${{XDG_CACHE_HOME:-}}" in /*) TMPROOT="\\$XDG_CACHE_HOME/{name}" ;; '
         f'*) TMPROOT="\\$HOME/.cache/{name}" ;; esac\n'
         '(umask 077; mkdir -p "\\$TMPROOT") 2>/dev/null || TMPROOT=\\${TMPDIR:-/tmp}\n'),
        ('initargs="\\$@"\n',
         'if test x"\\$1" = x--archive; then shift; else set -- --quiet -- "\\$@"; fi\ninitargs="\\$@"\n'),
    ]
    for old, new in changes:
        if text.count(old) != 1:
            sys.exit(f"make_bundle: the makeself header changed, cannot find: {old.strip()}")
        text = text.replace(old, new)
    target.write_text(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", type=Path, required=True, help="the built program")
    parser.add_argument("--cli", type=Path, required=True, help="the built command-line program")
    parser.add_argument("--label", default="Ostrel", help="the name the archive shows")
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", type=Path, required=True, help="folder for the .run file")
    options = parser.parse_args()

    with tempfile.TemporaryDirectory() as work:
        name = options.program.name
        stage = Path(work) / f"{name}-{options.version}"
        for folder in ("bin", "lib", "share/ostrel/fonts", "share/licenses"):
            (stage / folder).mkdir(parents=True)
        program = stage / "bin" / name
        cli = stage / "bin" / f"{name}-cli"
        for built, staged in ((options.program, program), (options.cli, cli)):
            shutil.copy2(built, staged)
            run("strip", "--strip-unneeded", staged)
        shutil.copy2(ROOT / "res/bundle/qt.conf", stage / "bin" / "qt.conf")
        shutil.copy2(ROOT / "res/bundle/start.sh", stage / "start")
        os.chmod(stage / "start", 0o755)

        roots = [program, cli]
        plugins = []
        for kind, names in PLUGINS.items():
            source = qt_plugin_folder() / kind
            (stage / "plugins" / kind).mkdir(parents=True)
            for plugin in sorted(source.glob("*.so")) if names is None else [source / n for n in names]:
                shutil.copy2(plugin, stage / "plugins" / kind / plugin.name)
                plugins.append(plugin)
                roots.append(stage / "plugins" / kind / plugin.name)
        copied = copy_libraries(roots, stage / "lib")

        font = run("fc-match", "-f", "%{file}", "NanumGothic:style=Regular")
        shutil.copy2(font, stage / "share/ostrel/fonts" / Path(font).name)
        copy_licences([*copied.values(), *plugins, font], stage / "share/licenses")
        set_rpaths(stage)

        header = Path(work) / "header.sh"
        makeself_header(header, name)
        options.out.mkdir(parents=True, exist_ok=True)
        archive = (options.out / f"{name}-{options.version}-x86_64.run").resolve()
        unpacked = sum(f.stat().st_size for f in stage.rglob("*") if f.is_file())
        floor = glibc_floor(stage)
        run("makeself", "--quiet", "--nox11", "--keep-umask", "--sha256", "--nomd5", "--nocrc", "--gzip",
            "--header", header, "--packaging-date", "2000-01-01", stage, archive,
            f"{options.label} {options.version}", "./start", name)

    print(f"bundle: {archive}")
    print(f"bundled libraries: {len(copied)}: {' '.join(sorted(copied))}")
    print(f"glibc floor: GLIBC_{floor}")
    print(f"size: {archive.stat().st_size / 1e6:.1f} MB ({unpacked / 1e6:.1f} MB unpacked)")


if __name__ == "__main__":
    main()
