"""Where the real windows stand under Xvfb, with a real window manager (openbox) and without
one: three runs in a row, each preview centred on the screen and wholly on it, and the main
window wholly on the screen again after "< Back".

PANTRIMO_SCREEN=WIDTHxHEIGHT picks the screen (1024x768 if unset); PANTRIMO_SHOTS=FOLDER keeps
a screenshot of every preview and of the main window after each "< Back" there."""

import os
import shutil
import subprocess
import sys
import time
import unittest

from Xlib import X

from xsession import ProgramRun, XServer, wait_until

EXECUTABLE = sys.argv.pop(1)
MAIN = (888, 568)
PREVIEW = (656, 661)
LOAD_SAMPLE = (664, 55)
START = (444, 21)
BACK = (164, 603)
RUNS = 3
SCREEN = tuple(int(v) for v in os.environ.get("PANTRIMO_SCREEN", "1024x768").split("x"))
SHOTS = os.environ.get("PANTRIMO_SHOTS")
# How far from the exact centre a window may stand: rounding of odd sizes.
CENTRE_SLACK = 2
# Under a window manager the frame's height is known only once the manager has framed the
# window, so a first showing may stand up to half a title bar off the vertical centre; it
# must still be wholly on the screen.
FRAME_SLACK = 12


class Desktop(XServer):
    """The X server, with client windows found below a window manager's frames too."""

    def _clients(self, win, depth=0):
        try:
            children = win.query_tree().children
        except Exception:
            return
        for child in children:
            yield child
            if depth < 3:
                yield from self._clients(child, depth + 1)

    def windows(self, title, mapped_only=True):
        found = []
        for win in self._clients(self.display.screen().root):
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

    def outer_rect(self, win):
        """The window with its frame, in screen coordinates: left, top, width, height."""
        geom = win.get_geometry()
        at = win.translate_coords(self.display.screen().root, 0, 0)
        left = top = right = bottom = 0
        extents = win.get_full_property(self.display.intern_atom("_NET_FRAME_EXTENTS"), X.AnyPropertyType)
        if extents and len(extents.value) == 4:
            left, right, top, bottom = extents.value
        return (-at.x - left, -at.y - top, geom.width + left + right, geom.height + top + bottom)

    def settled_rect(self, win, timeout=30.0):
        """The outer rectangle once it has stopped changing (the manager has framed and placed it)."""
        deadline = time.monotonic() + timeout
        last, since = None, time.monotonic()
        while time.monotonic() < deadline:
            rect = self.outer_rect(win) if self.is_mapped(win) else None
            if rect != last:
                last, since = rect, time.monotonic()
            elif rect is not None and time.monotonic() - since >= 0.5:
                return rect
            time.sleep(0.05)
        raise TimeoutError(f"the window did not settle: {last}")

    def placed_rect(self, win, wanted, timeout=30.0):
        """The settled rectangle once it is what the test wants, or the last one seen at the deadline."""
        deadline = time.monotonic() + timeout
        rect = self.settled_rect(win, timeout)
        while not wanted(rect) and time.monotonic() < deadline:
            time.sleep(0.1)
            rect = self.settled_rect(win, timeout)
        return rect


def on_screen(rect):
    left, top, width, height = rect
    return left >= 0 and top >= 0 and left + width <= SCREEN[0] and top + height <= SCREEN[1]


def centred(rect, vertical_slack=CENTRE_SLACK):
    left, top, width, height = rect
    return (abs(left + width / 2 - SCREEN[0] / 2) <= CENTRE_SLACK
            and abs(top + height / 2 - SCREEN[1] / 2) <= vertical_slack)


class Placement(unittest.TestCase):
    def check_placement(self, manager):
        x = Desktop(*SCREEN)
        wm = None
        run = ProgramRun(EXECUTABLE, x)
        try:
            if manager:
                wm = subprocess.Popen([manager, "--sm-disable"], env=dict(os.environ, DISPLAY=x.name),
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                check = x.display.intern_atom("_NET_SUPPORTING_WM_CHECK")
                self.assertTrue(wait_until(lambda: x.display.screen().root.get_full_property(check, X.AnyPropertyType)),
                                "the window manager did not start")
            proc = run.start()
            main = x.wait_for_window("Pantrimo", MAIN, proc=proc)
            x.settled_rect(main)
            x.click(main, *LOAD_SAMPLE)
            screen = (0, 0) + SCREEN
            name = f"{manager or 'nowm'}-{SCREEN[0]}x{SCREEN[1]}"
            for number in range(1, RUNS + 1):
                x.click(main, *START)
                preview = x.wait_for_window("Pantrimo", PREVIEW, proc=proc)
                self.assertTrue(wait_until(lambda: not x.is_mapped(main)), "the main window did not hide")
                # A busy machine may frame and place the window in more than one step: wait for the
                # rectangle the test needs, then check the last one seen.
                slack = CENTRE_SLACK + (FRAME_SLACK if manager else 0)
                left, top, width, height = x.placed_rect(preview, lambda r: on_screen(r) and centred(r, slack))
                self.assertTrue(left >= 0 and top >= 0 and left + width <= SCREEN[0] and top + height <= SCREEN[1],
                                f"run {number}: the preview at {left},{top} {width}x{height} is not wholly on {screen}")
                self.assertLessEqual(abs(left + width / 2 - SCREEN[0] / 2), CENTRE_SLACK, f"run {number}: {left},{top}")
                self.assertLessEqual(abs(top + height / 2 - SCREEN[1] / 2), slack, f"run {number}: {left},{top}")
                if SHOTS:
                    x.screenshot(os.path.join(SHOTS, f"preview-{name}-run{number}.png"))

                x.click(preview, *BACK)
                self.assertTrue(wait_until(lambda: x.is_mapped(main)), "the main window did not come back")
                left, top, width, height = x.placed_rect(main, on_screen)
                self.assertTrue(left >= 0 and top >= 0 and left + width <= SCREEN[0] and top + height <= SCREEN[1],
                                f"run {number}: the main window at {left},{top} {width}x{height} is not wholly on {screen}")
                if SHOTS:
                    x.screenshot(os.path.join(SHOTS, f"main-after-back-{name}-run{number}.png"))
            x.ask_to_close(main)
            self.assertEqual(run.wait(), 0, run.output())
        finally:
            run.cleanup()
            if wm:
                wm.terminate()
                wm.wait(timeout=10)
            x.close()

    def test_without_a_window_manager(self):
        self.check_placement(None)

    @unittest.skipUnless(shutil.which("openbox"), "needs openbox (tools/install-deps.sh)")
    def test_under_openbox(self):
        self.check_placement("openbox")


if __name__ == "__main__":
    unittest.main(verbosity=2)
