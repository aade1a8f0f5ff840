"""The whole program, end to end: the real dialog under Wine on a virtual
display, the real audio library on the PulseAudio null sink, driven with the
mouse and keyboard, and judged by what the sink records.

    e2e_test.py SoundTestApp.exe control_rects.exe

Run it inside scripts/env/test-env.sh. Prints each step's measured level and pitch.
"""

import os
import shutil
import struct
import sys
import tempfile
import time

import app_driver as drv  # tests/support, on PYTHONPATH

AMPLITUDE = 0.5
FULL_RMS = AMPLITUDE / 2 ** 0.5  # the tone's RMS at volume 100
# Marks are read from the recording's length while it grows, which trails the
# sound by up to a few tenths of a second; windows keep this far from them.
SLACK = 0.4

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def near(value, expected, tolerance):
    return abs(value - expected) <= tolerance * expected


def play_session(exe, rects, workdir):
    tone = os.path.join(workdir, "stepped tone.wav")
    drv.write_stepped_tone(tone, 30, AMPLITUDE)
    rec = drv.Recorder(os.path.join(workdir, "capture.raw"))
    rec.start()
    app = drv.AppSession(exe, rects)
    marks = {}
    try:
        check(app.wait_for_dialog(), "the dialog appears")
        layout = app.layout()
        check(layout[drv.IDC_VOLUME].pos == 60, "the volume trackbar starts at 60")
        check(layout[drv.IDC_VOLUME_VALUE].text == "60", "the volume box shows 60")
        check(layout[drv.IDC_FILE_NAME].text == "", "the file box starts empty")

        check(app.open_chooser_from_menu(), "File > Open File opens the chooser")
        app.choose_file(tone)
        shown = app.control(drv.IDC_FILE_NAME).text
        check(shown == drv.windows_path(tone), f"the file box shows the chosen path ({shown!r})")
        marks["opened"] = rec.now()
        time.sleep(1.0)

        marks["play"] = app.click(drv.IDC_PLAY, rec.now)
        time.sleep(3.0)

        marks["vol30"] = rec.now()
        app.set_volume(30)
        marks["vol30_done"] = rec.now()
        check(app.control(drv.IDC_VOLUME_VALUE).text == "30", "the volume box shows 30")
        time.sleep(2.0)

        marks["pause"] = app.click(drv.IDC_PAUSE, rec.now)
        time.sleep(2.0)

        marks["resume"] = app.click(drv.IDC_PLAY, rec.now)
        time.sleep(2.0)

        marks["stop"] = app.click(drv.IDC_STOP, rec.now)
        time.sleep(1.5)

        marks["replay"] = app.click(drv.IDC_PLAY, rec.now)
        time.sleep(2.0)

        marks["cancel"] = rec.now()
        check(app.open_chooser_from_menu(), "the chooser opens a second time")
        app.cancel_chooser()
        marks["cancelled"] = rec.now()
        check(app.control(drv.IDC_FILE_NAME).text == "", "cancel clears the file box")
        time.sleep(1.5)
        marks["after_cancel"] = rec.now()

        app.close()
        code = app.wait_exit(30)
        check(code == 0, f"closing the window ends the process with code 0 (got {code})")
    finally:
        app.kill()
        recording = rec.stop()
    if os.environ.get("E2E_ENVELOPE"):
        print_envelope(recording, marks)
    judge(recording, marks)


def print_envelope(r, marks):
    """The recording's level every 100 ms beside the steps' marks, to see
    what happened when a check fails (set E2E_ENVELOPE=1)."""
    names = sorted(marks.items(), key=lambda kv: kv[1])
    t = 0.0
    while t < r.duration():
        here = [k for k, v in names if t <= v < t + 0.1]
        print(f"     {t:6.1f}s {r.rms(t, t + 0.1):.4f} {' '.join(here)}")
        t += 0.1


def dropouts(r, start, end, level, window=0.01):
    """How many 10 ms windows of [start, end) fall below half the steady level:
    gaps where the program did not hand the device its sound in time."""
    count, t = 0, start
    while t + window <= end:
        if r.rms(t, t + window) < 0.5 * level:
            count += 1
        t += window
    return count


def judge(r, m):
    """Compares each stretch of the recording with what the user did."""
    quiet = r.rms(m["opened"] + 0.2, m["play"] - SLACK)
    print(f"     before play: rms {quiet:.4f}")
    check(quiet < 0.002, "nothing sounds before Play")

    start = r.sound_start(m["play"] - SLACK)
    check(start is not None, "Play starts the sound")
    if start is None:
        return
    level60 = r.rms(start + 0.3, m["vol30"] - SLACK)
    pitch = r.frequency(start + 0.05, start + 0.6)
    print(f"     volume 60: rms {level60:.4f} (expected {0.6 * FULL_RMS:.4f}), first pitch {pitch:.0f} Hz")
    check(near(level60, 0.6 * FULL_RMS, 0.08), "volume 60 plays the file at 0.6 of its level")
    check(drv.position_of(pitch) == 0, "playback starts at the file's beginning")
    left, right = r.channel_rms(start + 0.3, m["vol30"] - SLACK)
    check(near(right, left, 0.05), "both channels carry the tone")

    level30 = r.rms(m["vol30_done"] + SLACK, m["pause"] - SLACK)
    print(f"     volume 30: rms {level30:.4f} ({level30 / level60:.3f} of volume 60)")
    check(near(level30 / level60, 0.5, 0.08), "volume 30 is half the level of volume 60")
    gaps = (dropouts(r, start + 0.3, m["vol30"] - SLACK, level60)
            + dropouts(r, m["vol30_done"] + SLACK, m["pause"] - SLACK, level30))
    windows = int((m["vol30"] - SLACK - start - 0.3) / 0.01) + int((m["pause"] - m["vol30_done"] - 2 * SLACK) / 0.01)
    print(f"     dropouts while playing: {gaps} of {windows} windows of 10 ms")
    # A program too slow to keep up drops sound all along; a busy machine
    # costs the sound server a window now and then, which is not ours.
    check(gaps <= max(2, windows // 50), "playback keeps up: dropouts in at most 2% of the time")

    silent = r.silence_start(m["pause"] - SLACK)
    paused = r.rms(m["pause"] + SLACK, m["resume"] - SLACK)
    print(f"     paused: rms {paused:.5f}")
    check(paused < 0.002, "Pause silences the sound")
    before_pause = r.frequency(silent - 0.45, silent - 0.05) if silent else 0.0

    back = r.sound_start(m["resume"] - SLACK)
    check(back is not None, "Play after Pause sounds again")
    if back is not None:
        after_resume = r.frequency(back + 0.05, back + 0.45)
        print(f"     pitch before pause {before_pause:.0f} Hz, after resume {after_resume:.0f} Hz")
        check(drv.position_of(after_resume) - drv.position_of(before_pause) in (0, 1)
              and drv.position_of(after_resume) > 0, "Play resumes from the paused place")

    stopped = r.rms(m["stop"] + SLACK, m["replay"] - SLACK)
    print(f"     stopped: rms {stopped:.5f}")
    check(stopped < 0.002, "Stop silences the sound")
    again = r.sound_start(m["replay"] - SLACK)
    check(again is not None, "Play after Stop sounds again")
    if again is not None:
        first = r.frequency(again + 0.05, again + 0.45)
        print(f"     after Stop, Play starts at {first:.0f} Hz")
        check(drv.position_of(first) == 0, "Play after Stop starts from the beginning")

    cancelled = r.rms(m["cancelled"] + 0.3, m["after_cancel"])
    print(f"     after cancel: rms {cancelled:.5f}")
    check(cancelled < 0.002, "a cancelled Open stops the sound")


def exit_code_runs(exe, rects, workdir):
    """The exit code is 0 with arguments, and when the dialog cannot be made."""
    app = drv.AppSession(exe, rects, args=("--some", "arguments", "C:\\nothing.wav"))
    check(app.wait_for_dialog(), "command-line arguments do not stop the dialog")
    check(app.control(drv.IDC_FILE_NAME).text == "", "command-line arguments open no file")
    app.close()
    code = app.wait_exit(30)
    app.kill()
    check(code == 0, f"exit code 0 after a run with arguments (got {code})")

    broken = os.path.join(workdir, "NoDialog.exe")
    shutil.copy(exe, broken)
    check(hide_dialog_template(broken), "made a copy whose dialog template is missing")
    app = drv.AppSession(broken, rects)
    code = app.wait_exit(60)
    app.kill()
    check(code == 0, f"exit code 0 when the dialog template is missing (got {code})")


def hide_dialog_template(path):
    """Renames dialog resource 1000 to 999 in a copy of the program, so that
    the program finds no template to show."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        sections = struct.unpack_from("<H", data, pe + 6)[0]
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        magic = struct.unpack_from("<H", data, pe + 24)[0]
        dirs = pe + 24 + (96 if magic == 0x10B else 112)
        rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
        table = pe + 24 + opt_size
        base = None
        for i in range(sections):
            s = table + 40 * i
            va, raw = struct.unpack_from("<I", data, s + 12)[0], struct.unpack_from("<I", data, s + 20)[0]
            size = struct.unpack_from("<I", data, s + 8)[0]
            if va <= rsrc_rva < va + size:
                base = raw + (rsrc_rva - va)
        if base is None:
            return False

        def entries(offset):
            named, ids = struct.unpack_from("<HH", data, offset + 12)
            for k in range(named + ids):
                yield offset + 16 + 8 * k

        for e in entries(base):
            if struct.unpack_from("<I", data, e)[0] == 5:  # RT_DIALOG
                sub = base + (struct.unpack_from("<I", data, e + 4)[0] & 0x7FFFFFFF)
                for d in entries(sub):
                    if struct.unpack_from("<I", data, d)[0] == 1000:
                        struct.pack_into("<I", data, d, 999)
                        f.seek(0)
                        f.write(data)
                        return True
    return False


def main():
    exe, rects = sys.argv[1], sys.argv[2]
    workdir = tempfile.mkdtemp(prefix="e2e-")
    try:
        play_session(exe, rects, workdir)
        exit_code_runs(exe, rects, workdir)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all end-to-end checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
