#!/usr/bin/env python3
"""Draws the application icon: res/icon/ostrel.svg and PNGs of every size the desktop asks for.

One list of shapes on a 256-unit square is written out twice: as the SVG source, and as ImageMagick
drawing commands rendered four times larger and scaled down to each size, so that the PNGs match the
SVG without an SVG renderer. A service redraws its own icon by changing the colours below (or the
shapes) and running the script again. Needs ImageMagick (convert).

    res/icon/make_icon.py                 # writes ostrel.svg and ostrel-<size>.png beside this script
    res/icon/make_icon.py --out DIR       # writes them to DIR instead
"""

import argparse
import subprocess
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
SIZES = (16, 24, 32, 48, 64, 128, 256)
UNITS = 256
OVERSAMPLE = 4

# The default skin's palette: a dark slate tile with an amber arrow dropping into an amber tray.
TILE_TOP, TILE_BOTTOM = "#2A3B50", "#172130"
ARROW, TRAY = "#F5B041", "#D98A14"
TILE = (12, 12, 244, 244, 44)  # x0, y0, x1, y1, corner radius
ARROW_POINTS = [(104, 40), (152, 40), (152, 112), (190, 112), (128, 178), (66, 112), (104, 112)]
TRAY_POINTS = [(52, 150), (76, 150), (76, 190), (180, 190), (180, 150), (204, 150), (204, 214), (52, 214)]


def svg():
    x0, y0, x1, y1, r = TILE

    def points(shape):
        return " ".join(f"{x},{y}" for x, y in shape)

    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="{UNITS}" height="{UNITS}" viewBox="0 0 {UNITS} {UNITS}">
  <defs>
    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="{TILE_TOP}"/>
      <stop offset="1" stop-color="{TILE_BOTTOM}"/>
    </linearGradient>
  </defs>
  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" rx="{r}" ry="{r}" fill="url(#tile)"/>
  <polygon points="{points(TRAY_POINTS)}" fill="{TRAY}"/>
  <polygon points="{points(ARROW_POINTS)}" fill="{ARROW}"/>
</svg>
"""


def render(target, work):
    """The shapes at OVERSAMPLE times the unit square, with a transparent outside."""
    side = UNITS * OVERSAMPLE

    def scaled(shape):
        return " ".join(f"{x * OVERSAMPLE},{y * OVERSAMPLE}" for x, y in shape)

    x0, y0, x1, y1, r = (v * OVERSAMPLE for v in TILE)
    mask = work / "mask.png"
    subprocess.run(["convert", "-size", f"{side}x{side}", "xc:none", "-fill", "white", "-draw",
                    f"roundrectangle {x0},{y0} {x1 - 1},{y1 - 1} {r},{r}", mask], check=True)
    subprocess.run(["convert", "-size", f"{side}x{side}", f"gradient:{TILE_TOP}-{TILE_BOTTOM}", "-alpha", "set", mask,
                    "-compose", "DstIn", "-composite", "-compose", "Over",
                    "-fill", TRAY, "-draw", f"polygon {scaled(TRAY_POINTS)}",
                    "-fill", ARROW, "-draw", f"polygon {scaled(ARROW_POINTS)}", target], check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=HERE, help="folder for ostrel.svg and the PNGs")
    options = parser.parse_args()
    options.out.mkdir(parents=True, exist_ok=True)
    (options.out / "ostrel.svg").write_text(svg(), encoding="utf-8")
    with tempfile.TemporaryDirectory() as folder:
        large = Path(folder) / "large.png"
        render(large, Path(folder))
        for size in SIZES:
            # No time stamps or other chunks that change from run to run: the PNGs are kept in git.
            subprocess.run(["convert", large, "-filter", "Lanczos", "-resize", f"{size}x{size}", "-strip",
                            "-define", "png:exclude-chunks=date,time", f"PNG32:{options.out / f'ostrel-{size}.png'}"],
                           check=True)


if __name__ == "__main__":
    main()
