"""Printing from the real program through the real print dialog to a real CUPS: a private
cupsd with a cups-pdf queue as the default printer, the sample list generated under Xvfb,
Ctrl+P in the preview, Return in the print dialog. The queue's PDF must be the template's
one Letter page with the list on it: the printed text reaches the queue as outlines (CUPS's
PostScript path), so the page is compared with the program's own PDF of the same stored
list: the same content box and about as much ink."""

import os
import subprocess
import sys
import time
import unittest

from Xlib import X, XK
from Xlib.ext import xtest

import pdf_pages
import private_cups
from xsession import ProgramRun, XServer

EXECUTABLE = sys.argv.pop(1)
MAIN = (888, 568)
PREVIEW = (656, 626)
LOAD_SAMPLE = (664, 55)
START = (444, 21)
PICTURE = (200, 200)


def wait_until(condition, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def key_with_control(x, letter):
    d = x.display
    control = d.keysym_to_keycode(XK.XK_Control_L)
    key = d.keysym_to_keycode(XK.string_to_keysym(letter))
    xtest.fake_input(d, X.KeyPress, control)
    xtest.fake_input(d, X.KeyPress, key)
    xtest.fake_input(d, X.KeyRelease, key)
    xtest.fake_input(d, X.KeyRelease, control)
    d.sync()


@unittest.skipUnless(private_cups.available(), "needs root, cupsd, lpadmin and printer-driver-cups-pdf")
class PrintThroughCups(unittest.TestCase):
    def setUp(self):
        self.cups = private_cups.PrivateCups()
        self.cups.start()
        self.x = XServer()
        # The program's HOME is private too: no lpoptions of the machine's user choose another printer.
        self.run = ProgramRun(EXECUTABLE, self.x, extra_env=dict(self.cups.env, HOME=self.cups.path("home")))

    def tearDown(self):
        self.run.cleanup()
        self.x.close()
        self.cups.stop()

    def test_print_the_sample_list_through_the_print_dialog(self):
        proc = self.run.start()
        main = self.x.wait_for_window("Pantrimo", MAIN, proc=proc)
        self.x.click(main, *LOAD_SAMPLE)
        time.sleep(0.3)
        self.x.click(main, *START)
        preview = self.x.wait_for_window("Pantrimo", PREVIEW, proc=proc)
        self.assertTrue(wait_until(lambda: not self.x.is_mapped(main)))
        # A click on the picture gives the window the keyboard; then Ctrl+P.
        self.x.click(preview, *PICTURE)
        time.sleep(0.3)
        key_with_control(self.x, "p")
        dialog = self.x.wait_for_window("Print", proc=proc, timeout=60)
        time.sleep(1.0)
        self.x.type_text("\n")  # Print, on the default printer: the test's queue
        self.assertTrue(wait_until(lambda: not self.x.is_mapped(dialog), timeout=30), "the print dialog stayed open")

        pdf = self.cups.wait_for_pdf()
        info = subprocess.run(["pdfinfo", pdf], check=True, capture_output=True, text=True).stdout
        self.assertRegex(info, r"Pages:\s+1\n")
        self.assertRegex(info, r"Page size:\s+612 x 792 pts")
        self.x.ask_to_close(preview)
        self.assertEqual(self.run.wait(), 0, self.run.output())
        self.assertEqual(os.listdir(self.run.temp), [])

        # The same list, stored at the close, as the program's own PDF.
        own = os.path.join(self.run.root, "own.pdf")
        env = dict(self.run.env)
        env.pop("DISPLAY")
        made = subprocess.run([EXECUTABLE, "--pdf", own], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(made.returncode, 0, made.stderr)
        printed_box, page = pdf_pages.content_box(pdf)
        own_box, _ = pdf_pages.content_box(own)
        for a, b, length in zip(printed_box, own_box, page * 2):
            self.assertLessEqual(abs(a - b), 0.01 * length, f"printed {printed_box}, own PDF {own_box}")
        printed_ink, own_ink = pdf_pages.ink(pdf, dpi=150), pdf_pages.ink(own, dpi=150)
        self.assertLess(abs(printed_ink - own_ink) / own_ink, 0.1, f"ink printed {printed_ink}, own PDF {own_ink}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
