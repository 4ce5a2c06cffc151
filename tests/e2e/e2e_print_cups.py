"""Printing from the real program through the real print dialog to a real CUPS: a private
cupsd with a cups-pdf queue as the default printer, the sample list generated under Xvfb,
Ctrl+P in the preview, Return in the print dialog. The paper is the one the dialog shows, the
queue's default. With Letter the queue's PDF must be the template's one Letter page with the
list on it: the printed text reaches the queue as outlines (CUPS's PostScript path), so the page
is compared with the program's own PDF of the same stored list: the same content box, and ink
where the items are and none in an empty cell. With A4 it is one A4 page, the sheet fitted on it
and centred, as the sheet asks."""

import os
import subprocess
import sys
import unittest

from Xlib import X, XK
from Xlib.ext import xtest

import pdf_pages
import private_cups
from xsession import ProgramRun, XServer, wait_until

EXECUTABLE = sys.argv.pop(1)
MAIN = (888, 568)
PREVIEW = (656, 661)
LOAD_SAMPLE = (664, 55)
START = (444, 21)
PICTURE = (200, 200)


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
        # The leak checker stops every thread at exit, and under load it was seen to crash on
        # a print-system thread that was still ending ("Tracer caught signal 11"), failing a
        # run that had printed correctly. The in-process print tests keep leak checking.
        self.run = ProgramRun(EXECUTABLE, self.x, extra_env=dict(self.cups.env, HOME=self.cups.path("home"),
                                                                 ASAN_OPTIONS="detect_leaks=0"))

    def tearDown(self):
        self.run.cleanup()
        self.x.close()
        self.cups.stop()

    def print_through_the_dialog(self, paper):
        """The sample list printed with the dialog's first answer, on a queue whose default paper
        is the one given; the queue's PDF and its pdfinfo."""
        self.cups.set_default_paper(paper)
        proc = self.run.start()
        main = self.x.wait_for_window("Pantrimo", MAIN, proc=proc)
        self.x.click(main, *LOAD_SAMPLE)
        self.x.click(main, *START)
        preview = self.x.wait_for_window("Pantrimo", PREVIEW, proc=proc)
        self.assertTrue(wait_until(lambda: not self.x.is_mapped(main)))
        # A click on the picture gives the window the keyboard; then Ctrl+P.
        self.x.click(preview, *PICTURE)
        self.x.wait_for_focus(preview, proc=proc)
        key_with_control(self.x, "p")
        dialog = self.x.wait_for_window("Print", proc=proc, timeout=60)
        self.x.wait_for_focus(dialog, proc=proc)
        self.x.type_text("\n")  # Print, on the default printer: the test's queue
        self.assertTrue(wait_until(lambda: not self.x.is_mapped(dialog), timeout=30), "the print dialog stayed open")

        pdf = self.cups.wait_for_pdf()
        info = subprocess.run(["pdfinfo", pdf], check=True, capture_output=True, text=True).stdout
        self.x.ask_to_close(preview)
        self.assertEqual(self.run.wait(), 0, self.run.output())
        self.assertEqual(os.listdir(self.run.temp), [])
        return pdf, info

    def test_a4_shown_in_the_dialog_prints_one_a4_page_fitted_and_centred(self):
        pdf, info = self.print_through_the_dialog("A4")
        self.assertRegex(info, r"Pages:\s+1\n")
        self.assertRegex(info, r"Page size:\s+595 x 842 pts")
        (left, top, right, bottom), (width, height) = pdf_pages.content_box(pdf)
        # The template fits the sheet on one page inside its margins (0.75 inch at the sides, an
        # inch above and below), centred across; on A4 its width is what limits it, so it fills
        # the width between the margins. The ink's edges are whole points at 72 dpi.
        side, inch = 54, 72
        self.assertLessEqual(abs(left - side), 2, (left, right, width))
        self.assertLessEqual(abs(right - (width - side)), 2, (left, right, width))
        self.assertLessEqual(abs((left + right) / 2 - width / 2), 2, (left, right, width))
        self.assertLessEqual(abs(top - inch), 2, top)
        self.assertLessEqual(bottom, height - inch + 2)

    def test_print_the_sample_list_through_the_print_dialog(self):
        pdf, info = self.print_through_the_dialog("Letter")
        self.assertRegex(info, r"Pages:\s+1\n")
        self.assertRegex(info, r"Page size:\s+612 x 792 pts")

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
        # Where the program's PDF has an item, the printed page has ink of the same order
        # (Ghostscript fills the outlines a little heavier than poppler draws the fonts); an
        # empty item cell below the last item is empty on both.
        words = pdf_pages.pages(own)[0][2]
        printed_rows, _, _ = pdf_pages.gray_page(pdf, dpi=144)
        own_rows, _, _ = pdf_pages.gray_page(own, dpi=144)

        def ink_in(rows, box):
            x0, y0, x1, y1 = (int(v * 2) for v in box)
            return sum(1 for y in range(y0, y1) for x in range(x0, x1) if rows[y][x] < 128)

        for name in ("Turkey", "Haddock", "Morton", "Garbage", "Toothpaste"):
            word = pdf_pages.find(words, name)
            self.assertIsNotNone(word, name)
            mine, printed = ink_in(own_rows, word[1:]), ink_in(printed_rows, word[1:])
            self.assertGreater(mine, 0, name)
            self.assertTrue(0.5 * mine <= printed <= 3 * mine, f"{name}: ink printed {printed}, own PDF {mine}")
        turkey = pdf_pages.find(words, "Turkey")
        empty_cell = (turkey[1], turkey[2] + 5 * 13.5, turkey[3], turkey[4] + 5 * 13.5)  # five rows further down
        self.assertEqual(ink_in(own_rows, empty_cell), 0)
        self.assertEqual(ink_in(printed_rows, empty_cell), 0)

if __name__ == "__main__":
    unittest.main(verbosity=2)
