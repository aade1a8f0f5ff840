#!/usr/bin/env python3
"""Checks a capture of the null sink against the events a test program logged.

    analyse_capture.py CAPTURE.raw EVENTS.txt [--max-start-ms N] [--max-silence-ms N]
                       [--level-tolerance F] [--max-break F]

CAPTURE.raw is s16le stereo at 44100 Hz, CAPTURE.raw.t0 the Unix time of its
first frame (capture.py). EVENTS.txt holds the program's lines:
    tone FREQUENCY
    event NAME UNIX_TIME PEAK      from then on: the tone at PEAK, or silence (0)
    figure NAME VALUE UNIT         printed along
For a sound region: the tone must begin within --max-start-ms of the event,
then hold its level and pitch on both channels without a break (gaps, lost
or repeated pieces break the sine's recurrence). For a silence region: the
sound must end within --max-silence-ms, and stay away; a silence that follows
silence (before the first start) must be total.

An underrun in the sound server (a client's queue ran dry) shows in the
capture as a run of exact digital silence inside the tone, after which the
tone goes on exactly where it left off: nothing was lost, it came late.
Such runs are cut out before the tone is measured, so a wrong level, pitch
or a lost or repeated piece still fails. What an underrun can throw off is
the timing (the sound comes late), and sound lost within a quarter second
of it (the client may drop sound while it catches up). When only those
fail, the exit code is 3 (the run may be repeated); any other failure, or
one without an underrun, exits with 1.
"""
import argparse
import math
import sys

from capture_analysis import (RATE, UNDERRUN_EXIT, around_underruns, frequency, max_residual,
                              read_capture, rms, splice_underruns)  # tests/support, on PYTHONPATH

SILENCE = 0.001      # below this (fraction of full scale) counts as silence
SETTLE_MS = 20       # start-up and ramps skipped before measuring a tone
# The null sink renders a few ms ahead of its clock, so capture times may be
# that much early: sound this close before the next event is not a fault,
# and a tone is measured only up to this long before the next event.
CLOCK_TOLERANCE_MS = 15


def load(capture_path):
    samples = read_capture(capture_path)
    with open(capture_path + ".t0") as f:
        t0 = float(f.read())
    return samples[0::2], samples[1::2], t0


def load_events(events_path):
    tone, events, figures = None, [], []
    with open(events_path) as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            if parts[0] == "tone":
                tone = float(parts[1])
            elif parts[0] == "event":
                events.append((parts[1], float(parts[2]), float(parts[3])))
            elif parts[0] == "figure":
                figures.append(" ".join(parts[1:]))
    return tone, sorted(events, key=lambda e: e[1]), figures


def check_tone(name, left, right, a, b, onset, tone, peak, args, failures):
    """Level, pitch and continuity of the tone in [a, b), underruns cut out.
    Returns the milliseconds of underrun found."""
    spliced_left, spliced_right, cuts = splice_underruns(left, right, a, b, tone)
    cut_ms = sum(n for _, n in cuts) * 1000 / RATE
    if cuts:
        print(f"{name}: underrun in the sound server, {cut_ms:.1f} ms of digital silence cut out")
    expected = peak / math.sqrt(2.0)
    n = len(spliced_left)
    for label, x in (("left", spliced_left), ("right", spliced_right)):
        level = rms(x, 0, n)
        pitch = frequency(x, 0, n)
        residual, where, near, near_where = max_residual(x, 0, n, tone, around_underruns(cuts))
        print(f"{name} {label}: level {level:.4f} (expected {expected:.4f}), "
              f"pitch {pitch:.2f} Hz, largest break {max(residual, near):.4f} over {n / RATE:.2f} s")
        if abs(level - expected) > expected * args.level_tolerance:
            failures.append((f"{name} {label}: level {level:.4f}, expected {expected:.4f}", "hard"))
        if abs(pitch - tone) > tone * 0.005:
            failures.append((f"{name} {label}: pitch {pitch:.2f} Hz, expected {tone:.2f} Hz", "hard"))
        for worst, at, kind in ((residual, where, "hard"), (near, near_where, "underrun")):
            if worst > args.max_break:
                failures.append((f"{name} {label}: the tone breaks at "
                                 f"{(at + a - onset) * 1000 / RATE:.1f} ms after it began "
                                 f"(sound lost or repeated; break {worst:.4f})", kind))
    return cut_ms


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("capture")
    parser.add_argument("events")
    parser.add_argument("--max-start-ms", type=float, default=300.0)
    parser.add_argument("--max-silence-ms", type=float, default=50.0)
    parser.add_argument("--level-tolerance", type=float, default=0.03)
    # The largest break in the sine's recurrence allowed: rounding leaves
    # about 0.0001; lossy codecs leave more.
    parser.add_argument("--max-break", type=float, default=0.01)
    args = parser.parse_args()

    left, right, t0 = load(args.capture)
    tone, events, figures = load_events(args.events)
    frames = len(left)
    # (what, kind): "hard" always fails; "timing" and "underrun" may be
    # put down to an underrun in the sound server.
    failures = []
    underrun_ms = 0.0
    for figure in figures:
        print(f"figure: {figure}")
    if tone is None or not events:
        print("FAIL: the program logged no tone or no events")
        return 1

    def index(t):
        return max(0, min(frames, int(round((t - t0) * RATE))))

    def loudest(a, b):
        return max((max(abs(left[i]), abs(right[i])) for i in range(a, b)), default=0) / 32768.0

    previous_peak = 0.0
    for n, (name, when, peak) in enumerate(events):
        start = index(when)
        end = index(events[n + 1][1]) if n + 1 < len(events) else frames
        if when - t0 > frames / RATE:
            failures.append((f"{name}: the capture ended before this event", "hard"))
            break
        if peak == 0:
            # Where the last sound in this region is, relative to the event.
            last_loud = None
            if previous_peak == 0 and n + 1 < len(events):
                end -= int(CLOCK_TOLERANCE_MS * RATE / 1000)
            for i in range(end - 1, start - 1, -1):
                if max(abs(left[i]), abs(right[i])) > SILENCE * 32768:
                    last_loud = i
                    break
            if previous_peak == 0:
                if last_loud is not None:
                    failures.append((f"{name}: sound at {(last_loud - start) * 1000 / RATE:.1f} ms "
                                     f"where nothing should play yet", "hard"))
                if n == 0 and loudest(0, start) > SILENCE:
                    failures.append((f"{name}: sound before the program began", "hard"))
            else:
                delay = 0.0 if last_loud is None else (last_loud + 1 - start) * 1000 / RATE
                print(f"{name}: silent {delay:.1f} ms after the call")
                if delay > args.max_silence_ms:
                    failures.append((f"{name}: sound went on {delay:.1f} ms after the call "
                                     f"(limit {args.max_silence_ms:.0f} ms)", "timing"))
        else:
            onset = next((i for i in range(start, end)
                          if max(abs(left[i]), abs(right[i])) > 0.25 * peak * 32768), None)
            if onset is None:
                failures.append((f"{name}: no sound after the call", "hard"))
                previous_peak = peak
                continue
            delay = (onset - start) * 1000 / RATE
            print(f"{name}: sound {delay:.1f} ms after the call")
            if delay > args.max_start_ms:
                failures.append((f"{name}: sound began {delay:.1f} ms after the call "
                                 f"(limit {args.max_start_ms:.0f} ms)", "timing"))
            a = onset + int(SETTLE_MS * RATE / 1000)
            b = end - int(CLOCK_TOLERANCE_MS * RATE / 1000)
            if b - a < RATE // 10:
                failures.append((f"{name}: less than 100 ms of steady sound to measure", "hard"))
            else:
                underrun_ms += check_tone(name, left, right, a, b, onset, tone, peak, args, failures)
        previous_peak = peak

    for failure, kind in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("capture check: passed")
        return 0
    if underrun_ms > 0 and all(kind != "hard" for _, kind in failures):
        print(f"capture check: FAILED on timing after {underrun_ms:.1f} ms of underrun in the sound server")
        return UNDERRUN_EXIT
    print("capture check: FAILED")
    return 1


if __name__ == "__main__":
    sys.exit(main())
