#!/usr/bin/env python3
"""Records the null sink's monitor with parec into a raw s16le stereo file,
and times the recording against the system clock.

    capture.py OUT.raw

Writes OUT.raw.ready once sound data flows, and on SIGTERM stops its parec
and writes OUT.raw.t0: the Unix time of the first captured frame. A chunk
arrives after it was captured, so its arrival time minus the frames before
it bounds that start from above; the smallest bound over all chunks is kept.
The null sink renders a few milliseconds ahead of its clock (its latency,
which a short parec latency keeps short), so times derived from t0 are good
to about that much.
"""
import signal
import subprocess
import sys
import time

from capture_analysis import RATE, parec_command  # tests/support, on PYTHONPATH

FRAME_BYTES = 4


def main():
    out_path = sys.argv[1]
    parec = subprocess.Popen(parec_command(latency_ms=5, process_ms=5), stdout=subprocess.PIPE, bufsize=0)
    stopping = False

    def stop(signum, frame):
        nonlocal stopping
        stopping = True
        parec.terminate()

    signal.signal(signal.SIGTERM, stop)
    t0 = float("inf")
    frames = 0
    with open(out_path, "wb") as out:
        ready = False
        while True:
            chunk = parec.stdout.read(4096)
            arrived = time.time()
            if not chunk:
                break
            out.write(chunk)
            frames += len(chunk) // FRAME_BYTES
            t0 = min(t0, arrived - (frames - 1) / RATE)
            if not ready:
                open(out_path + ".ready", "w").close()
                ready = True
    parec.wait()
    with open(out_path + ".t0", "w") as f:
        f.write(f"{t0:.6f}\n")
    return 0 if stopping else 1


if __name__ == "__main__":
    sys.exit(main())
