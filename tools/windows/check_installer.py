#!/usr/bin/python3
"""The Windows installer under Wine, from install to uninstall, in a fresh Wine prefix:

    /usr/bin/python3 tools/windows/check_installer.py build-windows/pantrimo-0.1-setup.exe [--shots DIR]

1. Installs silently (/S): the program folder under Program Files with the program, its
   optional files and DLLs, the Start-menu entry, the uninstall key with its values.
2. Starts the installed program on a private Xvfb display: the main window (client area
   888 x 568) loads the sample list and makes its preview; back, then closed, the lists
   are in the registry. With --shots, photographs both windows there.
3. Stores fifteen lists of twenty items in the registry, starts the program and makes the
   preview of them (timed), then makes the PDF and the workbook from the command line
   (timed): one Letter page with every item; the workbook read back item for item by xlrd
   and, where it is installed, LibreOffice.
4. Uninstalls silently: no file, Start-menu entry or uninstall key is left.

Runs under Debian's /usr/bin/python3 (python3-xlib, python3-xlrd); needs wine, Xvfb,
ImageMagick's import (for --shots) and poppler-utils."""

import argparse
import codecs
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tests", "workbook"))
from xsession import XServer  # noqa: E402
import check_filled  # noqa: E402

WINE_RUN = os.path.join(HERE, "wine-run.sh")
PROGRAM_DIR = r"C:\Program Files\Pantrimo"
PROGRAM = PROGRAM_DIR + r"\pantrimo.exe"
UNINSTALL_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pantrimo"
SETTINGS_KEY = r"HKEY_CURRENT_USER\Software\Quillmark\Pantrimo"
MAIN = (888, 568)
PREVIEW = (656, 626)
LOAD_SAMPLE = (664, 55)
START = (444, 21)
BACK = (164, 603)
INSTALLED_FILES = ["pantrimo.exe", "HAND-M.CUR", os.path.join("x", "o.cjs"), "uninstall.exe", "Qt6Core.dll",
                   "Qt6Gui.dll", "Qt6Widgets.dll", "Qt6PrintSupport.dll", os.path.join("platforms", "qwindows.dll"),
                   os.path.join("styles", "qwindowsvistastyle.dll"), os.path.join("imageformats", "qico.dll"),
                   "libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"]


def sample_lists():
    """The sample list as the program's Sample command loads it, from its source."""
    with open(os.path.join(ROOT, "platform", "facts", "SampleList.h"), encoding="utf-8") as f:
        source = f.read()
    lists = [[] for _ in range(15)]
    for category, text in re.findall(r'\{\d+, (\d+), "([^"]*)"\}', source):
        lists[int(category)].append(text)
    return lists


def full_lists():
    """Fifteen categories of twenty items each, a few of them beyond ASCII."""
    return [[f"Crème {i + 1}.{k + 1:02d}" if k == 19 else f"Item {i + 1}.{k + 1:02d}" for k in range(20)]
            for i in range(15)]


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


class WinePrefix:
    def __init__(self, x):
        self.root = tempfile.mkdtemp(prefix="pantrimo-installer-")
        self.prefix = os.path.join(self.root, "prefix")
        self.x = x
        self.env = dict(os.environ, PANTRIMO_WINE_DISPLAY=x.name, LC_ALL="C.UTF-8")

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def program_folder(self):
        return self.drive_c("Program Files", "Pantrimo")

    def start_menu_entry(self):
        return self.drive_c("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "Pantrimo.lnk")

    def command(self, *args):
        return [WINE_RUN, "--prefix", self.prefix, *args]

    def run(self, *args, timeout=300, env=None):
        return subprocess.run(self.command(*args), env=dict(self.env, **(env or {})), capture_output=True, text=True,
                              timeout=timeout)

    def start(self, *args):
        return subprocess.Popen(self.command(*args), env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def wait_idle(self):
        """Until every process of the prefix has ended (the uninstaller runs on from a copy)."""
        subprocess.run(["wineserver", "-w"], env=dict(self.env, WINEPREFIX=self.prefix), timeout=300, check=True)

    def unix_to_windows(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def export_key(self, key):
        """The values of a registry key as a dict, or None when it does not exist."""
        out = os.path.join(self.root, "export.reg")
        if os.path.exists(out):
            os.remove(out)
        self.run("regedit", "/E", self.unix_to_windows(out), key)
        if not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            data = f.read()
        text = data.decode("utf-16") if data.startswith(codecs.BOM_UTF16_LE) else data.decode("utf-8", "replace")
        values = {}
        for name, value in re.findall(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"\r?$', text, re.M):
            unescape = lambda s: re.sub(r"\\(.)", r"\1", s)  # noqa: E731
            values[unescape(name)] = unescape(value)
        return values

    def import_values(self, key, values):
        path = os.path.join(self.root, "import.reg")
        lines = ["Windows Registry Editor Version 5.00", "", f"[{key}]"]
        for name, value in values.items():
            escaped = value.replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{escaped}"')
        with open(path, "wb") as f:
            f.write(codecs.BOM_UTF16_LE + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
        run = self.run("regedit", "/S", self.unix_to_windows(path))
        expect(run.returncode == 0, f"regedit could not import the lists: {run.stdout}{run.stderr}")

    def cleanup(self):
        subprocess.run(["wineserver", "-k"], env=dict(self.env, WINEPREFIX=self.prefix), capture_output=True)
        shutil.rmtree(self.root, ignore_errors=True)


def photograph(x, win, path):
    subprocess.run(["import", "-display", x.name, "-window", str(win.id), path], check=True)


def wait_until(condition, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def step(message):
    print(f"installer check: {message}", flush=True)


def install(wp, setup):
    started = time.monotonic()
    run = wp.run(os.path.abspath(setup), "/S")
    expect(run.returncode == 0, f"the silent install failed ({run.returncode}): {run.stdout}{run.stderr}")
    step(f"installed silently in {time.monotonic() - started:.1f} s (with the prefix's first start)")
    for name in INSTALLED_FILES:
        expect(os.path.isfile(os.path.join(wp.program_folder(), name)), f"{name} is not in the program folder")
    expect(os.path.isfile(wp.start_menu_entry()), "no Start-menu entry")
    key = wp.export_key(UNINSTALL_KEY)
    expect(key is not None, "no uninstall key")
    want = {"DisplayName": "Pantrimo", "Publisher": "Quillmark", "UninstallString": f'"{PROGRAM_DIR}\\uninstall.exe"',
            "DisplayIcon": PROGRAM + ",0"}
    for name, value in want.items():
        expect(key.get(name) == value, f"uninstall key: {name} is {key.get(name)!r}, not {value!r}")
    expect(re.fullmatch(r"\d+\.\d+(\.\d+)?", key.get("DisplayVersion", "")), f"DisplayVersion {key.get('DisplayVersion')!r}")
    dlls = sorted(os.path.relpath(os.path.join(d, f), wp.program_folder())
                  for d, _, files in os.walk(wp.program_folder()) for f in files if f.lower().endswith(".dll"))
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(wp.program_folder()) for f in files)
    step(f"program folder: {len(dlls)} DLLs, {size / 1e6:.1f} MB: {', '.join(dlls)}")
    step("Start-menu entry and uninstall key: " + ", ".join(f"{k}={v}" for k, v in sorted(key.items())))


def first_start(wp, shots):
    """Sample list, preview, back, close: the lists land in the registry."""
    x = wp.x
    proc = wp.start(PROGRAM)
    try:
        started = time.monotonic()
        main = x.wait_for_window("Pantrimo", MAIN, timeout=120, proc=proc)
        step(f"main window shown, client area {MAIN[0]} x {MAIN[1]}, {time.monotonic() - started:.1f} s after the start")
        x.click(main, *LOAD_SAMPLE)
        time.sleep(0.5)
        x.click(main, 180, 300)  # the background between two frames: no button shows as hovered
        if shots:
            time.sleep(1.0)
            photograph(x, main, os.path.join(shots, "windows-main-window.png"))
        clicked = time.monotonic()
        x.click(main, *START)
        preview = x.wait_for_window("Pantrimo", PREVIEW, timeout=120, proc=proc)
        step(f"sample list: click to preview shown {time.monotonic() - clicked:.2f} s")
        expect(wait_until(lambda: not x.is_mapped(main)), "the main window did not hide")
        if shots:
            time.sleep(1.5)
            photograph(x, preview, os.path.join(shots, "windows-preview-window.png"))
        x.click(preview, *BACK)
        main = x.wait_for_window("Pantrimo", MAIN, timeout=60, proc=proc)
        x.ask_to_close(main)
        proc.wait(timeout=60)
        expect(proc.returncode == 0, f"the program ended with {proc.returncode}: {proc.stdout.read().decode()}")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    stored = wp.export_key(SETTINGS_KEY)
    expect(stored is not None, f"no lists in the registry under {SETTINGS_KEY}")
    want = {f"List{i}": ";".join(items) for i, items in enumerate(sample_lists())}
    for name, value in want.items():
        expect(stored.get(name) == value, f"registry {name} is {stored.get(name)!r}, not {value!r}")
    step(f"closed; the sample list is in the registry ({len(want)} values List0-List14)")


def full_run(wp):
    """Fifteen lists of twenty: preview from the window, PDF and workbook from the command line."""
    x = wp.x
    lists = full_lists()
    wp.import_values(SETTINGS_KEY, {f"List{i}": ";".join(items) for i, items in enumerate(lists)})
    proc = wp.start(PROGRAM)
    try:
        main = x.wait_for_window("Pantrimo", MAIN, timeout=120, proc=proc)
        time.sleep(0.5)
        clicked = time.monotonic()
        x.click(main, *START)
        preview = x.wait_for_window("Pantrimo", PREVIEW, timeout=120, proc=proc)
        step(f"15 x 20 items: click to preview shown {time.monotonic() - clicked:.2f} s")
        x.ask_to_close(preview)  # ends the program without storing the lists again
        proc.wait(timeout=60)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()

    out = os.path.join(wp.root, "out")
    os.makedirs(out)
    pdf, xls = os.path.join(out, "list.pdf"), os.path.join(out, "list.xls")
    started = time.monotonic()
    run = wp.run(PROGRAM, "--pdf", wp.unix_to_windows(pdf), "--xls", wp.unix_to_windows(xls), timeout=300)
    elapsed = time.monotonic() - started
    expect(run.returncode == 0, f"--pdf --xls failed ({run.returncode}): {run.stdout}{run.stderr}")
    step(f"15 x 20 items: pantrimo.exe --pdf --xls {elapsed:.2f} s (Wine's process start included)")

    info = subprocess.run(["pdfinfo", pdf], check=True, capture_output=True, text=True).stdout
    expect(re.search(r"^Pages:\s+1$", info, re.M), f"the PDF is not one page:\n{info}")
    expect(re.search(r"^Page size:\s+612 x 792 pts \(letter\)", info, re.M), f"the PDF's page is not Letter:\n{info}")
    text = subprocess.run(["pdftotext", "-layout", pdf, "-"], check=True, capture_output=True, text=True).stdout
    flat = re.sub(r"\s+", " ", text)
    missing = [item for items in lists for item in items if item not in flat]
    expect(not missing, f"{len(missing)} items are not in the PDF's text, e.g. {missing[:5]}")
    step("PDF: one Letter page, all 300 items in its text (pdfinfo, pdftotext)")

    expected = {}
    cells = list(check_filled.item_cells())
    for i, items in enumerate(lists):
        for k, item in enumerate(items):
            (nr, nc, _), (tr, tc, _) = cells[(i * 20 + k) * 2], cells[(i * 20 + k) * 2 + 1]
            expected[f"{nr},{nc}"] = k + 1
            expected[f"{tr},{tc}"] = item
    problems = check_filled.with_xlrd(xls, expected)
    expect(not problems, "the workbook read back by xlrd differs:\n" + "\n".join(problems[:20]))
    step("workbook: read back by xlrd item for item (300 numbers and 300 texts, captions and title)")
    if shutil.which("soffice") or shutil.which("libreoffice"):
        problems = check_filled.with_libreoffice(xls, expected)
        expect(not problems, "the workbook read back by LibreOffice differs:\n" + "\n".join(problems[:20]))
        step("workbook: read back by LibreOffice item for item")
    else:
        step("workbook: LibreOffice is not installed, not read back by it")
    return xls


def uninstall(wp):
    run = wp.run(PROGRAM_DIR + r"\uninstall.exe", "/S")
    expect(run.returncode == 0, f"the silent uninstall failed ({run.returncode}): {run.stdout}{run.stderr}")
    wp.wait_idle()
    expect(wait_until(lambda: not os.path.exists(wp.program_folder()), 60),
           f"left in the program folder: {os.listdir(wp.program_folder()) if os.path.exists(wp.program_folder()) else ''}")
    expect(not os.path.exists(wp.start_menu_entry()), "the Start-menu entry is left")
    expect(wp.export_key(UNINSTALL_KEY) is None, "the uninstall key is left")
    leftovers = []
    for d, dirs, files in os.walk(wp.drive_c()):
        for name in dirs + files:
            if "pantrimo" in name.lower() or name.lower().startswith("wendle"):
                leftovers.append(os.path.join(d, name))
    expect(not leftovers, f"left behind: {leftovers}")
    step("uninstalled silently: no program folder, Start-menu entry, uninstall key or run folder left "
         "(the lists stay in the user's registry)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("setup")
    parser.add_argument("--shots", help="a folder for the screenshots of both windows")
    parser.add_argument("--keep-xls", help="copy the 15 x 20-item workbook here")
    args = parser.parse_args()
    if args.shots:
        os.makedirs(args.shots, exist_ok=True)
    x = XServer()
    wp = WinePrefix(x)
    try:
        install(wp, args.setup)
        first_start(wp, args.shots)
        xls = full_run(wp)
        if args.keep_xls:
            shutil.copy2(xls, args.keep_xls)
        uninstall(wp)
    except (Failure, subprocess.TimeoutExpired, TimeoutError, RuntimeError) as e:
        print(f"installer check FAILED: {e}", file=sys.stderr)
        return 1
    finally:
        wp.cleanup()
        x.close()
    print("installer check: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
