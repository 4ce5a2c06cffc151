"""Starts an installed Pantrimo the way a new user of the machine would, under a private
Xvfb: the main window must show; it is then closed as a window manager closes it, and the
program must end normally, leaving the fifteen lists stored in the user's own settings file.

    /usr/bin/python3 run_installed.py /usr/bin/pantrimo

Run it as that user, with the user's HOME; xsession.py (tests/e2e) must be importable."""

import configparser
import os
import subprocess
import sys

from xsession import XServer

MAIN_WINDOW_SIZE = (888, 568)


def stored_lists(path):
    parser = configparser.ConfigParser(interpolation=None, delimiters=("=",), comment_prefixes=("#",))
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return dict(parser["Pantrimo"]) if "Pantrimo" in parser else {}


def main(program):
    settings = os.path.join(os.path.expanduser("~"), ".config", "Quillmark.ini")
    if os.path.exists(settings):
        sys.exit(f"{settings} exists before the first start: the user is not a fresh one")
    x = XServer()
    # What a desktop session hands a program: no TEMP, no settings folder of our choosing.
    env = {k: v for k, v in os.environ.items() if k not in ("TEMP", "XDG_CONFIG_HOME", "PANTRIMO_EXCEL")}
    env.update(DISPLAY=x.name, QT_QPA_PLATFORM="xcb")
    proc = subprocess.Popen([program], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        win = x.wait_for_window("Pantrimo", MAIN_WINDOW_SIZE, timeout=60, proc=proc)
        print(f"main window shown: {MAIN_WINDOW_SIZE[0]}x{MAIN_WINDOW_SIZE[1]}")
        x.ask_to_close(win)
        code = proc.wait(timeout=30)
        output = proc.stdout.read().decode("utf-8", "replace")
        if output.strip():
            print("program output:\n" + output)
        if code != 0:
            sys.exit(f"{program} ended with exit status {code}")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        x.close()
    lists = stored_lists(settings)
    expected = {f"List{i}" for i in range(15)}
    if set(lists) != expected:
        sys.exit(f"{settings} holds {sorted(lists)}, not the fifteen lists")
    print(f"closed with exit status 0; {settings} holds List0 to List14")


if __name__ == "__main__":
    main(sys.argv[1])
