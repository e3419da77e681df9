#!/usr/bin/env python3
"""A restless user: the program on an X display of its own converts a scratch
folder of pictures, archives and mail files while random keys, clicks, drags,
window resizes, menu picks, dialog answers and clipboard changes arrive for a
minute; then the user presses X.

What must hold afterwards:
- the program neither crashed nor hung, no sanitizer reported anything, and
  it ended after X;
- every file it wrote equals what a quiet batch conversion of the same files
  writes (archives compared member by member), and nothing else in the folder
  changed: each file is compared with its state before and with the quiet
  run's; only pasted pictures may appear beside them, under names the program
  makes up, and they must be whole pictures;
- the settings file holds the values the user had: nothing the Convert mode,
  the clipboard event or a batch forced;
- nothing is left in $TMPDIR and nothing went to the Trash.

The random input is drawn from a seed; on a failure the seed, the target
format and the last actions sent are printed. The input is whatever leaves
what a conversion writes as it is. Left out are the keys and gestures that
turn, crop or tone the picture or change what is saved or how (writer
options, thumbnail sheets, quick look), and the destructive commands
(Delete, Move, Install, Remove, wallpaper), except as questions answered
Cancel. A click while the show runs stops it (the user's MouseButtonEvent is
9), so no zoomed view is ever saved: every save follows a fresh load.

    restless_user.py [--build DIR] [--seed N ...] [--fresh K] [--seconds S]

Exit status: 0 when every seed passed, 1 when one failed, 77 when the X tools
it needs (Xvfb, openbox, xdotool, xclip) are not installed.
"""

import argparse
import base64
import binascii
import collections
import ctypes
import hashlib
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
PEER = os.path.join(TOP, "tests", "data", "peer")
X_TOOLS = ("Xvfb", "openbox", "xdotool", "xclip")
DISPLAYS = range(96, 100)
SCREEN = (1280, 1024)


class Target:
    """A format the Convert menu offers: its letter in the submenu, the
    extension it writes, its Save As index and its event action code."""

    def __init__(self, name, letter, extension, index):
        self.name, self.letter, self.extension, self.index = name, letter, extension, index
        self.action = index + 2


TARGETS = [Target("GIF", "g", ".gif", 1), Target("BMP", "b", ".bmp", 2), Target("PCX", "p", ".pcx", 3),
           Target("TGA", "t", ".tga", 4), Target("JPG", "j", ".jpg", 5), Target("TIF", "i", ".tif", 6)]


class Timing:
    """How long to wait for the program; a sanitizer build is slower."""

    def __init__(self, sanitized):
        scale = 3 if sanitized else 1
        self.start = 30 * scale
        # A dialog that comes later is answered with Escape then.
        self.dialog = 2.5 * scale
        self.quiet_run = 60 * scale
        self.end = 45 * scale
        self.exit = 15 * scale
        self.menu_probe = 0.6 * scale


class Failure(Exception):
    pass


# The scratch folder ---------------------------------------------------------

def with_extension(name, extension):
    stem, _ = os.path.splitext(name)
    return stem + extension


def gif_with_comment(gif, comment):
    """The GIF with a comment extension before its first block."""
    flags = gif[10]
    start = 13 + (3 << ((flags & 7) + 1) if flags & 0x80 else 0)
    blocks = b"".join(bytes([len(comment[i:i + 255])]) + comment[i:i + 255] for i in range(0, len(comment), 255))
    return gif[:start] + b"\x21\xfe" + blocks + b"\x00" + gif[start:]


def jpeg_with_comment(jpeg, comment):
    """The JPEG with a COM marker right after its start."""
    return jpeg[:2] + b"\xff\xfe" + struct.pack(">H", len(comment) + 2) + comment + jpeg[2:]


def big_bmp(width, height):
    """A 24-bit BMP of soft gradients and a little noise, large enough that
    writing it takes a while."""
    noise = random.Random(20010911)
    row_size = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        row = bytearray(row_size)
        for x in range(0, width, 4):
            pixel = bytes(((x * 255 // width) ^ noise.randrange(8), (y * 255 // height), (x + y) & 255))
            row[x * 3:x * 3 + 12] = pixel * min(4, width - x)
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def mime_mail(name, data):
    encoded = base64.encodebytes(data).decode()
    return ("From: Ann <ann@example.org>\r\nSubject: holiday\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"cut\"\r\n\r\n--cut\r\n"
            "Content-Type: text/plain; charset=iso-8859-1\r\n\r\nthe beach, as promised\r\n--cut\r\n"
            f"Content-Type: application/octet-stream; name=\"{name}\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            f"{encoded}--cut--\r\n").encode()


def uuencoded(name, data):
    lines = [f"begin 644 {name}\n".encode()]
    lines += [binascii.b2a_uu(data[i:i + 45]) for i in range(0, len(data), 45)]
    return b"found this in the scanner's folder\n\n" + b"".join(lines) + b"`\nend\n"


class Pictures:
    """The pictures of the scratch folder. None of them is written onto
    itself by the conversion, and no two of a folder or an archive end in the
    same target name, so that what a conversion writes does not depend on the
    order in which it runs."""

    def __init__(self, folder, target, tool, env):
        self.folder, self.target, self.tool, self.env = folder, target, tool, env
        self.plain = []
        self.containers = []

    def peer(self, path):
        with open(os.path.join(PEER, path), "rb") as source:
            return source.read()

    def made(self, name, data):
        with open(os.path.join(self.folder, name), "wb") as out:
            out.write(data)

    def add(self, name, data):
        """A plain picture, unless the conversion would write it onto itself."""
        if with_extension(name, self.target.extension) == name:
            return
        self.made(name, data)
        self.plain.append(name)

    def converted_by_tool(self, source, extension):
        """A peer picture in a format the peer files lack, made by the tool."""
        given = os.path.join(self.folder, ".given" + os.path.splitext(source)[1])
        made = os.path.join(self.folder, ".made" + extension)
        with open(given, "wb") as out:
            out.write(self.peer(source))
        subprocess.run([self.tool, "convert", given, made], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)
        with open(made, "rb") as result:
            data = result.read()
        os.remove(given)
        os.remove(made)
        return data

    def member_formats(self):
        """Pictures for the archive and the mails: the first formats that are
        not the target's."""
        members = [("wel.gif", self.peer("gif/welcome2.gif")), ("pal.bmp", self.peer("bmpsuite/g/pal8.bmp")),
                   ("beach.jpg", self.peer("jpeg/testorig.jpg")), ("grey.tiff", self.peer("tiff/minisblack-1c-8b.tiff"))]
        return [m for m in members if with_extension(m[0], self.target.extension) != m[0]]

    def build(self):
        latin1 = b"caf\xe9 au lait, \xa9 2001 M\xfcller"
        self.add("porsche.gif", self.peer("gif/porsche.gif"))
        self.add("treescap-interlaced.gif", self.peer("gif/treescap-interlaced.gif"))
        self.add("cafe.gif", gif_with_comment(self.peer("gif/gifgrid.gif"), latin1))
        self.add("fire.gif", self.peer("gif/fire.gif"))
        self.add("testorig.jpg", self.peer("jpeg/testorig.jpg"))
        self.add("remark.jpg", jpeg_with_comment(self.peer("jpeg/testimgint.jpg"), latin1))
        self.add("rgb-3c-8b.tiff", self.peer("tiff/rgb-3c-8b.tiff"))
        self.add("palette-1c-8b.tiff", self.peer("tiff/palette-1c-8b.tiff"))
        self.add("miniswhite-1c-1b.tiff", self.peer("tiff/miniswhite-1c-1b.tiff"))
        self.add("rgb24.bmp", self.peer("bmpsuite/g/rgb24.bmp"))
        self.add("pal4rle.bmp", self.peer("bmpsuite/g/pal4rle.bmp"))
        self.add("basn2c08.png", self.peer("png/pngsuite/basn2c08.png"))
        self.add("basn3p08.png", self.peer("png/pngsuite/basn3p08.png"))
        self.add("basn6a08.png", self.peer("png/pngsuite/basn6a08.png"))
        self.add("big.bmp", big_bmp(1200, 900))
        self.add("wedge.pcx", self.converted_by_tool("png/pngsuite/basn2c08.png", ".pcx"))
        self.add("solid.tga", self.converted_by_tool("gif/porsche.gif", ".tga"))
        # Not pictures, though one of them is named like one.
        self.made("fake.gif", b"this is not a picture\n")
        self.made("notes.txt", b"pictures of the trip\n")
        members = self.member_formats()
        with zipfile.ZipFile(os.path.join(self.folder, "album.zip"), "w", zipfile.ZIP_DEFLATED) as album:
            album.writestr("inner/" + members[0][0], members[0][1])
            album.writestr(members[1][0], members[1][1])
            album.writestr("readme.txt", "two pictures\n")
        self.made("holiday.eml", mime_mail(*members[2]))
        self.made("scan.uue", uuencoded(*members[1]))
        self.containers = ["album.zip", "holiday.eml", "scan.uue"]

    def decoys(self, first, count):
        """Files under the names the program makes up for pasted pictures
        (the time in seconds, in hexadecimal) during the run: none of them
        may be replaced."""
        for second in range(first, first + count):
            for extension in {".bmp", self.target.extension}:
                self.made(f"{second:08x}{extension}", b"somebody's file, not to be replaced\n")


GENERATED_NAME = re.compile(r"^[0-9a-f]{8}\.(bmp|gif|pcx|tga|jpg|tif)$")


def initial_settings(target, effect):
    """The user's settings: remembered at exit, a clipboard watch that saves
    in the target format, a click that stops a running show, and values unlike
    those a mode forces, so that a forced value shows."""
    return (f"[Zerbalin]\r\nRememberOptions=1\r\nOpenIndex=15\r\nSaveAsIndex={target.index}\r\n"
            f"ClipboardEvent={target.action}\r\nMouseButtonEvent=9\r\nDelayBetweenImages=2\r\n"
            f"Effect={effect}\r\nXImage=40\r\nYImage=40\r\nWImage=480\r\nHImage=520\r\n")


# Settings that the random input may change: window placements, the text
# windows, fill window, effects, auto scale. Every other setting must keep
# the user's value.
USER_CHANGEABLE = re.compile(r"^([XYWHM](Image|Log|Comments|Open|Save)|ShowLog|ShowComments|FillWindow|Effect|"
                             r"AutoScale)$")
FORCED_BY_MODES = {"RunSlideshow", "ImageDisplayEvent", "ScreenDoneEvent", "SlideshowDoneEvent", "DelayBetweenImages",
                   "DelayBetweenSounds", "DelayBetweenMovies", "RandomOrder", "SoundEnable", "MovieEnable",
                   "ThumbnailsEnable", "ClipboardEvent"}


# Processes ----------------------------------------------------------------------

class Processes:
    """Every process the test starts, each in a session of its own, so that
    ending it ends what it started too."""

    def __init__(self):
        self.started = []

    def start(self, command, **options):
        process = subprocess.Popen(command, start_new_session=True, **options)
        self.started.append(process)
        return process

    def stop(self, process):
        """Asked to end, then ended."""
        for sig in (signal.SIGTERM, signal.SIGKILL):
            if process.poll() is not None:
                break
            try:
                os.killpg(process.pid, sig)
                process.wait(timeout=3)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass
        process.wait()

    def stop_all(self):
        for process in reversed(self.started):
            self.stop(process)
        self.started = []


def sanitizer_report(text):
    for mark in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "UndefinedBehaviorSanitizer",
                 "AddressSanitizer:DEADLYSIGNAL"):
        at = text.find(mark)
        if at >= 0:
            return text[max(0, at - 200):at + 3000]
    return None


# The X display ---------------------------------------------------------------------

class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


IS_VIEWABLE = 2
ANY_PROPERTY_TYPE = 0


class XQuery:
    """Reads the window list and window properties straight from the X
    server (libX11 through ctypes): checking what is on the screen before
    every action must be quick, even on a loaded machine."""

    @staticmethod
    def open(display):
        """A connection, or None while the server does not answer yet."""
        try:
            return XQuery(display)
        except Failure:
            return None

    def __init__(self, display):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XGetAtomName.restype = ctypes.c_void_p
        x.XGetAtomName.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                         ctypes.c_long, ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XWindowAttributes)]
        x.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                            ctypes.c_int, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                                            ctypes.POINTER(ctypes.c_ulong)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # Windows vanish while they are looked at: their errors are no news.
        self.on_error = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda *_: 0)
        x.XSetErrorHandler(self.on_error)
        self.x = x
        self.display = x.XOpenDisplay(display.encode())
        if not self.display:
            raise Failure(f"cannot open display {display}")
        self.root = x.XDefaultRootWindow(self.display)
        self.atoms = {}

    def close(self):
        self.x.XCloseDisplay(self.display)

    def atom(self, name):
        if name not in self.atoms:
            self.atoms[name] = self.x.XInternAtom(self.display, name.encode(), 0)
        return self.atoms[name]

    def atom_name(self, atom):
        pointer = self.x.XGetAtomName(self.display, atom)
        if not pointer:
            return ""
        name = ctypes.string_at(pointer).decode()
        self.x.XFree(pointer)
        return name

    def property(self, window, name):
        """The property's items: bytes for 8-bit data, else a list of
        numbers; None when the window has no such property."""
        actual_type, actual_format = ctypes.c_ulong(), ctypes.c_int()
        count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        status = self.x.XGetWindowProperty(self.display, window, self.atom(name), 0, 1 << 16, 0, ANY_PROPERTY_TYPE,
                                           ctypes.byref(actual_type), ctypes.byref(actual_format),
                                           ctypes.byref(count), ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not actual_type.value:
            return None
        try:
            if actual_format.value == 8:
                return ctypes.string_at(data, count.value)
            # 32-bit items come as C longs.
            return list((ctypes.c_long * count.value).from_address(data.value))
        finally:
            if data.value:
                self.x.XFree(data)

    def attributes(self, window):
        attributes = XWindowAttributes()
        if not self.x.XGetWindowAttributes(self.display, window, ctypes.byref(attributes)):
            return None
        return attributes

    def children(self, window):
        root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p(), ctypes.c_uint()
        if not self.x.XQueryTree(self.display, window, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return []
        found = list((ctypes.c_ulong * count.value).from_address(children.value)) if count.value else []
        if children.value:
            self.x.XFree(children)
        return found

    def instance(self, window):
        value = self.property(window, "WM_CLASS")
        return value.split(b"\0")[0].decode(errors="replace") if value else ""

    def name(self, window):
        value = self.property(window, "_NET_WM_NAME") or self.property(window, "WM_NAME") or b""
        return value.decode("utf-8", "replace")

    def active(self):
        value = self.property(self.root, "_NET_ACTIVE_WINDOW")
        return value[0] if value else None

    def geometry(self, window):
        """The window's place on the screen and its size."""
        attributes = self.attributes(window)
        if not attributes:
            return None
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.x.XTranslateCoordinates(self.display, window, self.root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                     ctypes.byref(child))
        return x.value, y.value, attributes.width, attributes.height

    def program_windows(self, instance):
        """The visible windows of the program: those the window manager
        manages, and the menus that bypass it."""
        self.x.XSync(self.display, 0)
        managed = self.property(self.root, "_NET_CLIENT_LIST") or []
        popups = [w for w in self.children(self.root)
                  if (a := self.attributes(w)) and a.override_redirect and a.map_state == IS_VIEWABLE]
        found = []
        for window in managed + popups:
            attributes = self.attributes(window)
            if not attributes or attributes.map_state != IS_VIEWABLE or self.instance(window) != instance:
                continue
            kinds = [self.atom_name(a) for a in self.property(window, "_NET_WM_WINDOW_TYPE") or []]
            found.append(Window(window, self.name(window), kinds, self.property(window, "WM_TRANSIENT_FOR"),
                                self.property(window, "_NET_FRAME_EXTENTS") or [0, 0, 0, 0],
                                attributes.override_redirect))
        return found


class Window:
    """One of the program's windows and its role for the user."""

    def __init__(self, wid, name, kinds, transient, frame, popup):
        self.id, self.name, self.frame = wid, name, list(frame)
        kinds = " ".join(kinds)
        if "TOOLTIP" in kinds:
            self.role = "tooltip"
        elif popup or "MENU" in kinds or "COMBO" in kinds:
            self.role = "menu"
        elif "DIALOG" in kinds or transient:
            self.role = "dialog"
        elif name == "Zerbalin - Log":
            self.role = "log"
        elif name.startswith("Zerbalin - Comments ["):
            self.role = "comments"
        elif name.startswith("Zerbalin -"):
            self.role = "main"
        else:
            self.role = "dialog"


class Desk:
    """The display as the user sees it: read through Xlib, changed through
    xdotool as a user's keyboard and mouse would."""

    def __init__(self, display, env):
        self.env = dict(env, DISPLAY=display)
        self.query = XQuery(display)

    def close(self):
        if self.query:
            self.query.close()
            self.query = None

    def run(self, *arguments, timeout=20):
        try:
            done = subprocess.run(arguments, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            return ""
        return done.stdout.decode("utf-8", "replace")

    def xdotool(self, *arguments):
        return self.run("xdotool", *[str(a) for a in arguments])

    def windows(self):
        return self.query.program_windows("zerbalin")

    def active(self):
        return self.query.active()

    def geometry(self, wid):
        return self.query.geometry(wid)

    def key(self, *keys):
        self.xdotool("key", "--delay", 30, *keys)

    def type(self, text):
        self.xdotool("type", "--delay", 2, text)

    def activate(self, wid):
        self.xdotool("windowactivate", "--sync", wid)

    def screenshot(self, path):
        with open(path, "wb") as out:
            subprocess.run(["xwd", "-root", "-silent"], env=self.env, stdout=out, stderr=subprocess.DEVNULL,
                           timeout=20)


def display_in_use(number):
    """Whether the lock file of the display names a running server (Xvfb
    itself replaces a lock whose server is gone)."""
    try:
        with open(f"/tmp/.X{number}-lock") as lock:
            os.kill(int(lock.read().strip()), 0)
        return True
    except (FileNotFoundError, ValueError):
        return False
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def start_display(processes, env, log):
    """Xvfb on the first free display number, and openbox on it."""
    for number in DISPLAYS:
        if display_in_use(number):
            continue
        display = f":{number}"
        server = processes.start(["Xvfb", display, "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp",
                                  "-noreset"], env=env, stdout=log, stderr=log)
        query = wait_for(lambda: server.poll() is None and XQuery.open(display), 10)
        if query:
            processes.start(["openbox"], env=dict(env, DISPLAY=display), stdout=log, stderr=log)
            managed = wait_for(lambda: query.property(query.root, "_NET_SUPPORTING_WM_CHECK"), 10)
            query.close()
            if not managed:
                raise Failure("openbox did not start")
            return display
        processes.stop(server)
    raise Failure(f"no free X display among :{DISPLAYS[0]} to :{DISPLAYS[-1]}")


def wait_for(condition, seconds):
    """The condition's first true value within the time, else None."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return None


# The user --------------------------------------------------------------------------

# Keys that open no dialog and leave what a conversion writes as it is.
PLAIN_KEYS = (["space"] * 6 + ["Return"] * 3 + ["BackSpace"] * 3 + ["Home", "shift+Home", "Next", "Tab", "c", "l", "h",
              "ctrl+c", "ctrl+o", "ctrl+w", "ctrl+v", "Escape"] + [f"shift+F{n}" for n in range(1, 13)] +
              [f"{m}{k}" for m in ("", "shift+", "ctrl+") for k in ("Left", "Up", "Right", "Down")])


# The title while a file loads or is saved.
BUSY_TITLE = re.compile(r"^Zerbalin - (Loading|Saving): ")


class Restless:
    """Random input for the program, drawn from the seed."""

    def __init__(self, desk, rng, pictures, timing, processes, clipboard_pictures):
        self.desk, self.rng, self.pictures, self.timing = desk, rng, pictures, timing
        self.processes, self.clipboard_pictures = processes, clipboard_pictures
        self.recent = collections.deque(maxlen=30)
        self.history = []
        self.counts = collections.Counter()
        self.converts = 0
        self.started = time.monotonic()
        self.main = None
        self.clipboard_owner = None
        self.verbose = False
        self.busy = False
        self.last_convert = time.monotonic()

    def note(self, text):
        line = f"{time.monotonic() - self.started:6.1f}s  {text}"
        self.recent.append(line)
        self.history.append(line)
        if self.verbose:
            print(line, flush=True)

    # What is on the screen.

    def look(self):
        windows = self.desk.windows()
        mains = [w for w in windows if w.role == "main"]
        if mains:
            self.main = mains[0].id
        return windows

    def find_main(self):
        """The main window, restored when it was minimised."""
        for _ in range(3):
            windows = self.look()
            main = next((w for w in windows if w.role == "main"), None)
            if main:
                return main
            if self.main:
                self.desk.activate(self.main)
            time.sleep(0.3)
        return None

    def settle(self):
        """Answers what is open and brings the main window to the front:
        dialogs get Escape (No, Cancel), menus are closed."""
        for _ in range(12):
            windows = self.look()
            dialogs = [w for w in windows if w.role == "dialog"]
            menus = [w for w in windows if w.role == "menu"]
            if dialogs:
                self.note(f"answer '{dialogs[-1].name}' ({dialogs[-1].id}) with Escape")
                if self.desk.active() != dialogs[-1].id:
                    self.desk.activate(dialogs[-1].id)
                self.desk.key("Escape")
            elif menus:
                self.close_menus()
            else:
                return True
            time.sleep(0.3)
        names = ", ".join(f"'{w.name}'" for w in self.look() if w.role in ("dialog", "menu"))
        raise Failure(f"a window does not close on Escape: {names}")

    def focus_main(self):
        self.settle()
        main = self.find_main()
        if not main:
            return None
        if self.desk.active() != main.id:
            self.desk.activate(main.id)
        return main

    def menu_bar_shown(self):
        """Fill window takes the menu bar and the frame away; Escape brings
        them back."""
        main = self.focus_main()
        if main and main.frame == [0, 0, 0, 0]:
            self.note("Escape (menu bar back)")
            self.desk.key("Escape")
            time.sleep(0.5)
            main = self.focus_main()
        return main

    def menus_open(self):
        return [w for w in self.look() if w.role == "menu"]

    def close_menus(self):
        """Escape closes the open menus one by one; the menu bar then still
        holds the keyboard (Space or a letter would open a menu again)
        until one more Escape. Down tells: from the menu bar it opens a
        menu, in the window it only moves the picture."""
        for _ in range(8):
            if self.menus_open():
                self.desk.key("Escape")
                time.sleep(0.1)
                continue
            self.desk.key("Escape", "Down")
            if not self.wait_menu(1, self.timing.menu_probe):
                return
        raise Failure("the menus do not close on Escape")

    def wait_menu(self, count, seconds=None):
        """Whether count menus (a menu and its submenus) opened."""
        deadline = time.monotonic() + (seconds or self.timing.dialog)
        while time.monotonic() < deadline:
            if len(self.menus_open()) >= count:
                return True
            time.sleep(0.1)
        return False

    def wait_dialog(self, title=None, busy=False):
        """The dialog the last input opened, once it is in front. A command
        that comes while a file loads or saves only stops that: then no
        dialog is waited for long."""
        deadline = time.monotonic() + (1.5 if busy else self.timing.dialog)
        while time.monotonic() < deadline:
            windows = self.look()
            dialogs = [w for w in windows if w.role == "dialog"]
            if dialogs and self.desk.active() == dialogs[-1].id:
                if title is None or dialogs[-1].name == title:
                    return dialogs[-1]
                return None
            time.sleep(0.1)
        return None

    def wait_gone(self, dialog):
        deadline = time.monotonic() + self.timing.dialog
        while time.monotonic() < deadline:
            if all(w.id != dialog.id for w in self.look()):
                return
            time.sleep(0.1)

    # Dialog answers.

    def answer(self, dialog, answer):
        if answer == "escape":
            self.desk.key("Escape")
        elif answer == "enter":
            self.desk.key("Return")
        elif answer == "ok-editor":
            # From the text of a multi-line editor back to its OK button.
            self.desk.key("shift+Tab", "shift+Tab", "Return")
        else:
            self.desk.type(answer)
            self.desk.key("Return")
        self.note(f"answered '{dialog.name}' with {answer!r}")
        self.wait_gone(dialog)

    def open_dialog(self, keys, answers, title=None):
        """Keys that open a dialog, and one of the answers for it."""
        main = self.focus_main()
        if not main:
            return
        busy = BUSY_TITLE.search(main.name) is not None
        self.note(f"key {' '.join(keys)} (expects a dialog{', busy' if busy else ''})")
        self.desk.key(*keys)
        dialog = self.wait_dialog(title, busy)
        if dialog:
            self.answer(dialog, self.rng.choice(answers))

    def pick(self, path, answers=None, title=None):
        """A menu item by its mnemonics: Alt and the menu's letter, then the
        letters down to the item; a dialog it opens gets one of the answers."""
        main = self.menu_bar_shown()
        if not main:
            return False
        self.busy = BUSY_TITLE.search(main.name) is not None
        self.note(f"menu {' > '.join(path)}" + (" (busy)" if self.busy else ""))
        for step, key in enumerate(path):
            self.desk.key(key)
            if step == len(path) - 1:
                break
            # Left goes from one menu to the one before it.
            if not self.wait_menu(sum(1 for k in path[:step + 1] if k != "Left")):
                self.note("  the menu did not open")
                self.settle()
                return False
        if not wait_for(lambda: not self.menus_open(), self.timing.menu_probe * 2):
            # The item was not there or not enabled.
            self.note("  the menu stayed open")
            self.close_menus()
            return False
        if answers:
            dialog = self.wait_dialog(title, self.busy)
            if not dialog:
                return False
            self.answer(dialog, self.rng.choice(answers))
        return True

    # Actions.

    def plain_key(self):
        key = self.rng.choice(PLAIN_KEYS)
        windows = self.look()
        active = self.desk.active()
        text_window = next((w for w in windows if w.id == active and w.role in ("log", "comments")), None)
        if text_window and self.rng.random() < 0.3:
            self.note(f"key {key} in the {text_window.role} window")
            self.desk.key(key)
            return
        if self.focus_main():
            self.note(f"key {key}")
            self.desk.key(key)

    def move_by_count(self):
        if self.focus_main():
            keys = [str(self.rng.randint(1, 9)), self.rng.choice(["space", "BackSpace"])]
            self.note(f"keys {' '.join(keys)}")
            self.desk.key(*keys)

    def canvas_point(self, main):
        geometry = self.desk.geometry(main.id)
        if not geometry:
            return None
        x, y, width, height = geometry
        # Below the menu bar, and on the screen.
        left, right = max(x + 5, 0), min(x + width - 5, SCREEN[0] - 1)
        top, bottom = max(y + 40, 0), min(y + height - 5, SCREEN[1] - 1)
        if left > right or top > bottom:
            return None
        return self.rng.randint(left, right), self.rng.randint(top, bottom)

    def click(self):
        main = self.focus_main()
        point = main and self.canvas_point(main)
        if not point:
            return
        # Ctrl+Shift+click turns the picture, a setting that stays: left out.
        modifier, button, repeat = self.rng.choice([("", 1, 1), ("", 1, 1), ("", 3, 1), ("", 2, 1), ("ctrl", 1, 1),
                                                    ("shift", 1, 1), ("", 1, 2), ("", 3, 2), ("", 4, 1), ("", 5, 1)])
        self.note(f"click {modifier + '+' if modifier else ''}button {button} x{repeat} at {point}")
        arguments = ["mousemove", point[0], point[1]]
        if modifier:
            arguments += ["keydown", modifier]
        arguments += ["click", "--repeat", repeat, "--delay", 60, button]
        if modifier:
            arguments += ["keyup", modifier]
        self.desk.xdotool(*arguments)

    def drag(self, button=None, modifier=None):
        main = self.focus_main()
        start = main and self.canvas_point(main)
        end = main and self.canvas_point(main)
        if not start or not end:
            return
        button = button or self.rng.choice([1, 1, 3])
        self.note(f"drag {modifier + '+' if modifier else ''}button {button} {start} -> {end}")
        arguments = ["mousemove", start[0], start[1]]
        if modifier:
            arguments += ["keydown", modifier]
        arguments += ["mousedown", button]
        for step in range(1, 6):
            arguments += ["mousemove", start[0] + (end[0] - start[0]) * step // 5,
                          start[1] + (end[1] - start[1]) * step // 5, "sleep", 0.03]
        arguments += ["mouseup", button]
        if modifier:
            arguments += ["keyup", modifier]
        self.desk.xdotool(*arguments)

    def window_drag(self):
        """Alt and a drag: the window manager moves (left) or resizes
        (right) the window."""
        self.drag(self.rng.choice([1, 3]), "alt")

    def hover(self):
        main = self.focus_main()
        if not main:
            return
        points = [self.canvas_point(main) for _ in range(4)]
        if None in points:
            return
        self.note(f"pointer over {points}")
        arguments = []
        for x, y in points:
            arguments += ["mousemove", x, y, "sleep", 0.05]
        self.desk.xdotool(*arguments)

    def resize(self):
        main = self.focus_main()
        if not main:
            return
        width, height = self.rng.randint(160, 1000), self.rng.randint(120, 800)
        self.note(f"resize to {width}x{height}")
        self.desk.xdotool("windowsize", main.id, width, height)

    def move(self):
        main = self.focus_main()
        if not main:
            return
        x, y = self.rng.randint(0, 280), self.rng.randint(0, 200)
        self.note(f"move to {x},{y}")
        self.desk.xdotool("windowmove", main.id, x, y)

    def title_bar(self):
        """A double click on the title bar maximises the window or gives it
        its size back; sometimes it is minimised instead."""
        main = self.focus_main()
        geometry = main and self.desk.geometry(main.id)
        if not geometry or main.frame[2] == 0:
            return
        x, y, width, _ = geometry
        if self.rng.random() < 0.2:
            self.note("minimise")
            self.desk.xdotool("windowminimize", main.id)
            time.sleep(0.3)
            return
        point = (x + width // 3, y - main.frame[2] // 2)
        if not (0 <= point[0] < SCREEN[0] and 0 <= point[1] < SCREEN[1]):
            return
        self.note(f"double click on the title bar at {point}")
        self.desk.xdotool("mousemove", point[0], point[1], "click", "--repeat", 2, "--delay", 80, 1)

    def menu_bar_click(self):
        """A menu opened with the mouse, looked at and closed again."""
        main = self.menu_bar_shown()
        geometry = main and self.desk.geometry(main.id)
        if not geometry:
            return
        x, y, width, _ = geometry
        point = (x + self.rng.randint(4, min(width - 4, 470)), y + 10)
        if not (0 <= point[0] < SCREEN[0] and 0 <= point[1] < SCREEN[1]):
            return
        self.note(f"click on the menu bar at {point}, then close the menu")
        self.desk.xdotool("mousemove", point[0], point[1], "click", 1)
        time.sleep(0.3)
        if self.rng.random() < 0.5:
            # A second click on the same title closes its menu.
            self.desk.xdotool("click", 1)
            time.sleep(0.2)
        else:
            self.desk.key(self.rng.choice(["Right", "Left", "Down"]))
        if self.menus_open():
            self.close_menus()

    def text_window(self):
        """The log or comments window: shown, looked at, closed by its close
        box."""
        windows = self.look()
        texts = [w for w in windows if w.role in ("log", "comments")]
        if not texts or self.rng.random() < 0.4:
            if self.focus_main():
                key = self.rng.choice(["l", "h"])
                self.note(f"key {key} (log or comments window)")
                self.desk.key(key)
            return
        window = self.rng.choice(texts)
        if window.frame[2] == 0:
            return
        if self.rng.random() < 0.5:
            self.note(f"look at the {window.role} window")
            self.desk.activate(window.id)
            # Keys that do no harm should the main window get them.
            self.desk.key(self.rng.choice(["Down", "Up", "Next", "Home", "ctrl+c"]))
            return
        self.note(f"close box of the {window.role} window")
        self.click_close_box(window)

    def click_close_box(self, window):
        """The close button at the right end of the title bar, when it is on
        the screen."""
        geometry = self.desk.geometry(window.id)
        if not geometry or not window.frame[2]:
            return False
        x, y, width, _ = geometry
        point = (x + width + window.frame[1] - 10, y - window.frame[2] // 2)
        if not (0 <= point[0] < SCREEN[0] and 0 <= point[1] < SCREEN[1]):
            return False
        self.desk.activate(window.id)
        self.desk.xdotool("mousemove", point[0], point[1], "click", 1)
        return True

    def clipboard(self):
        """Another program puts a picture or a text on the clipboard."""
        if self.clipboard_owner:
            self.processes.stop(self.clipboard_owner)
        kind, path = self.rng.choice(self.clipboard_pictures + [("text/plain", None), ("UTF8_STRING", None)])
        self.note(f"clipboard gets {kind}" + (f" {os.path.basename(path)}" if path else ""))
        command = ["xclip", "-quiet", "-selection", "clipboard", "-t", kind]
        if path:
            self.clipboard_owner = self.processes.start(command + ["-i", path], env=self.desk.env,
                                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # The clipboard watch takes a picture in and empties the
            # clipboard, which ends xclip; a moment is left for that.
            try:
                self.clipboard_owner.wait(timeout=1)
                self.note("  the program took the picture")
            except subprocess.TimeoutExpired:
                pass
        else:
            self.clipboard_owner = self.processes.start(command, env=self.desk.env, stdin=subprocess.PIPE,
                                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.clipboard_owner.stdin.write("caf\u00e9 \u00a9 2001, gr\u00fc\u00dfe".encode())
            self.clipboard_owner.stdin.close()

    def names(self, subset):
        names = self.pictures.plain
        if subset:
            names = self.rng.sample(names, self.rng.randint(1, len(names)))
        return " ".join(f'"{name}"' for name in names)

    def convert(self):
        """File > Convert > the target format, with files typed into the
        dialog. The first conversion takes the archive and the mails too;
        the later ones only plain pictures, so that no picture a conversion
        wrote into an archive is converted again."""
        names = self.names(self.converts > 0)
        if self.converts == 0:
            names += " " + " ".join(f'"{name}"' for name in self.pictures.containers)
        if not self.pick(["alt+f", "v", self.pictures.target.letter]):
            return
        dialog = self.wait_dialog("Convert", self.busy)
        if not dialog:
            self.note("  no Convert dialog came")
            return
        self.answer(dialog, names)
        self.converts += 1
        self.last_convert = time.monotonic()

    def dialogs(self):
        """A command that asks something, and an answer that changes no
        file and no setting."""
        name = self.rng.choice(self.pictures.plain)
        choices = [
            (["a"], ["escape", "enter"], None),
            (["g"], ["escape", "enter", name], "Zerbalin"),
            (["o"], ["escape", self.names(True)], "Open"),
            (["i"], ["escape", '"album.zip"'], "Zip Info"),
            (["d"], ["escape"], None),
            (["e"], ["escape"], None),
            (["u"], ["escape"], None),
            (["f"], ["escape"], None),
            (["v"], ["escape"], None),
            (["Insert"], ["escape"], None),
            (["ctrl+e"], ["escape", "ok-editor"], "Edit Comments"),
            (["F9"], ["escape", "enter"], "Zerbalin"),
            (["F10"], ["escape", "enter"], "Zerbalin"),
        ]
        keys, answers, title = self.rng.choice(choices)
        self.open_dialog(keys, answers, title)

    def menu_pick(self):
        """Menu items picked by their letters: those that leave what is
        written as it is, and those whose dialog gets a harmless answer."""
        choices = [
            (["alt+f", "r"], None), (["alt+f", "p"], None), (["alt+f", "c"], None), (["alt+f", "l"], None),
            (["alt+f", "m"], None), (["alt+f", "o"], ["escape"]), (["alt+f", "a"], ["escape"]),
            (["alt+f", "d"], ["escape"]), (["alt+f", "u"], ["escape"]), (["alt+f", "z"], ["escape"]),
            (["alt+e", "c"], None), (["alt+e", "p"], None), (["alt+e", "o"], None), (["alt+e", "w"], None),
            (["alt+e", "e"], ["escape", "ok-editor"]),
            (["alt+i", "o"], None), (["alt+i", "e"], None),
            (["alt+s", "g"], ["escape", "enter"]), (["alt+s", "f"], ["escape"]), (["alt+s", "i"], ["escape"]),
            (["alt+o", "g", "c"], ["escape", "enter"]), (["alt+o", "j", "q"], ["escape", "enter"]),
            (["alt+o", "e"], ["escape", "enter"]), (["alt+o", "a", "s"], None),
            (["alt+h", "a"], ["escape"]),
            # Utilities shares its letter with Sound: reached from Help.
            (["alt+h", "Left", "o"], ["escape", "enter"]), (["alt+h", "Left", "d"], ["escape"]),
            (["alt+h", "Left", "e"], ["escape"]), (["alt+h", "Left", "f"], ["escape"]),
        ]
        path, answers = self.rng.choice(choices)
        self.pick(path, answers)

    def step(self):
        """One random action."""
        actions = [(self.plain_key, 30), (self.move_by_count, 4), (self.click, 10), (self.drag, 6),
                   (self.window_drag, 3), (self.hover, 3), (self.resize, 7), (self.move, 2), (self.title_bar, 2),
                   (self.menu_bar_click, 3), (self.text_window, 4), (self.clipboard, 5), (self.dialogs, 8),
                   (self.menu_pick, 8), (self.convert, 2)]
        action = self.rng.choices([a for a, _ in actions], [w for _, w in actions])[0]
        self.counts[action.__name__] += 1
        action()
        time.sleep(self.rng.choice([0, 0.05, 0.1, 0.2, 0.4]))

    def close(self):
        """X, or one of the other ways to close the main window; sometimes
        with the log window open."""
        if self.rng.random() < 0.5 and not any(w.role == "log" for w in self.look()):
            if self.focus_main():
                self.note("key l (log window open before closing)")
                self.desk.key("l")
                time.sleep(0.5)
        way = self.rng.choice(["x", "x", "alt+F4", "menu", "close box"])
        main = self.focus_main()
        if not main:
            raise Failure("the main window is gone before X")
        self.note(f"close the main window: {way}")
        if way == "menu" and self.menu_bar_shown():
            self.desk.key("alt+f", "x")
        elif way == "alt+F4":
            self.desk.xdotool("windowactivate", "--sync", main.id, "key", "alt+F4")
        elif way != "close box" or not self.click_close_box(main):
            self.desk.key("x")

    def close_again(self):
        if self.focus_main():
            self.note("X again: the main window is still open")
            self.desk.key("x")


# Snapshots and checks ------------------------------------------------------------

def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


def snapshot(folder):
    """Every file of the folder by its digest; an archive's members each by
    theirs, under the archive's name."""
    entries = {}
    for directory, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(directory, name)
            relative = os.path.relpath(path, folder)
            with open(path, "rb") as source:
                data = source.read()
            if name.endswith(".zip"):
                entries.update(archive_members(relative, path, data))
            else:
                entries[relative] = digest(data)
    return entries


def archive_members(relative, path, data):
    try:
        with zipfile.ZipFile(path) as archive:
            if archive.testzip() is not None:
                raise zipfile.BadZipFile("bad member")
            return {f"{relative}/{info.filename}": digest(archive.read(info)) for info in archive.infolist()}
    except (zipfile.BadZipFile, zlib.error, EOFError, OSError):
        return {relative: "broken archive " + digest(data)}


def compare_folders(initial, quiet, restless):
    """Each file as before, or as the quiet run wrote it; a new file only
    where the quiet run made one too, or under a made-up name."""
    problems = []
    for path in sorted(set(initial) | set(quiet) | set(restless)):
        before, expected, found = initial.get(path), quiet.get(path), restless.get(path)
        if found and found.startswith("broken archive"):
            problems.append(f"{path}: the archive is broken")
        elif before is not None and found is None:
            problems.append(f"{path}: removed")
        elif before is not None and found not in (before, expected):
            problems.append(f"{path}: changed" + (", though nothing asked to write it" if expected == before else
                                                   ", not as the quiet run wrote it"))
        elif before is None and expected is not None and found not in (None, expected):
            problems.append(f"{path}: not as the quiet run wrote it")
        elif before is None and expected is None and found is not None and not GENERATED_NAME.match(path):
            problems.append(f"{path}: written, though the quiet run wrote no such file")
    return problems


def settings_of(tool, env):
    done = subprocess.run([tool, "profile"], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if done.returncode != 0:
        raise Failure(f"zerbalin-tool profile failed: {done.stderr.decode(errors='replace')}")
    return dict(line.split("=", 1) for line in done.stdout.decode(errors="replace").splitlines() if "=" in line)


def compare_settings(before, after):
    problems = []
    for key in sorted(set(before) | set(after)):
        if before.get(key) != after.get(key) and not USER_CHANGEABLE.match(key):
            forced = " (a value a mode forces)" if key in FORCED_BY_MODES else ""
            problems.append(f"setting {key} is {after.get(key)!r} after the run, the user had {before.get(key)!r}"
                            f"{forced}")
    return problems


def leftovers(folder):
    found = []
    for directory, subdirectories, files in os.walk(folder):
        found += [os.path.join(directory, name) for name in files + subdirectories]
    return found


# One seed ---------------------------------------------------------------------------

class Scratch:
    """The scratch folders of one run: pictures, configuration, home, temp."""

    def __init__(self, root, name):
        self.root = os.path.join(root, name)
        self.pictures = os.path.join(self.root, "pictures")
        self.config = os.path.join(self.root, "config")
        self.home = os.path.join(self.root, "home")
        self.temp = os.path.join(self.root, "tmp")
        self.runtime = os.path.join(self.root, "runtime")
        for folder in (self.config, self.home, self.temp, self.runtime):
            os.makedirs(folder, mode=0o700)

    def environment(self):
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("XDG_", "QT_", "DBUS_", "WAYLAND_")) and key != "DISPLAY"}
        env.update(HOME=self.home, ZERBALIN_HOME=self.config, TMPDIR=self.temp, XDG_RUNTIME_DIR=self.runtime,
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                   # No session bus: nothing is started to provide one.
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.runtime, "no-bus"),
                   ZERBALIN_MEDIA_SINK="fake", LC_ALL="C.UTF-8")
        return env

    def check_after(self):
        """What a run may not leave: files in $TMPDIR, files in the Trash."""
        problems = [f"left in $TMPDIR: {path}" for path in leftovers(self.temp)]
        trash = os.path.join(self.home, ".local", "share", "Trash")
        problems += [f"moved to the Trash: {path}" for path in leftovers(os.path.join(trash, "files"))]
        return problems


class Run:
    """One seed: the scratch folder, the quiet run, the restless run and the
    checks."""

    def __init__(self, seed, options, root):
        self.seed, self.options, self.root = seed, options, root
        self.rng = random.Random(seed)
        self.target = self.rng.choice(TARGETS)
        self.effect = self.rng.choice([1, 1, 2, 3, 11])
        self.timing = Timing(options.sanitized)
        self.processes = Processes()
        self.user = None
        self.display = None
        self.stopped = False
        self.started_wall = None

    def describe(self):
        return f"seed {self.seed} ({self.target.name}, effect {self.effect})"

    def prepare(self, scratch, pictures_of):
        shutil.copytree(pictures_of, scratch.pictures)
        with open(os.path.join(scratch.config, "zerbalin.ini"), "w", newline="") as out:
            out.write(initial_settings(self.target, self.effect))

    def program_output_problems(self, path, what):
        with open(path, "rb") as log:
            report = sanitizer_report(log.read().decode("utf-8", "replace"))
        return [f"{what}: sanitizer report:\n{report}"] if report else []

    def quiet_run(self, source, names):
        """The batch conversion of the same files, with no input at all."""
        scratch = Scratch(self.root, "quiet")
        self.prepare(scratch, source)
        before = settings_of(self.options.tool, scratch.environment())
        log_path = os.path.join(scratch.root, "program.log")
        with open(log_path, "wb") as log:
            process = self.processes.start([self.options.program, f"-ConvertTo{self.target.name}"] + names,
                                           cwd=scratch.pictures, env=scratch.environment(), stdout=log, stderr=log)
            try:
                status = process.wait(timeout=self.timing.quiet_run)
            except subprocess.TimeoutExpired:
                self.processes.stop(process)
                raise Failure(f"the quiet batch conversion did not end within {self.timing.quiet_run} s")
        problems = self.program_output_problems(log_path, "quiet run")
        if status not in (0, 1):
            problems.append(f"quiet run: exit status {status}")
        problems += compare_settings(before, settings_of(self.options.tool, scratch.environment()))
        problems += scratch.check_after()
        return scratch, problems

    def restless_run(self, source, pictures):
        scratch = Scratch(self.root, "restless")
        self.prepare(scratch, source)
        env = scratch.environment()
        before = settings_of(self.options.tool, env)
        with open(os.path.join(scratch.root, "x.log"), "wb") as x_log:
            self.display = start_display(self.processes, env, x_log)
        desk = Desk(self.display, env)
        log_path = os.path.join(scratch.root, "program.log")
        with open(log_path, "wb") as log:
            program = self.processes.start([self.options.program] + pictures.plain[:3], cwd=scratch.pictures,
                                           env=dict(env, DISPLAY=self.display), stdout=log, stderr=log)
            clipboard_pictures = [("image/png", os.path.join(source, "basn2c08.png")),
                                  ("image/bmp", os.path.join(source, "rgb24.bmp")),
                                  ("image/jpeg", os.path.join(source, "testorig.jpg"))]
            clipboard_pictures = [c for c in clipboard_pictures if os.path.exists(c[1])]
            self.user = Restless(desk, self.rng, pictures, self.timing, self.processes, clipboard_pictures)
            self.user.verbose = self.options.verbose
            problems = self.drive(program)
        problems = self.program_output_problems(log_path, "restless run") + problems
        # The settings are written when the main window closes.
        problems += compare_settings(before, settings_of(self.options.tool, env))
        if self.stopped:
            # Ended by the test: what it left behind is no news.
            return scratch, problems
        if program.returncode not in (0, 1):
            problems.append(f"restless run: exit status {program.returncode}")
        problems += scratch.check_after()
        return scratch, problems

    def drive(self, program):
        user = self.user
        deadline = time.monotonic() + self.timing.start
        while not user.find_main():
            if program.poll() is not None or time.monotonic() > deadline:
                raise Failure("the program showed no main window")
        user.started = time.monotonic()
        self.started_wall = time.time()
        user.convert()
        end = user.started + self.options.seconds
        # A conversion every 8 to 14 s, so that files are written all along.
        pause = self.rng.uniform(8, 14)
        while time.monotonic() < end:
            if program.poll() is not None:
                return [f"the program ended by itself (status {program.returncode}) during the restless input"]
            if time.monotonic() - user.last_convert > pause:
                user.convert()
                user.last_convert = time.monotonic()
                pause = self.rng.uniform(8, 14)
            else:
                user.step()
        if user.converts == 0:
            raise Failure("no conversion could be started through the menu")
        return self.wait_for_end(program)

    def wait_for_end(self, program):
        """X until the main window closes (a command that comes while a
        file loads or saves only stops that, so the user presses X again),
        then the process must end."""
        user = self.user
        user.close()
        deadline = time.monotonic() + self.timing.end
        again = time.monotonic() + 2
        closed_at = None
        while program.poll() is None:
            now = time.monotonic()
            windows = user.look()
            if any(w.role == "main" for w in windows):
                closed_at = None
                if now > deadline:
                    return self.stop_program(program, f"the main window did not close within {self.timing.end} s, "
                                             "with X pressed again every 2 s", windows)
                if any(w.role in ("dialog", "menu") for w in windows):
                    user.settle()
                elif now > again:
                    user.close_again()
                    again = now + 2
            else:
                closed_at = closed_at or now
                if now - closed_at > self.timing.exit:
                    return self.stop_program(program, "the main window closed, but the program did not end "
                                             f"within {self.timing.exit} s", windows)
            time.sleep(0.2)
        return []

    def stop_program(self, program, problem, windows):
        self.screenshot()
        self.processes.stop(program)
        self.stopped = True
        shown = ", ".join(f"'{w.name}' ({w.role})" for w in windows) or "none"
        return [f"{problem}; its windows: {shown}"]

    def screenshot(self):
        if self.user:
            try:
                self.user.desk.screenshot(os.path.join(self.root, "screen.xwd"))
            except (OSError, subprocess.SubprocessError):
                pass

    def when_written(self, scratch, problem):
        """The problem, with the time its file was last written, to set
        beside the actions sent."""
        path = os.path.join(scratch.pictures, problem.split(": ")[0])
        if not os.path.isfile(path) or self.started_wall is None:
            return problem
        return f"{problem} (written {os.path.getmtime(path) - self.started_wall:.1f} s into the input)"

    def generated_files_problems(self, scratch, found):
        problems = []
        for path in sorted(found):
            if GENERATED_NAME.match(path):
                out = os.path.join(scratch.root, "decoded.ppm")
                done = subprocess.run([self.options.tool, "decode", os.path.join(scratch.pictures, path), out],
                                      env=scratch.environment(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      timeout=120)
                if done.returncode != 0:
                    problems.append(f"{path}: a pasted picture saved under a made-up name does not read back")
        return problems

    def execute(self):
        source = os.path.join(self.root, "source")
        os.makedirs(source)
        pictures = Pictures(source, self.target, self.options.tool, Scratch(self.root, "fixtures").environment())
        pictures.build()
        names = pictures.plain + pictures.containers
        quiet, problems = self.quiet_run(source, names)
        expected = snapshot(quiet.pictures)
        if expected == snapshot(source):
            raise Failure("the quiet run wrote nothing")
        # Files under the names the program may make up from now on.
        pictures.decoys(int(time.time()) - 5, self.options.seconds + self.timing.start + self.timing.end + 60)
        initial = snapshot(source)
        restless, restless_problems = self.restless_run(source, pictures)
        problems += restless_problems
        found = snapshot(restless.pictures)
        # The quiet run had no decoys: they are to stay as they are.
        expected.update({path: value for path, value in initial.items() if path not in expected})
        problems += [self.when_written(restless, problem) for problem in compare_folders(initial, expected, found)]
        problems += self.generated_files_problems(restless, set(found) - set(initial))
        written = sum(1 for path, value in found.items() if initial.get(path) != value)
        return problems, written


def run_seed(seed, options):
    root = tempfile.mkdtemp(prefix=f"restless-{seed}-")
    run = Run(seed, options, root)
    problems, written = [], 0

    def out_of_time(*_):
        raise Failure(f"the whole run took more than {options.hard_timeout} s")

    previous = signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(options.hard_timeout)
    try:
        problems, written = run.execute()
    except Failure as failure:
        run.screenshot()
        problems = [str(failure)]
    except Exception:  # A fault of this script: reported as such, and the next seed runs.
        problems = ["the test itself failed:\n" + traceback.format_exc()]
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)
        if run.user:
            run.user.desk.close()
        run.processes.stop_all()
    user = run.user
    summary = ""
    if user:
        counts = ", ".join(f"{name} {count}" for name, count in sorted(user.counts.items()))
        summary = (f"{sum(user.counts.values())} actions ({counts}), {user.converts} conversions started, "
                   f"{written} files written")
    if problems:
        print(f"FAILED: {run.describe()} on display {run.display}: {summary}")
        for problem in problems:
            print(f"  - {problem}")
        if user:
            print("  last actions:")
            for line in user.recent:
                print(f"    {line}")
            with open(os.path.join(root, "actions.log"), "w") as out:
                out.write("\n".join(user.history) + "\n")
        print(f"  scratch folders kept in {root} (every action in actions.log)")
        print(f"  again: {sys.executable} {os.path.abspath(__file__)} --program {options.program} "
              f"--tool {options.tool} --seed {seed} --seconds {options.seconds}"
              + (" --sanitized" if options.sanitized else ""))
        return False
    print(f"ok: {run.describe()}: {summary}")
    shutil.rmtree(root, ignore_errors=True)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(TOP, "build"), help="the build folder (default build/)")
    parser.add_argument("--program", help="the program (default BUILD/zerbalin)")
    parser.add_argument("--tool", help="the tool (default BUILD/zerbalin-tool)")
    parser.add_argument("--seed", type=int, action="append", help="a seed (may be given several times)")
    parser.add_argument("--fresh", type=int, default=0, help="this many fresh seeds from the clock")
    parser.add_argument("--seconds", type=int, default=60, help="seconds of restless input per seed")
    parser.add_argument("--verbose", action="store_true", help="print each action as it is sent")
    parser.add_argument("--sanitized", action="store_true", help="the program is a sanitizer build: wait longer")
    options = parser.parse_args()
    options.program = os.path.abspath(options.program or os.path.join(options.build, "zerbalin"))
    options.tool = os.path.abspath(options.tool or os.path.join(options.build, "zerbalin-tool"))
    options.hard_timeout = options.seconds + (360 if options.sanitized else 150)
    missing = [tool for tool in X_TOOLS if not shutil.which(tool)]
    if missing:
        print(f"skipped: {', '.join(missing)} not installed (scripts/setup installs them)")
        return 77
    # Ended from outside: everything started is ended too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    seeds = list(options.seed or [])
    seeds += [random.SystemRandom().randrange(1, 1 << 31) for _ in range(options.fresh)]
    if not seeds:
        seeds = [1]
    results = [run_seed(seed, options) for seed in seeds]
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
