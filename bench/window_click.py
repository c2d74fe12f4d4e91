#!/usr/bin/env python3
"""Run Tasks Now clicked in the program's real window, timed from the click to the source
folder's last change (the folder empty), as a user would see it.

    window_click.py DISPLAY WINDOW_ID SOURCE_FOLDER EXPECTED_MOVES DEST_FOLDER

Prints the seconds. The pointer is put on the button first; the click itself (one xdotool
call) is inside the time. Waits for the whole pass to be written before it returns: the
destination holds every file and the folder has been quiet for a moment."""
import os
import subprocess
import sys
import time

display, window, src, expected, dst = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
env = dict(os.environ, DISPLAY=display)
# Run Tasks Now: 420, 41, 93 x 26 in the main window.
subprocess.run(["xdotool", "mousemove", "--window", window, "466", "54"], env=env, check=True)
time.sleep(0.2)
t0 = time.monotonic()
subprocess.run(["xdotool", "click", "1"], env=env, check=True)
deadline = t0 + 600
while time.monotonic() < deadline:
    with os.scandir(src) as entries:
        if next(entries, None) is None:
            break
    time.sleep(0.002)
t1 = time.monotonic()
while time.monotonic() < deadline and len(os.listdir(dst)) < expected:
    time.sleep(0.05)
time.sleep(1.0)  # the history and the balloon after the last move, outside the time
print(f"{t1 - t0:.6f}")
