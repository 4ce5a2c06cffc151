"""Start-up time of the real program: from exec to its main window shown under Xvfb.

usage: /usr/bin/python3 bench/startup/startup_time.py BUILD/app/pantrimo [RUNS]

Prints each run and the median. A benchmark, not a test: it asserts nothing."""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))
from xsession import ProgramRun, XServer  # noqa: E402


def main():
    executable = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    x = XServer()
    times = []
    try:
        for _ in range(runs):
            run = ProgramRun(executable, x)
            try:
                run.write_settings({0: "Turkey;Haddock", 14: "Paper Towels;Tissues"})
                started = time.perf_counter()
                proc = run.start()
                win = x.wait_for_window("Pantrimo", (888, 568), proc=proc, timeout=30)
                times.append((time.perf_counter() - started) * 1000)
                x.ask_to_close(win)
                run.wait()
            finally:
                run.cleanup()
    finally:
        x.close()
    for t in times:
        print(f"  {t:7.1f} ms")
    print(f"median start-up to a shown window over {len(times)} runs: {statistics.median(times):.1f} ms")


if __name__ == "__main__":
    main()
