#!/usr/bin/env python3
"""Draws the default skin of the downloader and packs it into res/skin.zip.

The 23 JPEG images follow the worked-example configuration (res/config.xml): the background carries
panels where its labels, bars, file list and buttons stand, and every button image is drawn over the
piece of background it covers, so that rounded corners blend in. Needs ImageMagick (convert, montage)
and the NanumGothic fonts (fonts-nanum, found through fontconfig).

    skin/make_skin.py                      # writes res/skin.zip
    skin/make_skin.py --preview DIR        # also writes a montage and two window previews to DIR
"""

import argparse
import io
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CONFIG = ROOT / "res" / "config.xml"
ARCHIVE = ROOT / "res" / "skin.zip"

WIDTH, HEIGHT = 576, 520
BUTTON_SIZE = (84, 30)
FOLDER_SIZE = (84, 24)
BAR_IMAGE_SIZE = (6, 8)
STATES = ("normal", "over", "press", "disable")
# The image button treats pixels of exactly this colour as transparent; the artwork never uses it.
KEY_COLOUR = "#DEDEDE"

# Palette: a dark slate frame with amber accents around light panels that keep the labels' grey
# text (98,98,98) readable.
HEADER_TOP, HEADER_BOTTOM = "#2A3B50", "#172130"
BODY = "#E7EBF0"
PANEL, PANEL_EDGE = "#FFFFFF", "#CDD5DF"
CAPTION = "#3E5567"  # the file list's text colour
SUBTLE = "#8794A3"
AMBER, AMBER_DARK = "#F5B041", "#D98A14"
FOOTER_TOP, FOOTER_BOTTOM = "#243041", "#161E29"
# captions stand left of the label columns that start at x = 100 and x = 368
LEFT_COLUMN, RIGHT_COLUMN = 30, 318

# name, caption, icon, gradient top and bottom, text colour, surface it stands on
BUTTONS = {
    "exec": ("실행", "play", "#45C692", "#23956A", "#FFFFFF", "dark"),
    "download": ("다운로드", "arrow", "#F8BF55", "#E0901C", "#3B2504", "dark"),
    "stop": ("중지", "square", "#E8766A", "#C4473C", "#FFFFFF", "dark"),
    "close": ("닫기", "cross", "#56667A", "#3D4958", "#E9EEF3", "dark"),
    "folder": ("폴더", "folder", "#6788AA", "#48678A", "#FFFFFF", "light"),
}
CONTROL_NAMES = {"exec": "Execution", "download": "Download", "stop": "Stop", "close": "Close", "folder": "Folder"}


def font(bold=False, family="NanumGothic"):
    style = ":bold" if bold else ""
    path = subprocess.run(["fc-match", "-f", "%{file}", family + style], check=True, capture_output=True,
                          text=True).stdout
    if "nanum" not in path.lower():
        sys.exit(f"{family} not found: install fonts-nanum")
    return path


REGULAR, BOLD, BRAND = font(), font(True), font(True, "NanumSquare")


def run(*args):
    subprocess.run([str(a) for a in args], check=True)


def pair(value):
    x, y = value.split(",")
    return int(x), int(y)


def read_layout():
    root = ET.parse(CONFIG).getroot()
    layout = {"buttons": {}, "bars": {}, "labels": {}}
    for element in root.find("Buttons"):
        layout["buttons"][element.tag] = pair(element.get("Position"))
    for element in root.find("Progresses"):
        layout["bars"][element.tag] = pair(element.get("Position")) + pair(element.get("Size"))
    for element in root.find("Sections"):
        layout["labels"][element.tag] = pair(element.get("Position")) + pair(element.get("Size"))
    listbox = root.find("Listboxes/FileList")
    layout["list"] = pair(listbox.get("Position")) + pair(listbox.get("Size"))
    return layout


def text(x, y, words, colour, size=11, face=None, kerning=0):
    """ImageMagick arguments writing `words` with its baseline at (x, y)."""
    return ["-gravity", "NorthWest", "-font", face or BOLD, "-pointsize", size, "-kerning", kerning,
            "-fill", colour, "-stroke", "none", "-annotate", f"+{x}+{y - round(size * 0.82)}", words]


def shape(primitive, fill, stroke="none", width=1):
    return ["-fill", fill, "-stroke", stroke, "-strokewidth", width, "-draw", primitive]


def panel(x0, y0, x1, y1):
    return shape(f"roundrectangle {x0},{y0} {x1},{y1} 6,6", PANEL, PANEL_EDGE)


def caption(label, words, x):
    """A caption at `x` on the line of a label."""
    _, y, _, h = label
    return text(x, y + h - 2, words, CAPTION)


def section_title(x, y, words):
    return shape(f"roundrectangle {x},{y - 9} {x + 3},{y} 1,1", AMBER) + text(x + 9, y, words, "#2B3B4C", 12)


def bar_track(bar):
    x, y, w, h = bar
    return shape(f"rectangle {x - 1},{y - 1} {x + w},{y + h}", PANEL, "#BCC6D2")


def draw_background(layout, path):
    labels, bars = layout["labels"], layout["bars"]
    lx, ly, lw, lh = layout["list"]
    fx, fy = layout["buttons"]["Folder"]
    px, py, _, ph = labels["DownloadPath"]
    footer_top = layout["buttons"]["Execution"][1] - 14
    args = ["convert", "-size", f"{WIDTH}x{HEIGHT}", f"xc:{BODY}",
            # header with the brand
            "(", "-size", f"{WIDTH}x86", f"gradient:{HEADER_TOP}-{HEADER_BOTTOM}", ")",
            "-geometry", "+0+0", "-composite"]
    # soft rings behind the brand's right side
    for cx, cy, r, alpha in ((500, 20, 90, 0.06), (540, 70, 60, 0.05), (430, 90, 70, 0.04)):
        args += shape(f"circle {cx},{cy} {cx + r},{cy}", "none", f"rgba(245,176,65,{alpha * 4})", 2)
    args += shape("polygon 40,24 56,40 40,56 24,40", AMBER)
    args += shape("polygon 40,31 49,40 40,49 31,40", HEADER_BOTTOM)
    args += shape("polygon 40,36 44,40 40,44 36,40", AMBER)
    args += text(68, 50, "AMBREL", AMBER, 30, BRAND, 5)
    args += text(70, 70, "앰브렐 게임 다운로더", "#B4C0CD", 11, REGULAR, 1)
    args += text(WIDTH - 118, 30, "LAUNCHER", "#5E7088", 10, BOLD, 3)
    args += shape(f"rectangle 0,86 {WIDTH},88", AMBER_DARK)
    args += shape(f"line 0,86 {WIDTH},86", AMBER)

    # current file: name and state, speed and progress, the file bar
    file_bar = bars["FileDownloadRate"]
    args += panel(14, 93, WIDTH - 15, file_bar[1] + 17)
    args += shape(f"line 304,99 304,{labels['Speed'][1] + 14}", "none", "#E3E8EE")
    args += caption(labels["FileName"], "파일", LEFT_COLUMN)
    args += caption(labels["Speed"], "속도", LEFT_COLUMN)
    args += caption(labels["TransState"], "상태", RIGHT_COLUMN)
    args += caption(labels["FileDownloadRate"], "진행", RIGHT_COLUMN)
    args += bar_track(file_bar)

    # the whole run: times, counts, totals, the total bar
    total_bar = bars["TotalDownloadRate"]
    top = labels["ElapseTime"][1] - 34
    args += panel(14, top, WIDTH - 15, total_bar[1] + 17)
    args += section_title(22, top + 19, "전체 진행률")
    args += shape(f"line 22,{top + 25} {WIDTH - 23},{top + 25}", "none", "#E3E8EE")
    args += shape(f"line 304,{top + 31} 304,{labels['RemainTime'][1] + 14}", "none", "#E3E8EE")
    args += caption(labels["ElapseTime"], "경과 시간", LEFT_COLUMN)
    args += caption(labels["RemainTime"], "남은 시간", LEFT_COLUMN)
    args += caption(labels["RecvCount"], "파일 수", RIGHT_COLUMN)
    count_x, count_y, count_w, count_h = labels["RecvCount"]
    args += text((count_x + count_w + labels["TotalCount"][0]) // 2 - 3, count_y + count_h - 2, "/", SUBTLE, 11,
                 REGULAR)
    args += caption(labels["TotalDownloadRate"], "받은 양", RIGHT_COLUMN)
    args += bar_track(total_bar)

    # the file list sits in its own panel
    args += panel(14, ly - 28, WIDTH - 15, ly + lh + 6)
    args += section_title(22, ly - 9, "다운로드 파일")
    args += shape(f"rectangle {lx - 1},{ly - 1} {lx + lw},{ly + lh}", PANEL, PANEL_EDGE)

    # download folder: a field behind the path label, the folder button beside it
    args += panel(14, py - 35, WIDTH - 15, fy + FOLDER_SIZE[1] + 5)
    args += section_title(22, py - 16, "설치 경로")
    args += shape(f"roundrectangle {px - 6},{fy} {fx - 9},{fy + FOLDER_SIZE[1] - 1} 4,4", "#F3F5F8", "#C3CCD7")

    # footer: dark, for the free-space text in white and the command buttons
    args += ["(", "-size", f"{WIDTH}x{HEIGHT - footer_top}", f"gradient:{FOOTER_TOP}-{FOOTER_BOTTOM}", ")",
             "-geometry", f"+0+{footer_top}", "-composite"]
    args += shape(f"line 0,{footer_top} {WIDTH},{footer_top}", "none", "#35455A")
    free_x, free_y, _, free_h = labels["DiskFreeSpace"]
    args += text(free_x, free_y + free_h + 15, "디스크 남은 용량", "#8A9BAE", 10, REGULAR)
    args += [path]
    run(*args)


def mix(colour, towards, amount):
    """`colour` moved `amount` (0..1) of the way towards `towards`, both #RRGGBB."""
    a = [int(colour[i:i + 2], 16) for i in (1, 3, 5)]
    b = [int(towards[i:i + 2], 16) for i in (1, 3, 5)]
    return "#" + "".join(f"{round(x + (y - x) * amount):02X}" for x, y in zip(a, b))


def icon(kind, x, y, colour):
    """A small glyph whose box starts at (x, y), 10 pixels high."""
    if kind == "play":
        return shape(f"polygon {x},{y} {x + 9},{y + 5} {x},{y + 10}", colour)
    if kind == "arrow":
        return (shape(f"rectangle {x + 3},{y} {x + 6},{y + 5}", colour) +
                shape(f"polygon {x},{y + 5} {x + 9.5},{y + 5} {x + 4.75},{y + 10}", colour))
    if kind == "square":
        return shape(f"rectangle {x},{y + 1} {x + 8},{y + 9}", colour)
    if kind == "cross":
        return (shape(f"line {x},{y + 1} {x + 8},{y + 9}", "none", colour, 2) +
                shape(f"line {x},{y + 9} {x + 8},{y + 1}", "none", colour, 2))
    return (shape(f"polygon {x},{y + 1} {x + 4},{y + 1} {x + 5},{y + 2.5} {x + 11},{y + 2.5} {x + 11},{y + 9} "
                  f"{x},{y + 9}", colour))


def text_width(words, size):
    result = subprocess.run(["convert", "-font", BOLD, "-pointsize", str(size), f"label:{words}", "-format", "%w",
                             "info:"], check=True, capture_output=True, text=True)
    return int(result.stdout)


def draw_button(name, state, background, position, path):
    words, glyph, top, bottom, ink, surface = BUTTONS[name]
    w, h = FOLDER_SIZE if name == "folder" else BUTTON_SIZE
    x, y = position
    edge = mix(bottom, "#000000", 0.35)
    shine = "rgba(255,255,255,0.35)"
    shift = 0
    if state == "over":
        top, bottom, edge = mix(top, "#FFFFFF", 0.22), mix(bottom, "#FFFFFF", 0.18), mix(edge, "#FFFFFF", 0.25)
        shine = "rgba(255,255,255,0.55)"
    elif state == "press":
        top, bottom = mix(bottom, "#000000", 0.18), mix(top, "#000000", 0.12)
        shine = "rgba(0,0,0,0.25)"
        shift = 1
    elif state == "disable":
        grey_top, grey_bottom = ("#6A7380", "#59616D") if surface == "dark" else ("#CBD1D8", "#BAC1CA")
        top, bottom = grey_top, grey_bottom
        edge = mix(grey_bottom, "#000000", 0.25)
        ink = "#9AA3AE" if surface == "dark" else "#8C95A0"
        shine = "rgba(255,255,255,0.15)"

    size = 13 if h == 30 else 12
    label_width = text_width(words, size)
    group = 10 + 5 + label_width
    gx = (w - group) // 2 + shift
    baseline = (h + size * 0.72) / 2 + shift
    args = ["convert", background, "-crop", f"{w}x{h}+{x}+{y}", "+repage",
            "(", "-size", f"{w}x{h}", f"gradient:{top}-{bottom}", ")",
            "(", "-size", f"{w}x{h}", "xc:black", "-fill", "white", "-draw",
            f"roundrectangle 0,0 {w - 1},{h - 1} 5,5", ")", "-composite"]
    args += shape(f"roundrectangle 0.5,0.5 {w - 1.5},{h - 1.5} 5,5", "none", edge)
    line_y = 2.5 if state == "press" else 1.5
    args += shape(f"line 5,{line_y} {w - 6},{line_y}", "none", shine)
    args += icon(glyph, gx, round(h / 2 - 5 + shift), ink)
    args += text(gx + 15, round(baseline), words, ink, size)
    args += [path]
    run(*args)


def draw_bar_image(top, bottom, path):
    """A 6 x 8 tile: a vertical gradient with a light diagonal stripe that continues across tiles."""
    w, h = BAR_IMAGE_SIZE
    args = ["convert", "-size", f"{w}x{h}", f"gradient:{top}-{bottom}"]
    for x in range(w):
        for y in range(h):
            if (x + y) % w < 2:
                args += shape(f"point {x},{y}", "rgba(255,255,255,0.28)")
    args += [path]
    run(*args)


def key_pixels(path):
    result = subprocess.run(["convert", path, "-fill", "black", "+opaque", KEY_COLOUR, "-fill", "white", "-opaque",
                             KEY_COLOUR, "-format", "%[fx:round(mean*w*h)]", "info:"], check=True, capture_output=True,
                            text=True)
    return int(result.stdout)


def save_jpeg(source, target, size):
    """JPEG noise can land on the key colour: the first quality whose decoded pixels avoid it is kept."""
    for quality in (93, 95, 97, 98):
        run("convert", source, "-strip", "-sampling-factor", "1x1", "-quality", quality, target)
        if key_pixels(target) == 0:
            break
    else:
        sys.exit(f"{target.name}: pixels of the key colour {KEY_COLOUR} at every quality")
    result = subprocess.run(["convert", target, "-format", "%w %h", "info:"], check=True, capture_output=True,
                            text=True)
    if tuple(map(int, result.stdout.split())) != size:
        sys.exit(f"{target.name}: size {result.stdout} instead of {size}")


def draw_skin(folder):
    layout = read_layout()
    background_png = folder / "background.png"
    draw_background(layout, background_png)
    images = {"background.jpg": (background_png, (WIDTH, HEIGHT))}
    for name in BUTTONS:
        position = layout["buttons"][CONTROL_NAMES[name]]
        for state in STATES:
            png = folder / f"btn_{name}_{state}.png"
            draw_button(name, state, background_png, position, png)
            images[f"btn_{name}_{state}.jpg"] = (png, FOLDER_SIZE if name == "folder" else BUTTON_SIZE)
    draw_bar_image("#FFD47E", "#E08A12", folder / "progress_file.png")
    draw_bar_image("#7CCBFA", "#1F78C1", folder / "progress_total.png")
    images["progress_file.jpg"] = (folder / "progress_file.png", BAR_IMAGE_SIZE)
    images["progress_total.jpg"] = (folder / "progress_total.png", BAR_IMAGE_SIZE)
    for name, (png, size) in images.items():
        save_jpeg(png, folder / name, size)
    return layout, sorted(images)


def pack(folder, names):
    """Stored entries with a fixed time, so that the same images give the same archive."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as archive:
        for name in names:
            entry = zipfile.ZipInfo(name, date_time=(2012, 8, 22, 12, 0, 0))
            entry.external_attr = 0x20  # archive bit, as a Windows tool writes it
            entry.create_system = 0
            archive.writestr(entry, (folder / name).read_bytes(), zipfile.ZIP_STORED)
    ARCHIVE.write_bytes(buffer.getvalue())


SAMPLE_TEXTS = {
    "FileName": "AmbrelData.pak", "FileSize": "1.95 GB", "FileRecvSize": "1.21 GB", "TotalSize": "2.04 GB",
    "TotalRecvSize": "1.30 GB", "RecvCount": "2", "TotalCount": "2", "FileDownloadRate": "62%",
    "TotalDownloadRate": "63%", "ElapseTime": "00:04:51", "RemainTime": "00:02:47", "Speed": "4.27 MB/s",
    "TransState": "다운로드 진행 중...", "DiskFreeSpace": "48.26 GB", "DownloadPath": "/home/player/Games/Ambrel",
}


def preview(folder, layout, names, target):
    """A labelled montage of the images and the window drawn as the program would, in two states."""
    target.mkdir(parents=True, exist_ok=True)
    style = ["-font", REGULAR, "-pointsize", "11", "-background", "#8C8C8C", "-fill", "#111111"]
    pieces = []
    for name in names:
        if name.startswith("progress_"):  # 6 x 8 pixels: shown four times larger
            pieces += ["(", folder / name, "-scale", "400%", "-set", "label", f"{name} (x4)", ")"]
        elif name != "background.jpg":
            pieces += ["(", folder / name, "-set", "label", name, ")"]
    small, large = target / "skin_montage_small.png", target / "skin_montage_large.png"
    run("montage", *pieces, *style, "-tile", "4x", "-geometry", "84x32+34+8>", small)
    run("montage", "-label", "%f", folder / "background.jpg", *style, "-geometry", "+12+12", large)
    run("convert", large, small, "-background", "#8C8C8C", "-gravity", "center", "+append",
        target / "skin_montage.png")
    small.unlink()
    large.unlink()
    montage_big = ["montage"]
    for name in names:
        if name.startswith("btn_"):
            montage_big += ["(", folder / name, "-scale", "300%", "-set", "label", name, ")"]
    run(*montage_big, "-font", REGULAR, "-pointsize", "12", "-background", "#8C8C8C", "-tile", "4x",
        "-geometry", "+10+10", target / "skin_buttons_3x.png")

    states = {
        "ready": {"exec": "disable", "download": "normal", "stop": "disable", "close": "normal", "folder": "normal"},
        "running": {"exec": "disable", "download": "press", "stop": "over", "close": "normal", "folder": "disable"},
    }
    for title, chosen in states.items():
        args = ["convert", folder / "background.jpg"]
        for name, state in chosen.items():
            x, y = layout["buttons"][CONTROL_NAMES[name]]
            args += [folder / f"btn_{name}_{state}.jpg", "-geometry", f"+{x}+{y}", "-composite"]
        for bar, image, fraction in (("FileDownloadRate", "progress_file.jpg", 0.62),
                                     ("TotalDownloadRate", "progress_total.jpg", 0.63)):
            x, y, w, h = layout["bars"][bar]
            args += ["(", "-size", f"{w}x{h}", "xc:white", ")", "-geometry", f"+{x}+{y}", "-composite"]
            filled = int(w * fraction) if title == "running" else 0
            if filled:
                # tiled from the bar's left edge, as the bar draws it
                args += ["(", "-size", f"{filled}x{h}", f"tile:{folder / image}", ")", "-geometry", f"+{x}+{y}",
                         "-composite"]
        if title == "running":
            for label, (x, y, w, h) in layout["labels"].items():
                colour = "white" if label == "DiskFreeSpace" else "rgb(98,98,98)"
                face = BOLD if label == "FileName" else REGULAR
                args += ["-font", face, "-pointsize", "12", "-fill", colour, "-gravity", "NorthWest",
                         "-annotate", f"+{x}+{y - 1}", SAMPLE_TEXTS[label]]
            lx, ly, lw, lh = layout["list"]
            for row, name in enumerate(("AmbrelSetup.exe", "AmbrelData.pak")):
                ry = ly + 4 + row * 18
                args += shape(f"rectangle {lx + 6},{ry + 2} {lx + 17},{ry + 13}", "white", "#7D8B99")
                args += shape(f"polyline {lx + 8},{ry + 7} {lx + 11},{ry + 11} {lx + 16},{ry + 4}", "none",
                              "#2F6FB0", 2)
                args += ["-font", REGULAR, "-pointsize", "12", "-fill", "rgb(62,85,103)", "-stroke", "none",
                         "-annotate", f"+{lx + 24}+{ry}", name]
        args += [target / f"skin_window_{title}.png"]
        run(*args)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preview", type=Path, help="folder for a montage and window previews")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as temporary:
        folder = Path(temporary)
        layout, names = draw_skin(folder)
        pack(folder, names)
        if options.preview:
            preview(folder, layout, names, options.preview)
    print(f"{ARCHIVE.relative_to(ROOT)}: {len(names)} images")


if __name__ == "__main__":
    main()
