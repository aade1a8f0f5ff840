"""Drives the running program from outside, as a user would, and listens to it.

Used by the end-to-end test and by `make run` on machines without a display.
It expects the environment of scripts/env/test-env.sh (DISPLAY, WINE, PULSE_SERVER,
WINEPREFIX) and needs xdotool, parec and ImageMagick's import.

Where controls are: the small Windows helper control_rects.exe reports each
control's screen rectangle, text and trackbar position; Wine's screen
coordinates are the X display's, so xdotool clicks land on the controls.
"""

import array
import math
import os
import re
import subprocess
import time

CAPTION = "Sound module test App"
CHOOSER_CAPTION = "Open File"
CHOOSER_FILE_NAME = 1148  # the Open dialog's file name box (its edit control last)


def _resource_ids():
    """The dialog's control IDs, from the header the program and its layout use."""
    header = os.path.join(os.path.dirname(__file__), "..", "..", "app", "resource.h")
    with open(header) as f:
        return {m[1]: int(m[2]) for m in re.finditer(r"^#define\s+(\w+)\s+(\d+)", f.read(), re.M)}


_IDS = _resource_ids()
IDC_VOLUME = _IDS["IDC_VOLUME"]
IDC_FILE_NAME = _IDS["IDC_FILE_NAME"]
IDC_BALANCE = _IDS["IDC_BALANCE"]
IDC_PLAY = _IDS["IDC_PLAY"]
IDC_PAUSE = _IDS["IDC_PAUSE"]
IDC_STOP = _IDS["IDC_STOP"]
IDC_VOLUME_VALUE = _IDS["IDC_VOLUME_VALUE"]

RATE = 44100


def wine_command():
    return os.environ.get("WINE", "wine")


def windows_path(path):
    """The path as Wine's programs see it (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def xdotool(*args, check=True):
    return subprocess.run(["xdotool", *map(str, args)], check=check,
                          capture_output=True, text=True).stdout


def find_window(name, timeout=30.0):
    """The X window id of a visible top-level window with this exact title, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        out = xdotool("search", "--onlyvisible", "--name", f"^{name}$", check=False)
        ids = out.split()
        if ids:
            return ids[0]
        time.sleep(0.2)
    return None


class Control:
    def __init__(self, cid, rect, cls, pos, text):
        self.id, self.rect, self.cls, self.pos, self.text = cid, rect, cls, pos, text

    @property
    def center(self):
        left, top, right, bottom = self.rect
        return (left + right) // 2, (top + bottom) // 2


class AppSession:
    """One run of the program: start, look, click, type, close."""

    def __init__(self, exe, rects_exe, args=(), log=print):
        self.exe, self.rects_exe, self.log = exe, rects_exe, log
        self.proc = subprocess.Popen([wine_command(), exe, *args],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_for_dialog(self, timeout=60.0):
        return find_window(CAPTION, timeout) is not None

    def layout(self, caption=CAPTION):
        """The window's parts: {'window': rect, 'menu0': rect, controls by id}."""
        out = subprocess.run([wine_command(), self.rects_exe, caption], capture_output=True,
                             text=True, timeout=60).stdout
        parts = {}
        for line in out.splitlines():
            words = line.split(" ")
            if words[0] == "control":
                rect = tuple(int(v) for v in words[2:6])
                parts[int(words[1])] = Control(int(words[1]), rect, words[6], int(words[7]),
                                               " ".join(words[8:]))
            elif len(words) >= 5:
                parts[words[0]] = tuple(int(v) for v in words[1:5])
        return parts

    def control(self, cid):
        return self.layout()[cid]

    def click(self, cid, clock=time.monotonic):
        """Left-clicks a control at its centre; returns clock() at the click."""
        x, y = self.control(cid).center
        xdotool("mousemove", "--sync", x, y)
        xdotool("click", 1)
        clicked = clock()
        time.sleep(0.3)
        return clicked

    def keys(self, *names, delay_ms=40):
        xdotool("key", "--delay", delay_ms, *names)
        time.sleep(0.3)

    def open_chooser_from_menu(self, attempts=3):
        """File > Open File, with the mouse and the item's mnemonic. A slow
        machine (or the shipped program under an emulator) may show the menu
        only after the key was sent; then the menu is closed and opened again."""
        for _ in range(attempts):
            left, top, right, bottom = self.layout()["menu0"]
            xdotool("mousemove", "--sync", (left + right) // 2, (top + bottom) // 2)
            xdotool("click", 1)
            time.sleep(1.0)
            self.keys("o")
            if find_window(CHOOSER_CAPTION, 20) is not None:
                return True
            self.keys("Escape", "Escape")
        return False

    def chooser_file_name(self):
        """The text in the Open dialog's file name box, or None while it has none."""
        box = self.layout(CHOOSER_CAPTION).get(CHOOSER_FILE_NAME)
        return box.text if box else None

    def choose_file(self, path, attempts=3):
        """Types a path into the system's Open dialog and confirms it. Keys
        sent while the dialog still starts up (slowly, under an emulator) are
        lost, so the box is read back and typed again until it shows the path."""
        win = find_window(CHOOSER_CAPTION, 60)
        if win is None:
            raise RuntimeError("the Open dialog did not appear")
        wanted = windows_path(path)
        for _ in range(attempts):
            time.sleep(1.0)
            shown = self.chooser_file_name() or ""
            xdotool("windowfocus", "--sync", win, check=False)
            xdotool("key", "End", *["BackSpace"] * len(shown))
            xdotool("type", "--delay", 20, wanted)
            time.sleep(0.3)
            if self.chooser_file_name() == wanted:
                break
        xdotool("key", "Return")
        self._wait_chooser_gone()

    def cancel_chooser(self):
        if find_window(CHOOSER_CAPTION, 60) is None:
            raise RuntimeError("the Open dialog did not appear")
        time.sleep(1.0)
        xdotool("key", "Escape")
        self._wait_chooser_gone()

    def _wait_chooser_gone(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if find_window(CHOOSER_CAPTION, 0.1) is None:
                time.sleep(0.3)
                return
            time.sleep(0.2)
        raise RuntimeError("the Open dialog did not close")

    def set_volume(self, value):
        """Moves the volume trackbar with the keyboard: a click gives it focus,
        Home takes it to 0, Page Down steps up a page (20), Right one."""
        ctl = self.control(IDC_VOLUME)
        xdotool("mousemove", "--sync", ctl.rect[0] + 3, ctl.center[1])
        xdotool("click", 1)
        time.sleep(0.2)
        steps = ["Home"] + ["Next"] * (value // 20) + ["Right"] * (value % 20)
        self.keys(*steps, delay_ms=15)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], check=False,
                       stderr=subprocess.DEVNULL)

    def close(self):
        """Alt+F4 on the dialog: the window's Close command."""
        win = find_window(CAPTION, 5)
        if win is not None:
            xdotool("windowactivate", "--sync", win, check=False)
            xdotool("key", "--window", win, "alt+F4", check=False)
            xdotool("key", "alt+F4", check=False)

    def wait_exit(self, timeout=30.0):
        """The process's exit code, or None if it is still running."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Recorder:
    """Records the null sink's monitor from start() to stop(). Times are
    positions in the recording itself (how much parec has written so far), so
    they need no agreement between the wall clock and the sink's clock."""

    def __init__(self, path):
        self.path = path
        self.proc = None

    def start(self):
        out = open(self.path, "wb")
        self.proc = subprocess.Popen(
            ["parec", "-d", "out.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
             "--channels=2", "--latency-msec=20"], stdout=out)
        out.close()
        deadline = time.monotonic() + 10
        while self.now() < 0.2 and time.monotonic() < deadline:
            time.sleep(0.05)

    def now(self):
        try:
            return os.path.getsize(self.path) / 4 / RATE
        except OSError:
            return 0.0

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        data = array.array("h")
        with open(self.path, "rb") as f:
            raw = f.read()
        data.frombytes(raw[: len(raw) // 4 * 4])
        return Recording(data)


class Recording:
    """Interleaved stereo 16-bit samples with level and pitch measurements."""

    def __init__(self, samples):
        self.samples = samples

    def duration(self):
        return len(self.samples) / 2 / RATE

    def left(self, start, end):
        a = max(0, int(start * RATE)) * 2
        b = min(len(self.samples) // 2, int(end * RATE)) * 2
        return self.samples[a:b:2]

    def rms(self, start, end):
        """RMS of the left channel over [start, end) seconds, full scale = 1.0."""
        seg = self.left(start, end)
        if not seg:
            return 0.0
        return math.sqrt(sum(v * v for v in seg) / len(seg)) / 32768.0

    def channel_rms(self, start, end):
        a = max(0, int(start * RATE)) * 2
        b = min(len(self.samples) // 2, int(end * RATE)) * 2
        out = []
        for ch in (0, 1):
            seg = self.samples[a + ch:b:2]
            out.append(math.sqrt(sum(v * v for v in seg) / len(seg)) / 32768.0 if seg else 0.0)
        return out

    def frequency(self, start, end):
        """Pitch of a clean tone over [start, end), from the median distance
        between rising zero crossings, so a short dropout does not bend it."""
        seg = self.left(start, end)
        crossings = []
        for i in range(1, len(seg)):
            if seg[i - 1] < 0 <= seg[i]:
                # Where the rise crosses zero, between the two samples.
                crossings.append(i - 1 + seg[i - 1] / (seg[i - 1] - seg[i]))
        periods = sorted(b - a for a, b in zip(crossings, crossings[1:]))
        if len(periods) < 3:
            return 0.0
        return RATE / periods[len(periods) // 2]

    def sound_start(self, after, threshold=0.01, window=0.01):
        """The first time >= after when the level rises above threshold, or None."""
        t = after
        while t < self.duration():
            if self.rms(t, t + window) > threshold:
                return t
            t += window
        return None

    def silence_start(self, after, threshold=0.002, window=0.01):
        """The first time >= after from which a window is silent, or None."""
        t = after
        while t < self.duration():
            if self.rms(t, t + window) < threshold:
                return t
            t += window
        return None


def write_stepped_tone(path, seconds, amplitude=0.5, base=400.0, step=40.0, rate=RATE):
    """A 16-bit stereo WAV whose pitch tells the position: second k plays
    base + step*k Hz, phase-continuous, at the given amplitude."""
    import wave
    frames = array.array("h")
    phase = 0.0
    for i in range(int(seconds * rate)):
        freq = base + step * int(i / rate)
        phase += 2 * math.pi * freq / rate
        v = int(round(amplitude * 32767 * math.sin(phase)))
        frames.append(v)
        frames.append(v)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames.tobytes())


def position_of(freq, base=400.0, step=40.0):
    """Which second of a stepped tone a measured pitch belongs to."""
    return round((freq - base) / step)
