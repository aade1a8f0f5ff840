#!/usr/bin/env python3
"""When analyse_capture.py lets a recorded test run again: only after an
underrun in the sound server (digital silence, then the tone on late) that
threw the timing off or cost sound right next to it; sound lost elsewhere,
a wrong level or pitch fails at once, underrun or not."""
import array
import math
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 44100
TONE = 440.0
T0 = 1000.0  # the capture's start, in the events' clock


def tone(seconds, peak, start_phase=0.0):
    n = int(seconds * RATE)
    return [peak * math.sin(start_phase + 2 * math.pi * TONE * i / RATE) for i in range(n)], \
        start_phase + 2 * math.pi * TONE * n / RATE


class Capture:
    """Builds a capture piece by piece: silence, tone (phase-continuous), or gaps."""

    def __init__(self):
        self.samples, self.phase = [], 0.0

    def silence(self, seconds):
        self.samples += [0.0] * int(seconds * RATE)

    def tone(self, seconds, peak):
        piece, self.phase = tone(seconds, peak, self.phase)
        self.samples += piece

    def lose(self, seconds):
        """Sound that never arrives: the tone jumps ahead."""
        self.phase += 2 * math.pi * TONE * int(seconds * RATE) / RATE

    def analyse(self, events):
        with tempfile.TemporaryDirectory() as work:
            raw, log = os.path.join(work, "c.raw"), os.path.join(work, "e.txt")
            data = array.array("h")
            for v in self.samples:
                data += array.array("h", [int(round(v * 32767))] * 2)
            with open(raw, "wb") as f:
                f.write(data.tobytes())
            with open(raw + ".t0", "w") as f:
                f.write(f"{T0}\n")
            with open(log, "w") as f:
                f.write(f"tone {TONE}\n")
                for name, at, peak in events:
                    f.write(f"event {name} {T0 + at:.6f} {peak}\n")
            result = subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "tools", "analyse_capture.py"), raw, log],
                                    capture_output=True, text=True)
            return result.returncode


# Play at 0.2 s, stop at 1.2 s: the program's log for every case.
EVENTS = [("open", 0.0, 0.0), ("play", 0.2, 0.5), ("stop", 1.2, 0.0)]


# (case, the capture piece by piece, the analyser's exit code): 0 passes, 3
# may be repeated (an underrun), 1 fails at once.
S, T, L = "silence", "tone", "lose"
CASES = [
    ("a clean run passes", [(S, 0.2), (T, 1.0, 0.5), (S, 0.3)], 0),
    ("a short underrun is cut out and passes", [(S, 0.2), (T, 0.5, 0.5), (S, 0.005), (T, 0.5, 0.5), (S, 0.3)], 0),
    ("an underrun that makes the sound late may be repeated",
     [(S, 0.2), (T, 0.5, 0.5), (S, 0.1), (T, 0.5, 0.5), (S, 0.3)], 3),
    ("lost sound fails at once", [(S, 0.2), (T, 0.5, 0.5), (L, 0.003), (T, 0.5, 0.5), (S, 0.3)], 1),
    ("sound lost right after an underrun may be repeated",
     [(S, 0.2), (T, 0.5, 0.5), (S, 0.02), (T, 0.1, 0.5), (L, 0.003), (T, 0.4, 0.5), (S, 0.3)], 3),
    ("sound lost far from an underrun fails at once",
     [(S, 0.2), (T, 0.2, 0.5), (S, 0.02), (T, 0.5, 0.5), (L, 0.003), (T, 0.3, 0.5), (S, 0.3)], 1),
    ("a wrong level fails at once even after an underrun",
     [(S, 0.2), (T, 0.5, 0.45), (S, 0.1), (T, 0.5, 0.45), (S, 0.3)], 1),
    ("a late stop without an underrun fails at once", [(S, 0.2), (T, 1.1, 0.5), (S, 0.2)], 1),
]


class AnalyseCaptureTest(unittest.TestCase):
    def test_the_exit_code_of_each_case(self):
        for name, pieces, expected in CASES:
            with self.subTest(name):
                c = Capture()
                for kind, *args in pieces:
                    getattr(c, kind)(*args)
                self.assertEqual(c.analyse(EVENTS), expected)


if __name__ == "__main__":
    unittest.main()
