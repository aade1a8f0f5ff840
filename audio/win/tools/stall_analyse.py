#!/usr/bin/env python3
"""Checks a recording of stall_test.sh: a rising tone played from a file one
of whose reads stalled, and maybe a steady tone from memory beside it.

    stall_analyse.py --stall-at S --stall-ms MS [--other] CAPTURE EVENTS

The left channel holds the rising tone, 300 Hz + 100 Hz a second, so its
pitch tells the position in the file; the right one the other stream, if
any. A stall shorter than what the library decodes ahead (0.5 s) must leave
no gap and the position unbroken; a longer one one gap of the stall less
that, after which the tone goes on where it stopped, with one underrun
counted, while the other stream plays on without a gap. Silence on both
channels while the other stream plays, or without one a gap away from the
stall, is the sound server's own underrun: it is set aside, and when there
was one and the run failed, the exit code is 3 and the run may be repeated
(record_test.sh).
"""
import argparse
import sys

from analyse_capture import load, load_events
from capture_analysis import RATE, UNDERRUN_EXIT, frequency  # tests/support, on PYTHONPATH

BASE_HZ, RISE_HZ = 300.0, 100.0
AHEAD_S = 0.5             # what the library decodes ahead
QUIET = 3                 # |sample| at or below this is silence
MIN_GAP = RATE // 200     # 5 ms of silence in a tone is a gap
POSITION_MS = 15.0        # the pitch's position against the expected one
WINDOW = int(0.04 * RATE)


def gaps(x, a, b):
    """(start, length) of every run of at least MIN_GAP silent samples in x[a:b]."""
    found, start = [], None
    for i in range(a, b):
        if abs(x[i]) <= QUIET:
            start = i if start is None else start
        elif start is not None:
            if i - start >= MIN_GAP:
                found.append((start, i - start))
            start = None
    return found


def extent(x, a):
    """First and last sample from a on that is not silence."""
    loud = [i for i in range(a, len(x)) if abs(x[i]) > 100]
    return (loud[0], loud[-1]) if loud else (None, None)


def position(x, a, b):
    """Seconds into the rising tone at the middle of x[a:b], from its pitch."""
    return (frequency(x, a, b) - BASE_HZ) / RISE_HZ


def check_left(left, onset, end, args, figures, server, failures):
    found = [g for g in gaps(left, onset, end) if not overlaps(g, server)]
    for start, length in found:
        print(f"gap at {(start - onset) / RATE:.3f} s, {length / RATE * 1000:.0f} ms")
    starves = args.stall_ms / 1000 > AHEAD_S
    if not starves:
        if found:
            failures.append(("stall", f"{len(found)} gap(s) where none may be"))
        # Unbroken: the pitch tells the time since the onset.
        for at in (1.0, args.stall_at - 0.2, args.stall_at + 0.5, args.stall_at + 1.5):
            i = onset + int(at * RATE)
            heard = position(left, i - WINDOW // 2, i + WINDOW // 2)
            print(f"position at {at:.1f} s: {heard:.4f} s")
            if abs(heard - at) * 1000 > POSITION_MS:
                failures.append(("stall", f"position {heard:.3f} s at {at:.1f} s of play"))
    elif len(found) != 1:
        failures.append(("stall", f"{len(found)} gaps, expected one"))
    else:
        start, length = found[0]
        expected = args.stall_ms / 1000 - AHEAD_S
        if abs(length / RATE - expected) > 0.3:
            failures.append(("stall", f"a gap of {length / RATE:.2f} s, expected about {expected:.2f} s"))
        before = position(left, start - WINDOW, start) + WINDOW / 2 / RATE
        after = position(left, start + length, start + length + WINDOW) - WINDOW / 2 / RATE
        print(f"position before the gap {before:.4f} s, after it {after:.4f} s")
        if abs(after - before) * 1000 > POSITION_MS:
            failures.append(("stall", f"went on at {after:.3f} s after stopping at {before:.3f} s"))
    want = 1 if starves else 0
    if figures.get("underruns") != want:
        failures.append(("stall", f"{figures.get('underruns')} underruns counted, expected {want}"))


def overlaps(gap, runs):
    return any(gap[0] < s + n and s < gap[0] + gap[1] for s, n in runs)


def server_underruns(left, right, a, b, other, stall_window):
    """The sound server's own gaps: silence on both channels while the other
    stream plays, or else left-channel gaps away from the stall."""
    if other:
        return gaps([max(abs(l), abs(r)) for l, r in zip(left, right)], a, b)
    return [g for g in gaps(left, a, b) if not stall_window[0] <= g[0] < stall_window[1]]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stall-at", type=float, required=True)
    parser.add_argument("--stall-ms", type=float, required=True)
    parser.add_argument("--other", action="store_true")
    parser.add_argument("capture")
    parser.add_argument("events")
    args = parser.parse_args()
    left, right, t0 = load(args.capture)
    _, events, figure_lines = load_events(args.events)
    figures = {f.split()[0]: float(f.split()[1]) for f in figure_lines}
    play = next(t for name, t, _ in events if name == "play")
    onset, end = extent(left, max(0, int((play - t0) * RATE)))
    if onset is None:
        print("FAIL: the tone was never heard")
        return 1
    print(f"onset {(onset / RATE + t0 - play) * 1000:.0f} ms after Play; figures {figures}")
    # Where a read ahead of the stall (or, without decoding ahead, the stall
    # itself) would silence the tone.
    stall_window = (onset + int((args.stall_at - 0.7) * RATE), onset + int((args.stall_at + 0.5) * RATE))
    server = server_underruns(left, right, onset, end, args.other, stall_window)
    failures = []
    check_left(left, onset, end, args, figures, server, failures)
    if args.other:
        other_onset, other_end = extent(right, onset - RATE // 10)
        for start, length in gaps(right, other_onset, other_end):
            if not overlaps((start, length), server):
                failures.append(("other", f"a gap of {length / RATE * 1000:.0f} ms at {(start - onset) / RATE:.3f} s"))
    for what, message in failures:
        print(f"FAIL {what}: {message}")
    if not failures:
        print("PASS")
        return 0
    if server:
        print(f"the sound server underran {len(server)} times: the run may be repeated")
        return UNDERRUN_EXIT
    return 1


if __name__ == "__main__":
    sys.exit(main())
