"""Shows the program working where there is no display to show it on: runs it
on the virtual display, plays the bundled samples through the real dialog,
and reports what the virtual sound sink heard. Screenshots go to OUTDIR.

    demo_app.py SoundTestApp.exe control_rects.exe SAMPLES_DIR OUTDIR
"""

import os
import sys
import time

import app_driver as drv


def say(text):
    print(text, flush=True)


def main():
    exe, rects, samples, outdir = sys.argv[1:5]
    os.makedirs(outdir, exist_ok=True)
    rec = drv.Recorder(os.path.join(outdir, "sink.raw"))
    rec.start()
    app = drv.AppSession(exe, rects)
    steps = []  # (label, start, end) in recording time

    def hold(label, seconds):
        start = rec.now()
        time.sleep(seconds)
        steps.append((label, start, rec.now()))

    try:
        if not app.wait_for_dialog():
            say("the dialog did not appear")
            return 1
        say("started the program: the dialog is up")
        app.screenshot(os.path.join(outdir, "1-dialog.png"))

        for name in ("chime.wav", "chime.mp3", "chime.ogg"):
            path = os.path.join(samples, name)
            app.open_chooser_from_menu()
            app.choose_file(path)
            say(f"File > Open File: chose {drv.windows_path(path)}")
            app.click(drv.IDC_PLAY)
            say("pressed Play (volume 60)")
            hold(f"{name} at volume 60", 0.8)
            if name == "chime.wav":
                app.screenshot(os.path.join(outdir, "2-playing.png"))
                app.set_volume(30)
                say("moved the volume trackbar to 30")
                hold(f"{name} at volume 30", 0.8)
                app.click(drv.IDC_PAUSE)
                say("pressed Pause")
                hold("paused", 0.6)
                app.click(drv.IDC_PLAY)
                say("pressed Play: resumes")
                hold(f"{name} resumed", 0.6)
                app.set_volume(60)
                say("moved the volume trackbar back to 60")
            app.click(drv.IDC_STOP)
            say("pressed Stop")
            hold("stopped", 0.5)

        app.screenshot(os.path.join(outdir, "3-after.png"))
        app.close()
        code = app.wait_exit(30)
        say(f"closed the window: the program exited with code {code}")
    finally:
        app.kill()
        recording = rec.stop()

    say("what the sound sink heard (RMS of full scale; the samples at volume 60 give about 0.09):")
    for label, start, end in steps:
        level = recording.rms(start + 0.25, end)
        say(f"  {label:24s} {level:.4f}  {'sound' if level > 0.005 else 'silence'}")
    say(f"screenshots: {outdir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
