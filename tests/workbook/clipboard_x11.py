"""The run's clipboard routines against another X client that owns the clipboard, under Xvfb:

- GetClipboardPicture asks again when the owner does not deliver the picture, and takes the
  one it delivers at last;
- what the clipboard held (in every format the owner offers) comes back after the capture;
- an owner that takes the clipboard after the capture keeps it.

Runs under /usr/bin/python3 (Debian's python3-xlib)."""

import os
import select
import subprocess
import sys
import threading
import time
import unittest

from Xlib import X, Xatom, display, protocol

from xsession import XServer

PROBE = sys.argv.pop(1)

# A 3 x 2 PNG.
PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d49484452000000030000000208020000001216f14d"
    "0000001049444154789c63f8cfc000410c70160041d205fb87f0b9480000000049"
    "454e44ae426082")


class Owner:
    """An X client that owns CLIPBOARD and answers requests from its own thread."""

    def __init__(self, xname, offers, refuse_first=0):
        self.d = display.Display(xname)
        self.offers = {self.d.intern_atom(name): data for name, data in offers.items()}
        self.targets = self.d.intern_atom("TARGETS")
        self.clipboard = self.d.intern_atom("CLIPBOARD")
        self.win = self.d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
        self.refuse_first = refuse_first
        self.requests = {}
        self.lost = threading.Event()
        self.stop = False
        self.retake = threading.Event()
        self.taken = threading.Event()
        self.win.set_selection_owner(self.clipboard, X.CurrentTime)
        self.d.sync()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def take(self, offers):
        """Copies something new: done by the serving thread, which alone talks to the server
        once it runs (Xlib's connection is not to be shared between threads)."""
        self.new_offers = offers
        self.taken.clear()
        self.retake.set()
        assert self.taken.wait(10)

    def owns(self):
        probe = display.Display(self.d.get_display_name())
        try:
            owner = probe.get_selection_owner(probe.intern_atom("CLIPBOARD"))
            return getattr(owner, "id", owner) == self.win.id
        finally:
            probe.close()

    def serve(self):
        while not self.stop:
            if self.retake.is_set():
                self.retake.clear()
                self.offers = {self.d.intern_atom(name): data for name, data in self.new_offers.items()}
                self.lost.clear()
                self.win.set_selection_owner(self.clipboard, X.CurrentTime)
                self.d.sync()
                self.taken.set()
            if not self.d.pending_events():
                time.sleep(0.002)
                continue
            e = self.d.next_event()
            if e.type == X.SelectionClear:
                self.lost.set()
            elif e.type == X.SelectionRequest:
                prop = e.property
                name = self.d.get_atom_name(e.target)
                self.requests[name] = self.requests.get(name, 0) + 1
                if e.target == self.targets:
                    e.requestor.change_property(prop, Xatom.ATOM, 32, [self.targets] + list(self.offers))
                elif e.target in self.offers and self.requests[name] > self.refuse_first:
                    e.requestor.change_property(prop, e.target, 8, self.offers[e.target])
                else:
                    prop = X.NONE
                reply = protocol.event.SelectionNotify(time=e.time, requestor=e.requestor, selection=e.selection,
                                                        target=e.target, property=prop)
                e.requestor.send_event(reply)
                self.d.flush()

    def close(self):
        self.stop = True
        self.thread.join(timeout=5)
        self.d.close()


def read_line(proc, timeout=60):
    """The probe's next line; a probe that hangs fails the test instead of stalling it."""
    ready, _, _ = select.select([proc.stdout], [], [], timeout)
    if not ready:
        proc.kill()
        raise TimeoutError("the probe printed nothing for %ds" % timeout)
    return proc.stdout.readline().strip()


def read_clipboard(xname, target):
    d = display.Display(xname)
    try:
        win = d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
        prop = d.intern_atom("PANTRIMO_TEST")
        win.convert_selection(d.intern_atom("CLIPBOARD"), d.intern_atom(target), prop, X.CurrentTime)
        d.flush()
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if not d.pending_events():
                time.sleep(0.01)
                continue
            e = d.next_event()
            if e.type == X.SelectionNotify:
                if e.property == X.NONE:
                    return None
                return win.get_full_property(prop, X.AnyPropertyType).value
        raise TimeoutError("no answer from the clipboard's owner")
    finally:
        d.close()


class ClipboardUnderX(unittest.TestCase):
    def setUp(self):
        self.x = XServer()
        self.env = dict(os.environ, DISPLAY=self.x.name, QT_QPA_PLATFORM="xcb")

    def tearDown(self):
        self.x.close()

    def test_a_picture_another_client_put_there_is_never_taken(self):
        # Another program's picture (or another copy of this program's) would show someone
        # else's list: without our copy's mark it is not even fetched.
        owner = Owner(self.x.name, {"image/png": PNG})
        try:
            out = subprocess.run([PROBE, "picture"], env=self.env, capture_output=True, text=True, timeout=120)
            self.assertEqual(out.stdout.strip(), "null", out.stderr)
            self.assertIsNone(owner.requests.get("image/png"))
        finally:
            owner.close()

    def keeper(self):
        return subprocess.Popen([PROBE, "keeper"], env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                text=True, bufsize=1)

    def test_what_the_clipboard_held_comes_back(self):
        text = "a shopping note \u2013 Cr\u00e8me".encode("utf-8")
        owner = Owner(self.x.name, {"UTF8_STRING": text, "text/html": b"<b>note</b>"})
        probe = self.keeper()
        try:
            self.assertEqual(read_line(probe), "captured")
            self.assertTrue(owner.lost.wait(10), "the capture did not take the clipboard")
            probe.stdin.write("go\n")
            probe.stdin.flush()
            self.assertEqual(read_line(probe), "restored")
            self.assertEqual(read_clipboard(self.x.name, "UTF8_STRING"), text)
            self.assertEqual(read_clipboard(self.x.name, "text/html"), b"<b>note</b>")
        finally:
            probe.stdin.close()
            probe.wait(timeout=30)
            probe.stdout.close()
            owner.close()

    def test_an_owner_that_took_it_after_the_capture_keeps_it(self):
        owner = Owner(self.x.name, {"UTF8_STRING": b"before"})
        probe = self.keeper()
        try:
            self.assertEqual(read_line(probe), "captured")
            self.assertTrue(owner.lost.wait(10))
            owner.take({"UTF8_STRING": b"copied meanwhile"})
            self.assertTrue(owner.owns())
            probe.stdin.write("go\n")
            probe.stdin.flush()
            self.assertEqual(read_line(probe), "restored")
            time.sleep(0.3)
            self.assertTrue(owner.owns())
            self.assertFalse(owner.lost.is_set())
            self.assertEqual(read_clipboard(self.x.name, "UTF8_STRING"), b"copied meanwhile")
        finally:
            probe.stdin.close()
            probe.wait(timeout=30)
            probe.stdout.close()
            owner.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
