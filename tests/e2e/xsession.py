"""A private X server and the window-manager moves the end-to-end tests need.

Runs under /usr/bin/python3 (Debian's python3-xlib)."""

import os
import shutil
import subprocess
import tempfile
import time

from Xlib import X, display, protocol
from Xlib.ext import xtest


class XServer:
    def __init__(self, width=1280, height=1024):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.name = ":" + number.decode().strip()
        self.display = display.Display(self.name)

    def close(self):
        self.display.close()
        self.proc.terminate()
        self.proc.wait(timeout=10)

    def _title(self, win):
        try:
            name = win.get_full_property(self.display.intern_atom("_NET_WM_NAME"),
                                         self.display.intern_atom("UTF8_STRING"))
            if name:
                return name.value.decode("utf-8", "replace")
            return win.get_wm_name() or ""
        except Exception:
            return ""

    def windows(self, title, mapped_only=True):
        """Top-level windows with that title, as (window, width, height)."""
        found = []
        for win in self.display.screen().root.query_tree().children:
            try:
                attrs = win.get_attributes()
                geom = win.get_geometry()
            except Exception:
                continue
            if mapped_only and attrs.map_state != X.IsViewable:
                continue
            if self._title(win) == title:
                found.append((win, geom.width, geom.height))
        return found

    def wait_for_window(self, title, size=None, timeout=30.0, proc=None):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for win, w, h in self.windows(title):
                if size is None or (w, h) == tuple(size):
                    return win
            if proc is not None and proc.poll() is not None:
                raise RuntimeError(f"program ended (exit {proc.returncode}) before window {title!r} appeared")
            time.sleep(0.02)
        raise TimeoutError(f"no window {title!r} of size {size} within {timeout}s")

    def has_focus(self, win):
        """True when the keyboard goes to that window or one inside it."""
        try:
            focus = self.display.get_input_focus().focus
            if focus == X.PointerRoot:  # keys go to the top-level window under the pointer
                focus = self.display.screen().root.query_pointer().child
            while focus and not isinstance(focus, int):
                if focus.id == win.id:
                    return True
                parent = focus.query_tree().parent
                if not parent or parent.id == focus.id:
                    return False
                focus = parent
        except Exception:
            pass
        return False

    def wait_for_focus(self, win, timeout=30.0, proc=None):
        """Waits until keys typed now reach that window: a window shown is not yet focused,
        and keys sent before its focus arrives go to the window that had it."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.has_focus(win):
                return win
            if proc is not None and proc.poll() is not None:
                raise RuntimeError(f"program ended (exit {proc.returncode}) before the window had the focus")
            time.sleep(0.02)
        raise TimeoutError(f"the window {win.id:#x} did not get the focus within {timeout}s")

    def ask_to_close(self, win):
        """What a window manager does for the close box: WM_DELETE_WINDOW."""
        wm_protocols = self.display.intern_atom("WM_PROTOCOLS")
        wm_delete = self.display.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=win, client_type=wm_protocols,
                                             data=(32, [wm_delete, X.CurrentTime, 0, 0, 0]))
        win.send_event(event, event_mask=X.NoEventMask)
        self.display.flush()

    def click(self, win, x, y, button=1):
        """A real pointer click at (x, y) inside the window, through the XTEST extension."""
        origin = win.translate_coords(self.display.screen().root, 0, 0)
        rx, ry = -origin.x + x, -origin.y + y
        xtest.fake_input(self.display, X.MotionNotify, x=rx, y=ry)
        self.display.sync()
        time.sleep(0.05)
        xtest.fake_input(self.display, X.ButtonPress, button)
        self.display.sync()
        time.sleep(0.02)
        xtest.fake_input(self.display, X.ButtonRelease, button)
        self.display.sync()

    def drag(self, win, start, end, steps=10):
        origin = win.translate_coords(self.display.screen().root, 0, 0)
        sx, sy = -origin.x + start[0], -origin.y + start[1]
        ex, ey = -origin.x + end[0], -origin.y + end[1]
        xtest.fake_input(self.display, X.MotionNotify, x=sx, y=sy)
        xtest.fake_input(self.display, X.ButtonPress, 1)
        self.display.sync()
        for i in range(1, steps + 1):
            time.sleep(0.02)
            xtest.fake_input(self.display, X.MotionNotify, x=sx + (ex - sx) * i // steps, y=sy + (ey - sy) * i // steps)
            self.display.sync()
        xtest.fake_input(self.display, X.ButtonRelease, 1)
        self.display.sync()

    def type_text(self, text):
        """Keys for plain ASCII text and Return, through XTEST."""
        from Xlib import XK
        for ch in text:
            name = {"\n": "Return", " ": "space", ".": "period", "/": "slash", "-": "minus", "_": "underscore"}.get(ch, ch)
            keysym = XK.string_to_keysym(name)
            keycode = self.display.keysym_to_keycode(keysym)
            shift = ch.isupper() or ch == "_"
            if shift:
                xtest.fake_input(self.display, X.KeyPress, self.display.keysym_to_keycode(XK.XK_Shift_L))
            xtest.fake_input(self.display, X.KeyPress, keycode)
            xtest.fake_input(self.display, X.KeyRelease, keycode)
            if shift:
                xtest.fake_input(self.display, X.KeyRelease, self.display.keysym_to_keycode(XK.XK_Shift_L))
            self.display.sync()
            time.sleep(0.01)

    def is_mapped(self, win):
        try:
            return win.get_attributes().map_state == X.IsViewable
        except Exception:
            return False

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.name, "-window", "root", path], check=True)


def wait_until(condition, timeout=30.0):
    """True once condition() holds; False when the timeout passes first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def run_files(temp, pattern="*"):
    """The files in the runs' own folders (pantrimo-run-*) inside a temporary folder."""
    import glob
    return sorted(glob.glob(os.path.join(temp, "pantrimo-run-*", pattern)))


class ProgramRun:
    """The real executable with a fresh config folder and temporary folder."""

    def __init__(self, executable, xserver, server="builtin", extra_env=None):
        self.root = tempfile.mkdtemp(prefix="pantrimo-e2e-")
        self.config = os.path.join(self.root, "config")
        self.temp = os.path.join(self.root, "temp")
        os.makedirs(self.config)
        os.makedirs(self.temp)
        self.executable = executable
        self.env = dict(os.environ, DISPLAY=xserver.name, XDG_CONFIG_HOME=self.config, TEMP=self.temp,
                        PANTRIMO_EXCEL=server, QT_QPA_PLATFORM="xcb")
        self.env.update(extra_env or {})
        self.proc = None

    @property
    def settings_file(self):
        return os.path.join(self.config, "Quillmark.ini")

    def write_settings(self, lists):
        with open(self.settings_file, "w", encoding="utf-8") as f:
            f.write("[Pantrimo]\n")
            for i, value in lists.items():
                f.write(f'List{i}="{value}"\n')

    def start(self):
        self.proc = subprocess.Popen([self.executable], env=self.env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        return self.proc

    def wait(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def output(self):
        return self.proc.stdout.read().decode("utf-8", "replace") if self.proc.stdout else ""

    def stored_lists(self):
        import configparser
        parser = configparser.ConfigParser(interpolation=None, delimiters=("=",), comment_prefixes=("#",))
        parser.optionxform = str
        parser.read(self.settings_file, encoding="utf-8")
        return {k: v.strip('"') for k, v in parser["Pantrimo"].items()} if "Pantrimo" in parser else {}

    def cleanup(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.proc and self.proc.stdout:
            self.proc.stdout.close()
        shutil.rmtree(self.root, ignore_errors=True)
