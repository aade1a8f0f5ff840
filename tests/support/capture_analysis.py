"""One way to measure a recording of the null sink, for every test and tool
that listens to it: reading captures, level, pitch, breaks in a sine, sound
server underruns, dropouts, and writing the tones the tests play.

Captures are s16le stereo at RATE, as parec writes them; levels are
fractions of full scale.
"""
import array
import math
import sys
import wave

RATE = 44100
FULL_SCALE = 32768.0
# The shortest run of exact zeros on both channels taken for an underrun: a
# tone at any level the tests use never holds 0 for two samples in a row.
MIN_UNDERRUN = 16
# How far from an underrun a lost piece is put down to it.
AROUND_UNDERRUN = RATE // 4
# The exit code of a check whose only failures lie next to an underrun in
# the sound server: the run may be repeated.
UNDERRUN_EXIT = 3


def parec_command(latency_ms, process_ms=None):
    """parec recording the null sink's monitor as a raw capture to stdout."""
    command = ["parec", "-d", "out.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
               "--channels=2", f"--latency-msec={latency_ms}"]
    if process_ms is not None:
        command.append(f"--process-time-msec={process_ms}")
    return command


def read_capture(path):
    """The interleaved samples of a raw capture, whole frames only."""
    samples = array.array("h")
    with open(path, "rb") as f:
        raw = f.read()
    samples.frombytes(raw[: len(raw) // 4 * 4])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def rms(x, a, b):
    """RMS of x[a:b]."""
    return math.sqrt(sum(v * v for v in x[a:b]) / max(1, b - a)) / FULL_SCALE


def rising_crossings(x, a, b):
    """(first, last, count): the interpolated rising zero crossings in x[a:b]."""
    first = last = None
    count = 0
    for i in range(max(a, 0) + 1, min(b, len(x))):
        p, q = x[i - 1], x[i]
        if p < 0 <= q:
            at = i - 1 + (-p) / (q - p)
            first = at if first is None else first
            last = at
            count += 1
    return first, last, count


def mean_pitch(x, a, b, min_crossings=2):
    """(Hz, centre): the mean pitch between the first and last rising zero
    crossings in x[a:b], and the index halfway between them; for a tone
    rising at a steady rate that is the pitch at that index. (0, a) with
    fewer than min_crossings."""
    first, last, count = rising_crossings(x, a, b)
    if count < min_crossings or last == first:
        return 0.0, a
    return (count - 1) * RATE / (last - first), (first + last) / 2


def frequency(x, a, b):
    """Hz from the interpolated rising zero crossings in x[a:b]."""
    return mean_pitch(x, a, b)[0]


def median_frequency(x):
    """Pitch of a clean tone from the median distance between rising zero
    crossings, so a short dropout does not bend it."""
    crossings = []
    for i in range(1, len(x)):
        if x[i - 1] < 0 <= x[i]:
            crossings.append(i - 1 + x[i - 1] / (x[i - 1] - x[i]))
    periods = sorted(b - a for a, b in zip(crossings, crossings[1:]))
    if len(periods) < 3:
        return 0.0
    return RATE / periods[len(periods) // 2]


def max_residual(x, a, b, freq, excused=()):
    """Largest |x[n-1] + x[n+1] - 2cos(w)x[n]| (near 0 for an unbroken sine)
    and where, outside the excused (start, end) ranges; then the same
    within them."""
    k = 2.0 * math.cos(2.0 * math.pi * freq / RATE)
    worst = [[0.0, a], [0.0, a]]
    for i in range(a + 1, b - 1):
        r = abs(x[i - 1] + x[i + 1] - k * x[i])
        slot = worst[1 if any(s <= i < e for s, e in excused) else 0]
        if r > slot[0]:
            slot[0], slot[1] = r, i
    return worst[0][0] / FULL_SCALE, worst[0][1], worst[1][0] / FULL_SCALE, worst[1][1]


def splice_underruns(left, right, a, b, freq):
    """left[a:b] and right[a:b] with every run of at least MIN_UNDERRUN
    exact zeros on both channels cut out, and the cuts as (index in the
    result, samples cut). A zero of the tone itself may border the run:
    one zero is kept where the tone runs on more smoothly with it."""
    k = 2.0 * math.cos(2.0 * math.pi * freq / RATE)
    out_left, out_right = array.array("h"), array.array("h")
    cuts = []
    i = a
    while i < b:
        j = i
        while j < b and left[j] == 0 and right[j] == 0:
            j += 1
        if j - i >= MIN_UNDERRUN and len(out_left) >= 2 and j + 1 < b:
            before, after = out_left[-1], left[j]
            joined = max(abs(out_left[-2] + after - k * before), abs(before + left[j + 1] - k * after))
            keep = 1 if abs(before + after) < joined else 0
            out_left.extend([0] * keep)
            out_right.extend([0] * keep)
            cuts.append((len(out_left), j - i - keep))
        else:
            out_left.extend(left[i:j])
            out_right.extend(right[i:j])
        m = j
        while m < b and not (left[m] == 0 and right[m] == 0):
            m += 1
        out_left.extend(left[j:m])
        out_right.extend(right[j:m])
        i = m
    return out_left, out_right, cuts


def around_underruns(cuts):
    """The ranges of a spliced signal that an underrun may have disturbed:
    the client's catching up after it can cost sound as well."""
    return [(max(0, at - AROUND_UNDERRUN), at + AROUND_UNDERRUN) for at, _ in cuts]


class Recording:
    """Interleaved stereo samples measured by the second: level, pitch,
    where sound starts and stops, dropouts."""

    def __init__(self, samples):
        self.samples = samples

    def duration(self):
        return len(self.samples) / 2 / RATE

    def channel(self, ch, start, end):
        a = max(0, int(start * RATE)) * 2
        b = min(len(self.samples) // 2, int(end * RATE)) * 2
        return self.samples[a + ch:b:2]

    def rms(self, start, end):
        """RMS of the left channel over [start, end) seconds."""
        seg = self.channel(0, start, end)
        return rms(seg, 0, len(seg))

    def channel_rms(self, start, end):
        return [rms(seg, 0, len(seg)) for seg in (self.channel(ch, start, end) for ch in (0, 1))]

    def frequency(self, start, end):
        """Pitch of the left channel over [start, end) (median_frequency)."""
        return median_frequency(self.channel(0, start, end))

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

    def dropouts(self, start, end, level, window=0.01):
        """How many windows of [start, end) fall below half the steady level:
        gaps where the program did not hand the device its sound in time."""
        count, t = 0, start
        while t + window <= end:
            if self.rms(t, t + window) < 0.5 * level:
                count += 1
            t += window
        return count


def write_wav(path, samples, rate=RATE):
    """Interleaved stereo 16-bit samples as a WAV file."""
    frames = array.array("h", samples)
    if sys.byteorder != "little":
        frames.byteswap()
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames.tobytes())


def tone_samples(phases, amplitude):
    """Interleaved stereo 16-bit samples of sin(phase) at the amplitude,
    the same on both channels."""
    out = array.array("h")
    for phase in phases:
        v = int(round(amplitude * 32767 * math.sin(phase)))
        out.append(v)
        out.append(v)
    return out


def write_rising_tone(path, seconds, amplitude, base, rise):
    """A tone at base + rise * t Hz: its pitch tells the position."""
    phases = (2 * math.pi * (base * t + rise * t * t / 2) for t in (i / RATE for i in range(int(seconds * RATE))))
    write_wav(path, tone_samples(phases, amplitude))


def write_stepped_tone(path, seconds, amplitude=0.5, base=400.0, step=40.0, rate=RATE):
    """A WAV whose pitch tells the position: second k plays base + step*k Hz,
    phase-continuous, at the given amplitude."""
    def phases():
        phase = 0.0
        for i in range(int(seconds * rate)):
            phase += 2 * math.pi * (base + step * int(i / rate)) / rate
            yield phase
    write_wav(path, tone_samples(phases(), amplitude), rate)


def stepped_position(freq, base=400.0, step=40.0):
    """Which second of a stepped tone a measured pitch belongs to."""
    return round((freq - base) / step)
