#!/usr/bin/env python3
"""Checks a run of device_loss_test.sh: the times the library took to notice
the lost output and to play again, and where in the tone it went on.

    device_loss_analyse.py tone OUT.wav          writes the tone
    device_loss_analyse.py resume|fresh|free WORK_DIR  checks a run

WORK_DIR holds events.txt (the program's lines), marks.txt (the script's) and, for
resume and fresh, before.raw and after.raw: s16le stereo captures at 44100 Hz of the
null sink before it was unloaded (capture.py) and of the sink loaded after
it (a pipe sink for resume, a fresh null sink's monitor for fresh). The
tone rises 100 Hz a second from 300 Hz, so its pitch tells the position in
the file: the position heard last before the loss and the one heard first
after it must be the same, up to the sound the lost output still held
(and, for fresh, up to what the new sink ran ahead of its clock).
Underruns in the sound server are cut out first (as analyse_capture.py
does); when the only failures lie next to one, the exit code is 3 and the
run may be repeated.
"""
import math
import sys

from capture_analysis import (AROUND_UNDERRUN, RATE, UNDERRUN_EXIT, mean_pitch, read_capture, rms,
                              splice_underruns, write_rising_tone)  # tests/support, on PYTHONPATH

BASE_HZ, RISE_HZ = 300.0, 100.0   # the tone: BASE_HZ + RISE_HZ * seconds
PEAK = 0.5
WINDOW = 0.12                      # seconds of tone the pitch is measured over
EDGE_WINDOW = 0.04                 # and right at the loss and the resumption
SETTLED = int(0.3 * RATE)          # samples after the resumption before the rate is judged
MAX_NOTICE_S = 0.8                 # a lost output must be noticed within this
MAX_RESUME_S = 1.2                 # and playback go on this soon after it is back
MAX_CPU_PERCENT = 5.0              # the process's CPU use while stalled
# The library must go on where it stopped rendering: the first sound heard
# after the loss is within this of the position it reported when stalled.
MAX_RESUME_ERROR_MS = 15.0
# Sound already handed to the output when it went away is lost with it: the
# library's queue (30 ms) and what the sound server held (measured just
# before the loss), give or take a period of Wine's.
LIBRARY_QUEUE_MS = 30.0
SKIP_MARGIN_MS = 30.0


def write_tone(path, seconds=10.0):
    """The rising tone as a 16-bit stereo WAV at RATE."""
    write_rising_tone(path, seconds, PEAK, BASE_HZ, RISE_HZ)


def load(path):
    return read_capture(path)[0::2]


def load_events(paths):
    states, marks, figures = [], {}, {}
    for line in (line for path in paths for line in open(path)):
        parts = line.split()
        if len(parts) >= 4 and parts[0] == "state":
            states.append((parts[1], float(parts[2]), float(parts[3])))
        elif len(parts) == 2 and parts[0] in ("unload", "load"):
            marks[parts[0]] = float(parts[1])
        elif len(parts) >= 3 and parts[0] == "figure":
            figures[parts[1]] = float(parts[2])
    return states, marks, figures


def pitch(x, a, b):
    """(Hz, centre) over x[a:b] from at least three rising zero crossings."""
    return mean_pitch(x, a, b, min_crossings=3)


def position(hz):
    return (hz - BASE_HZ) / RISE_HZ


def loud(x, i):
    return abs(x[i]) > 0.25 * PEAK * 32768


def first_state_after(states, name, when):
    return next((t for n, t, _ in states if n == name and t >= when), None)


def spliced_captures(work):
    """The tone heard before the loss (ending where it stopped) and after it
    (from where it came back), underruns in the sound server cut out, and
    whether one was cut near the resumption or within the second the rate
    is judged over."""
    before, after = load(f"{work}/before.raw"), load(f"{work}/after.raw")
    end = next((i for i in range(len(before) - 1, 0, -1) if loud(before, i)), None)
    onset = next((i for i in range(len(after)) if loud(after, i)), None)
    if end is None or onset is None:
        return None
    before, cuts_before = splice_underruns(before, before, 0, end + 1, BASE_HZ)[1:]
    after, cuts_after = splice_underruns(after, after, onset, len(after), BASE_HZ)[1:]
    cut_ms = sum(n for _, n in cuts_before + cuts_after) * 1000 / RATE
    if cut_ms:
        print(f"underruns in the sound server cut out: {cut_ms:.1f} ms")
    near = AROUND_UNDERRUN + int(WINDOW * RATE)
    near_resume = any(at > len(before) - near for at, _ in cuts_before) or any(at < near for at, _ in cuts_after)
    in_second = any(SETTLED - near < at < SETTLED + RATE + near for at, _ in cuts_after)
    return before, after, near_resume, in_second


def check_positions(work, stalled_at, held_ms, lead_ms, failures):
    """Where the tone was last heard before the loss and first after it,
    against stalled_at, the position in seconds the library reported.
    lead_ms: how far ahead of its clock the sink that came back was when
    the stream arrived; Wine drops up to that much sound, and neither its
    WASAPI clock nor waveOut's position shows it, so it is allowed."""
    captures = spliced_captures(work)
    if captures is None:
        failures.append(("no tone before the loss or after the output came back", "hard"))
        return
    before, after, near_resume, in_second = captures
    w, edge = int(WINDOW * RATE), int(EDGE_WINDOW * RATE)
    end, start = len(before) - 1, RATE // 100
    hz_end, mid_end = pitch(before, end - edge, end)
    hz_on, mid_on = pitch(after, start, start + edge)
    # The rate is judged from a second after Wine's stream has settled in.
    hz_settled, mid_settled = pitch(after, SETTLED, SETTLED + w)
    hz_later, mid_later = pitch(after, SETTLED + RATE, SETTLED + RATE + w)
    heard_last = position(hz_end) + (end - mid_end) / RATE
    heard_next = position(hz_on) - mid_on / RATE
    skip_ms = (heard_next - heard_last) * 1000
    drift_ms = (position(hz_later) - position(hz_settled) - (mid_later - mid_settled) / RATE) * 1000
    level = rms(after, start, start + w)
    resume_error_ms = (heard_next - stalled_at) * 1000
    max_skip_ms = LIBRARY_QUEUE_MS + held_ms + lead_ms + SKIP_MARGIN_MS
    print(f"heard last before the loss: {heard_last:.3f} s into the tone ({hz_end:.1f} Hz)")
    print(f"stalled at:                 {stalled_at:.3f} s (the library's position)")
    print(f"heard first after it:       {heard_next:.3f} s ({hz_on:.1f} Hz), {resume_error_ms:+.1f} ms "
          f"from where the library stalled; {skip_ms:.1f} ms skipped "
          f"(the sound server held {held_ms:.0f} ms; the sink came back {lead_ms:.0f} ms ahead)")
    if not -MAX_RESUME_ERROR_MS <= resume_error_ms <= MAX_RESUME_ERROR_MS + lead_ms:
        failures.append((f"playback went on {resume_error_ms:+.1f} ms from the position where it stalled",
                         "underrun" if near_resume else "hard"))
    print(f"over the second after it the tone ran {drift_ms:+.1f} ms off real time; level {level:.4f}")
    if not -10.0 <= skip_ms <= max_skip_ms:
        failures.append((f"{skip_ms:.1f} ms of sound went missing over the loss "
                         f"(allowed -10 to {max_skip_ms:.0f})", "underrun" if near_resume else "hard"))
    # A fresh null sink still settles for a while after it is back, and Wine
    # trims what it does not take: its pitch wobbles by 20 ms there. The rate
    # is judged on the pipe sink, which keeps to its clock.
    if abs(drift_ms) > 10.0 and lead_ms == 0:
        failures.append((f"after the output came back the tone ran {drift_ms:+.1f} ms off real time",
                         "underrun" if in_second else "hard"))
    if abs(level - PEAK / math.sqrt(2)) > 0.03 * PEAK / math.sqrt(2):
        failures.append((f"after the output came back the level is {level:.4f}", "hard"))


def check_resumption(states, marks, failures):
    """How soon after the sink came back the stream played again."""
    resumed = first_state_after(states, "playing", marks.get("load", float("inf")))
    if resumed is None:
        failures.append(("playback did not go on once the output was back", "hard"))
        return
    delay_ms = (resumed - marks["load"]) * 1000
    print(f"time to resume: {delay_ms:.0f} ms after the sink came back")
    if delay_ms > MAX_RESUME_S * 1000:
        failures.append((f"playback went on {delay_ms:.0f} ms after the sink came back", "hard"))


def main():
    mode, work = sys.argv[1], sys.argv[2]
    if mode == "tone":
        write_tone(work)
        return 0
    states, marks, figures = load_events([f"{work}/events.txt", f"{work}/marks.txt"])
    stalled = first_state_after(states, "stalled", marks.get("unload", 0))
    if stalled is None or "unload" not in marks:
        print("FAIL: the loss of the output was never reported")
        return 1
    failures = []  # (what, kind): "hard", or "underrun" when one was heard nearby
    notice = stalled - marks["unload"]
    print(f"time to notice: {notice * 1000:.0f} ms")
    if notice > MAX_NOTICE_S:
        failures.append((f"the loss was noticed after {notice * 1000:.0f} ms", "hard"))
    for name in ("cpu_while_stalled", "process_cpu_while_stalled"):
        if figures.get(name, 0.0) > MAX_CPU_PERCENT:
            failures.append((f"{name}: {figures[name]:.1f} % of a core", "hard"))
    print("figures: " + ", ".join(f"{k} {v:.1f}" for k, v in figures.items()))
    if mode in ("resume", "fresh"):
        check_resumption(states, marks, failures)
        stalled_at = next(p for n, t, p in states if n == "stalled" and t >= marks["unload"])
        check_positions(work, stalled_at, figures.get("held_by_server", 0.0), figures.get("sink_lead", 0.0),
                        failures)
    for failure, _ in failures:
        print(f"FAIL: {failure}")
    if failures and all(kind == "underrun" for _, kind in failures):
        print("device loss check: FAILED next to an underrun in the sound server")
        return UNDERRUN_EXIT
    print("device loss check: " + ("FAILED" if failures else "passed"))
    return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main())
