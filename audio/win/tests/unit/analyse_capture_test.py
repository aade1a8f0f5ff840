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


class AnalyseCaptureTest(unittest.TestCase):
    def test_a_clean_run_passes(self):
        c = Capture()
        c.silence(0.2); c.tone(1.0, 0.5); c.silence(0.3)
        self.assertEqual(c.analyse(EVENTS), 0)

    def test_a_short_underrun_is_cut_out_and_passes(self):
        c = Capture()
        c.silence(0.2); c.tone(0.5, 0.5); c.silence(0.005); c.tone(0.5, 0.5); c.silence(0.3)
        self.assertEqual(c.analyse(EVENTS), 0)

    def test_an_underrun_that_makes_the_sound_late_may_be_repeated(self):
        c = Capture()
        c.silence(0.2); c.tone(0.5, 0.5); c.silence(0.1); c.tone(0.5, 0.5); c.silence(0.3)
        self.assertEqual(c.analyse(EVENTS), 3)

    def test_lost_sound_fails_at_once(self):
        c = Capture()
        c.silence(0.2); c.tone(0.5, 0.5); c.lose(0.003); c.tone(0.5, 0.5); c.silence(0.3)
        self.assertEqual(c.analyse(EVENTS), 1)

    def test_sound_lost_right_after_an_underrun_may_be_repeated(self):
        c = Capture()
        c.silence(0.2); c.tone(0.5, 0.5); c.silence(0.02); c.tone(0.1, 0.5); c.lose(0.003)
        c.tone(0.4, 0.5); c.silence(0.3)
        self.assertEqual(c.analyse(EVENTS), 3)

    def test_sound_lost_far_from_an_underrun_fails_at_once(self):
        c = Capture()
        c.silence(0.2); c.tone(0.2, 0.5); c.silence(0.02); c.tone(0.5, 0.5); c.lose(0.003)
        c.tone(0.3, 0.5); c.silence(0.3)
        self.assertEqual(c.analyse(EVENTS), 1)

    def test_a_wrong_level_fails_at_once_even_after_an_underrun(self):
        c = Capture()
        c.silence(0.2); c.tone(0.5, 0.45); c.silence(0.1); c.tone(0.5, 0.45); c.silence(0.3)
        self.assertEqual(c.analyse(EVENTS), 1)

    def test_a_late_stop_without_an_underrun_fails_at_once(self):
        c = Capture()
        c.silence(0.2); c.tone(1.1, 0.5); c.silence(0.2)
        self.assertEqual(c.analyse(EVENTS), 1)


if __name__ == "__main__":
    unittest.main()
