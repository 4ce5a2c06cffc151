"""Peak resident size of the real program with the full list (15 categories of 20 items)
generated and zoomed to 400 %, under a private Xvfb, through real clicks.

    /usr/bin/python3 bench/preview/peak_rss_zoom400.py build-rel/app/pantrimo [builtin|libreoffice] [shot.png]

Prints the peak resident size (VmHWM from /proc) after the twelfth Zoom In, in MB, and
saves a screenshot of the screen then when a file name is given."""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
from xsession import ProgramRun, XServer  # noqa: E402

MAIN = (888, 568)
PREVIEW = (656, 661)
START = (444, 21)
ZOOM_IN = (172, 557)
CATEGORIES, ITEMS = 15, 20


def vm_kb(pid, field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def main():
    executable = sys.argv[1]
    server = sys.argv[2] if len(sys.argv) > 2 else "builtin"
    shot = sys.argv[3] if len(sys.argv) > 3 else None
    x = XServer()
    run = ProgramRun(executable, x, server=server)
    try:
        # The stored lists the main window loads at start.
        run.write_settings({c: ";".join(f"Grocery item {k + 1} of list {c + 1}" for k in range(ITEMS))
                            for c in range(CATEGORIES)})
        proc = run.start()
        main_window = x.wait_for_window("Pantrimo", MAIN, proc=proc)
        x.click(main_window, *START)
        preview = x.wait_for_window("Pantrimo", PREVIEW, timeout=120, proc=proc)
        time.sleep(1.0)
        for _ in range(12):
            x.click(preview, *ZOOM_IN)
            time.sleep(0.3)
        time.sleep(1.0)
        peak, now = vm_kb(proc.pid, "VmHWM"), vm_kb(proc.pid, "VmRSS")
        if shot:
            x.screenshot(shot)
        print(f"peak resident {peak / 1024:.1f} MB, resident now {now / 1024:.1f} MB ({server} server, 400 %)")
    finally:
        run.cleanup()
        x.close()


if __name__ == "__main__":
    main()
