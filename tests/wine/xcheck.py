#!/usr/bin/env python3
"""What the X server shows of Tarnwick under Wine, for the test scripts.

  xcheck.py layout SHOT LEFT TOP DPI "R G B" PICTURE
      The window whose drawing area starts at LEFT,TOP in the screenshot SHOT against the layout
      table at DPI dots per inch: black background, the five lines in the caption colour R G B,
      PICTURE at its natural size (or, for "none", black where the picture goes), light grey text
      inside each label and nowhere else, and the screen's own colour right around the window.
  xcheck.py cursor
      The pointer's X cursor: "WxH hot=X,Y mask=HASH" (HASH of the opaque pixels).
  xcheck.py cursor-file FILE
      The same for a Windows cursor file (its first image).
  xcheck.py icon WINDOW FILE
      The window's _NET_WM_ICON holds the 16 and 32 pixel images of the icon file (its 32-bit ones).
  xcheck.py close WINDOW
      Asks the window to close through the window manager protocol (WM_DELETE_WINDOW), the way
      a window manager's close button does.
  xcheck.py bitmap FILE WxH "R G B"
      Writes a 24-bit Windows bitmap of one colour, a person's own wallpaper.
  xcheck.py screen SHOT WxH "R G B" [mark]
      The screenshot is WxH and all of one colour; with "mark", but for the page engine's 16-pixel
      magenta mark in its bottom right corner: the page's picture at the screen's exact size.

Exit status: 0 when every check holds, 1 with one line per failure otherwise, 2 on bad usage.
"""

import ctypes
import ctypes.util
import hashlib
import struct
import subprocess
import sys

# ------------------------------------------------------------------ the layout, restated here

TWIPS_PER_INCH = 1440
FORM_TWIPS = (2940, 4500)
PICTURE_PIXELS = (180, 135)
TEXT_RGB = (224, 224, 224)

# name, kind, left, top, width, height (twips), alignment
CONTROLS = [
    ("title", "label", 360, 120, 2295, 255, "left"),
    ("line 1", "line", 120, 480, 2680, 0, None),
    ("picture", "picture", 120, 720, 0, 0, None),
    ("line 2", "line", 120, 2880, 2680, 0, None),
    ("run", "label", 360, 3000, 2055, 255, "centre"),
    ("line 3", "line", 120, 3360, 2680, 0, None),
    ("close", "label", 240, 3480, 2295, 255, "centre"),
    ("line 4", "line", 120, 3840, 2680, 0, None),
    ("support", "label", 720, 3960, 1455, 255, "centre"),
    ("line 5", "line", 120, 4320, 2680, 0, None),
]


def pixels(twips, dpi):
    return (twips * dpi + TWIPS_PER_INCH // 2) // TWIPS_PER_INCH


def control_rect(control, dpi):
    """(left, top, right, bottom), right and bottom exclusive."""
    _, kind, left, top, width, height, _ = control
    x, y = pixels(left, dpi), pixels(top, dpi)
    if kind == "line":
        return x, y, pixels(left + width, dpi), y + 1
    if kind == "picture":
        return x, y, x + PICTURE_PIXELS[0], y + PICTURE_PIXELS[1]
    return x, y, pixels(left + width, dpi), pixels(top + height, dpi)


# ------------------------------------------------------------------------------ images


class Image:
    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return self.data[i], self.data[i + 1], self.data[i + 2]


def read_image(path):
    """Any image ImageMagick reads, as 8-bit RGB."""
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    fields, pos = [], 0
    while len(fields) < 4:
        while ppm[pos:pos + 1].isspace():
            pos += 1
        if ppm[pos:pos + 1] == b"#":
            pos = ppm.index(b"\n", pos) + 1
            continue
        end = pos
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"{path}: not an 8-bit PPM")
    width, height = int(fields[1]), int(fields[2])
    return Image(width, height, ppm[pos + 1:pos + 1 + width * height * 3])


def is_text(rgb):
    """A light grey pixel: the label colour or its anti-aliased edge, never black."""
    r, g, b = rgb
    return max(r, g, b) >= 48 and max(r, g, b) - min(r, g, b) <= 24


def check_layout(shot_path, left, top, dpi, caption, picture_path):
    shot = read_image(shot_path)
    if picture_path == "none":
        picture = Image(*PICTURE_PIXELS, bytes(3 * PICTURE_PIXELS[0] * PICTURE_PIXELS[1]))
    else:
        picture = read_image(picture_path)
    failures = []
    width, height = pixels(FORM_TWIPS[0], dpi), pixels(FORM_TWIPS[1], dpi)
    if left < 1 or top < 1 or left + width >= shot.width or top + height >= shot.height:
        return [f"the window {width}x{height} at {left},{top} is not wholly on the screen"]

    owner = {}  # window pixel -> the control drawn there
    for control in CONTROLS:
        x0, y0, x1, y1 = control_rect(control, dpi)
        for y in range(y0, y1):
            for x in range(x0, x1):
                owner.setdefault((x, y), control)

    # The screen's colour right around the window shows that the window has exactly its size.
    root = shot.at(left - 1, top - 1)
    ring = [(x, top - 1) for x in range(left - 1, left + width + 1)]
    ring += [(x, top + height) for x in range(left - 1, left + width + 1)]
    ring += [(left - 1, y) for y in range(top, top + height)] + [(left + width, y) for y in range(top, top + height)]
    if root == (0, 0, 0) or any(shot.at(x, y) != root for x, y in ring):
        failures.append("the window is not exactly %dx%d at %d,%d on a non-black screen" % (width, height, left, top))

    stray = []
    text = {c[0]: [] for c in CONTROLS if c[1] == "label"}
    wrong_line = {}
    picture_diff, picture_worst = 0, 0
    for y in range(height):
        for x in range(width):
            rgb = shot.at(left + x, top + y)
            control = owner.get((x, y))
            if control is None:
                if rgb != (0, 0, 0):
                    stray.append((x, y, rgb))
            elif control[1] == "line":
                if rgb != caption:
                    wrong_line.setdefault(control[0], (x, y, rgb))
            elif control[1] == "picture":
                x0, y0, _, _ = control_rect(control, dpi)
                want = picture.at(x - x0, y - y0)
                diff = max(abs(a - b) for a, b in zip(rgb, want))
                picture_diff += diff
                picture_worst = max(picture_worst, diff)
            else:
                if rgb != (0, 0, 0):
                    if not is_text(rgb) or max(rgb) > max(TEXT_RGB):
                        stray.append((x, y, rgb))
                    else:
                        text[control[0]].append((x, y, rgb))

    if stray:
        x, y, rgb = stray[0]
        failures.append(f"{len(stray)} pixels off the controls or of a foreign colour, first at {x},{y}: {rgb}")
    for name, (x, y, rgb) in wrong_line.items():
        failures.append(f"{name} is not drawn in the caption colour {caption}: {rgb} at {x},{y}")

    if (picture.width, picture.height) != PICTURE_PIXELS:
        failures.append(f"the picture file is {picture.width}x{picture.height}, not {PICTURE_PIXELS}")
    mean = picture_diff / (PICTURE_PIXELS[0] * PICTURE_PIXELS[1])
    if picture_path == "none" and picture_worst > 0:
        failures.append(f"the picture's place is not black: mean {mean:.1f}, worst {picture_worst}")
    elif mean > 2 or picture_worst > 24:
        failures.append(f"the picture differs from {picture_path}: mean {mean:.1f}, worst {picture_worst}")

    for control in CONTROLS:
        if control[1] != "label":
            continue
        name, align = control[0], control[6]
        x0, y0, x1, y1 = control_rect(control, dpi)
        found = text[name]
        if len(found) < 40:
            failures.append(f"the {name} label shows almost no text ({len(found)} pixels)")
            continue
        if not any(rgb == TEXT_RGB for _, _, rgb in found):
            failures.append(f"the {name} label has no pixel in the text colour {TEXT_RGB}")
        xs = [x for x, _, _ in found]
        ys = [y for _, y, _ in found]
        if min(ys) - y0 > max(3, dpi // 24):
            failures.append(f"the {name} text starts {min(ys) - y0} pixels below the label's top")
        if align == "left" and min(xs) - x0 > 2:
            failures.append(f"the {name} text starts {min(xs) - x0} pixels right of the label's left edge")
        if align == "centre":
            middle, want = (min(xs) + max(xs)) / 2, (x0 + x1 - 1) / 2
            if abs(middle - want) > 2:
                failures.append(f"the {name} text is centred at x={middle}, the label at x={want}")
    return failures


# ------------------------------------------------------------------------- X11 through ctypes


def xlib():
    lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    lib.XOpenDisplay.restype = ctypes.c_void_p
    lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    lib.XInternAtom.restype = ctypes.c_ulong
    lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    lib.XFree.argtypes = [ctypes.c_void_p]
    lib.XFlush.argtypes = [ctypes.c_void_p]
    lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return lib


def open_display(lib):
    display = lib.XOpenDisplay(None)
    if not display:
        raise SystemExit("cannot open the X display")
    return display


class XFixesCursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def describe_cursor(width, height, xhot, yhot, opaque):
    digest = hashlib.sha1(bytes(opaque)).hexdigest()[:12]
    return f"{width}x{height} hot={xhot},{yhot} mask={digest}"


def x_cursor():
    lib = xlib()
    fixes = ctypes.CDLL(ctypes.util.find_library("Xfixes") or "libXfixes.so.3")
    fixes.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                           ctypes.POINTER(ctypes.c_int)]
    fixes.XFixesGetCursorImage.restype = ctypes.POINTER(XFixesCursorImage)
    fixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = open_display(lib)
    event, error = ctypes.c_int(), ctypes.c_int()
    if not fixes.XFixesQueryExtension(display, ctypes.byref(event), ctypes.byref(error)):
        raise SystemExit("the X server has no XFIXES extension")
    image = fixes.XFixesGetCursorImage(display).contents
    opaque = [1 if (image.pixels[i] >> 24) & 0xFF else 0 for i in range(image.width * image.height)]
    text = describe_cursor(image.width, image.height, image.xhot, image.yhot, opaque)
    lib.XCloseDisplay(display)
    return text


def cursor_file(path):
    data = open(path, "rb").read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 2 or count < 1:
        raise SystemExit(f"{path}: not a cursor file")
    width, height, _, _, xhot, yhot, _, offset = struct.unpack_from("<BBBBHHII", data, 6)
    width, height = width or 256, height or 256
    header_size, _, _, _, bits = struct.unpack_from("<IiiHH", data, offset)
    colours = struct.unpack_from("<I", data, offset + 32)[0] or (1 << bits if bits <= 8 else 0)
    xor_start = offset + header_size + 4 * colours
    xor_stride = ((width * bits + 31) // 32) * 4
    and_start = xor_start + xor_stride * height
    and_stride = ((width + 31) // 32) * 4
    opaque = []
    for y in range(height):
        row = and_start + (height - 1 - y) * and_stride  # rows are stored bottom-up
        for x in range(width):
            transparent = (data[row + x // 8] >> (7 - x % 8)) & 1
            opaque.append(0 if transparent else 1)
    return describe_cursor(width, height, xhot, yhot, opaque)


def icon_images_from_file(path):
    """{(width, height): [ARGB, ...]} for the 32-bit images of an icon file, top row first."""
    data = open(path, "rb").read()
    _, _, count = struct.unpack_from("<HHH", data, 0)
    images = {}
    for i in range(count):
        width, height, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        width, height = width or 256, height or 256
        header_size, _, _, _, dib_bits = struct.unpack_from("<IiiHH", data, offset)
        if dib_bits != 32:
            continue
        start = offset + header_size
        argb = []
        for y in range(height):
            row = start + (height - 1 - y) * width * 4
            for x in range(width):
                b, g, r, a = data[row + 4 * x:row + 4 * x + 4]
                argb.append((a << 24) | (r << 16) | (g << 8) | b)
        images[(width, height)] = argb
    return images


def window_icon_images(window):
    lib = xlib()
    lib.XGetWindowProperty.argtypes = [
        ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
        ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
        ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
    display = open_display(lib)
    atom = lib.XInternAtom(display, b"_NET_WM_ICON", 0)
    kind, form = ctypes.c_ulong(), ctypes.c_int()
    count, left = ctypes.c_ulong(), ctypes.c_ulong()
    prop = ctypes.c_void_p()
    lib.XGetWindowProperty(display, window, atom, 0, 1 << 24, 0, 0, ctypes.byref(kind), ctypes.byref(form),
                           ctypes.byref(count), ctypes.byref(left), ctypes.byref(prop))
    values = []
    if prop.value:
        # Format-32 properties come back as C longs.
        values = list(ctypes.cast(prop, ctypes.POINTER(ctypes.c_ulong))[:count.value])
        lib.XFree(prop)
    lib.XCloseDisplay(display)
    images, pos = {}, 0
    while pos + 2 <= len(values):
        width, height = values[pos], values[pos + 1]
        images[(width, height)] = [v & 0xFFFFFFFF for v in values[pos + 2:pos + 2 + width * height]]
        pos += 2 + width * height
    return images


def check_icon(window, path):
    shown = window_icon_images(window)
    wanted = icon_images_from_file(path)
    failures = []
    if not shown:
        return ["the window has no _NET_WM_ICON"]
    for size in [(16, 16), (32, 32)]:
        if size not in shown:
            failures.append(f"the window's icons are {sorted(shown)}, without {size[0]}x{size[1]}")
        elif shown[size] != wanted.get(size):
            same = sum(1 for a, b in zip(shown[size], wanted.get(size, [])) if a == b)
            failures.append(f"the {size[0]}x{size[1]} icon differs from {path} ({same} of {size[0] * size[1]} "
                            "pixels alike)")
    return failures


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def close_window(window):
    lib = xlib()
    lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(XEvent)]
    display = open_display(lib)
    event = XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = lib.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = lib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.data[1] = 0  # CurrentTime
    if not lib.XSendEvent(display, window, 0, 0, ctypes.byref(event)):
        raise SystemExit("XSendEvent failed")
    lib.XFlush(display)
    lib.XCloseDisplay(display)


MARK_RGB, MARK_PIXELS = (255, 0, 255), 16


def write_bitmap(path, width, height, rgb):
    stride = (width * 3 + 3) & ~3
    row = bytes(rgb[::-1]) * width + b"\0" * (stride - width * 3)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + pixels)


def check_screen(shot_path, width, height, rgb, mark):
    shot = read_image(shot_path)
    if (shot.width, shot.height) != (width, height):
        return [f"the screen is {shot.width}x{shot.height}, expected {width}x{height}"]
    wrong, first = 0, None
    for y in range(height):
        for x in range(width):
            in_mark = mark and x >= width - MARK_PIXELS and y >= height - MARK_PIXELS
            want = MARK_RGB if in_mark else rgb
            if shot.at(x, y) != want:
                wrong += 1
                first = first or f"{x},{y} is {shot.at(x, y)}, expected {want}"
    return [f"{wrong} pixels differ, the first: {first}"] if wrong else []


def main(argv):
    if len(argv) == 7 and argv[0] == "layout":
        caption = tuple(int(v) for v in argv[5].split())
        failures = check_layout(argv[1], int(argv[2]), int(argv[3]), int(argv[4]), caption, argv[6])
    elif argv == ["cursor"]:
        print(x_cursor())
        return 0
    elif len(argv) == 2 and argv[0] == "cursor-file":
        print(cursor_file(argv[1]))
        return 0
    elif len(argv) == 3 and argv[0] == "icon":
        failures = check_icon(int(argv[1], 0), argv[2])
    elif len(argv) == 4 and argv[0] == "bitmap":
        width, height = (int(v) for v in argv[2].split("x"))
        write_bitmap(argv[1], width, height, tuple(int(v) for v in argv[3].split()))
        return 0
    elif len(argv) in (4, 5) and argv[0] == "screen" and argv[4:] in ([], ["mark"]):
        width, height = (int(v) for v in argv[2].split("x"))
        failures = check_screen(argv[1], width, height, tuple(int(v) for v in argv[3].split()), len(argv) == 5)
    elif len(argv) == 2 and argv[0] == "close":
        close_window(int(argv[1], 0))
        return 0
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
