#!/usr/bin/python3
"""Screenshots of both windows, with and without the skin, from the real program under a
private Xvfb display:

    /usr/bin/python3 tools/art/take_screenshots.py build/app/pantrimo docs

For each look the program is copied into a folder of its own, once with its optional
files (the skin and the hand pointer) beside it and once without. The sample list is
loaded, the main window photographed, a template generated and the preview photographed.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
from xsession import ProgramRun, XServer  # noqa: E402

MAIN = (888, 568)
PREVIEW = (656, 661)
LOAD_SAMPLE = (664, 55)
START = (444, 21)
OPTIONAL_FILES = ("HAND-M.CUR", os.path.join("x", "o.cjs"))


def photograph(x, win, path):
    subprocess.run(["import", "-display", x.name, "-window", str(win.id), path], check=True)


def take(executable, skinned, out_dir, suffix):
    folder = tempfile.mkdtemp(prefix="pantrimo-shot-")
    x = XServer()
    try:
        program = os.path.join(folder, "pantrimo")
        shutil.copy2(executable, program)
        if skinned:
            for name in OPTIONAL_FILES:
                os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
                shutil.copy2(os.path.join(os.path.dirname(executable), name), os.path.join(folder, name))
        run = ProgramRun(program, x)
        try:
            proc = run.start()
            main = x.wait_for_window("Pantrimo", MAIN, proc=proc)
            x.click(main, *LOAD_SAMPLE)
            x.click(main, 180, 300)  # the background between two frames: no button shows as hovered
            time.sleep(0.8)
            photograph(x, main, os.path.join(out_dir, f"main-window{suffix}.png"))
            x.click(main, *START)
            preview = x.wait_for_window("Pantrimo", PREVIEW, proc=proc, timeout=60)
            time.sleep(1.0)
            photograph(x, preview, os.path.join(out_dir, f"preview-window{suffix}.png"))
            x.ask_to_close(preview)
            run.wait()
        finally:
            run.cleanup()
    finally:
        x.close()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: take_screenshots.py PATH/TO/pantrimo OUTPUT_FOLDER")
    executable, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    take(executable, True, out_dir, "")
    take(executable, False, out_dir, "-plain")


if __name__ == "__main__":
    main()
