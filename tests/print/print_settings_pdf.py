"""The PDF the program makes of each print book (make_print_books.py), read back with
poppler's tools: page count, page size, and where the cells' texts land. Cells are 100 x 20
sheet pixels; on paper at 100 % a row is 15 pt and a column 75 pt times the stretch of a
printed digit (Arial 10: 5.56 pt against the screen's 7 px = 5.25 pt). A text sits a few
points right of its cell's left edge, inside its row."""

import os
import subprocess
import sys
import tempfile
import unittest

import pdf_pages

PRINT_BOOK = sys.argv.pop(1)
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
LETTER = (612.0, 792.0)
A4_LANDSCAPE = (841.89, 595.28)
COLUMN = 75 * (0.55615 * 10 / 5.25)  # Liberation Sans (Arial's stand-in): '0' is 1139/2048 em


class PrintSettings(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def pdf(self, book):
        out = os.path.join(self.dir.name, book.replace(".xls", ".pdf"))
        run = subprocess.run([PRINT_BOOK, os.path.join(DATA, book), out], capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        count, size, _ = pdf_pages.info(out)
        return count, size, pdf_pages.pages(out), run.stdout

    def assertSize(self, size, expected):
        self.assertAlmostEqual(size[0], expected[0], delta=0.5)
        self.assertAlmostEqual(size[1], expected[1], delta=0.5)

    def assertCellAt(self, words, name, left, top, scale=1.0):
        """The text of cell `name` starts just inside the cell whose top-left is (left, top)."""
        word = pdf_pages.find(words, name)
        self.assertIsNotNone(word, f"{name} not on the page: {[w[0] for w in words][:12]}")
        self.assertGreaterEqual(word[1], left - 0.5)
        self.assertLessEqual(word[1], left + 6 * scale)
        self.assertGreaterEqual(word[2], top - 0.5)
        self.assertLessEqual(word[4], top + 15 * scale + 0.5)

    def test_landscape_a4(self):
        count, size, pages, _ = self.pdf("landscape_a4.xls")
        self.assertEqual(count, 1)
        self.assertSize(size, A4_LANDSCAPE)
        self.assertCellAt(pages[0][2], "R1C1", 54, 72)
        self.assertCellAt(pages[0][2], "R20C8", 54 + 7 * COLUMN, 72 + 19 * 15)

    def test_blank_pages_are_not_printed(self):
        count, _, pages, _ = self.pdf("blank_pages.xls")
        self.assertEqual(count, 2)
        self.assertIsNotNone(pdf_pages.find(pages[0][2], "R1C1"))
        self.assertIsNotNone(pdf_pages.find(pages[1][2], "Last"))
        self.assertIn("Page 2 of 2", " ".join(w[0] for w in pages[1][2]))

    def test_numbers_print_under_their_formats(self):
        self.pdf("formats.xls")
        text = subprocess.run(["pdftotext", "-raw", os.path.join(self.dir.name, "formats.pdf"), "-"],
                              check=True, capture_output=True, text=True).stdout.strip("\f\n").splitlines()
        # What LibreOffice 7.4's PDF of the same book shows, line for line (xlwt's default
        # header and footer, &P and &F, come first).
        self.assertEqual(text, [
            "1", "formats.xls", "Date 23/02/2005", "Long date Wednesday, February 23, 2005", "Percent 97.4%", "Currency 1,000.30 \u20ac",
            "Dollars ($1,234.50)", "Thousands 1,234,567", "Fraction 2 3/4", "Time 6:00 PM", "Elapsed 36:00",
            "Scientific 1.23E+04", "Stamp 2005-02-23 12:00"])

    def test_fit_two_wide_one_tall(self):
        count, size, pages, _ = self.pdf("fit_2x1.xls")
        self.assertEqual(count, 2)
        self.assertSize(size, LETTER)
        s = 0.63  # the largest whole percentage that fits 2 x 504 pt
        self.assertCellAt(pages[0][2], "R30C10", 54 + 9 * COLUMN * s, 72 + 29 * 15 * s, s)
        self.assertCellAt(pages[1][2], "R1C11", 54, 72, s)
        self.assertIsNone(pdf_pages.find(pages[0][2], "R1C11"))

    def test_fifty_percent(self):
        count, size, pages, _ = self.pdf("scale_50.xls")
        self.assertEqual(count, 1)
        self.assertCellAt(pages[0][2], "R60C10", 54 + 9 * COLUMN / 2, 72 + 59 * 7.5, 0.5)

    def test_print_area(self):
        count, _, pages, _ = self.pdf("print_area.xls")
        self.assertEqual(count, 1)
        self.assertCellAt(pages[0][2], "R3C3", 54, 72)
        self.assertCellAt(pages[0][2], "R10C5", 54 + 2 * COLUMN, 72 + 105)
        self.assertIsNone(pdf_pages.find(pages[0][2], "R1C1"))
        self.assertIsNone(pdf_pages.find(pages[0][2], "R11C3"))

    def test_manual_breaks_down_then_over(self):
        count, _, pages, _ = self.pdf("manual_break.xls")
        self.assertEqual(count, 4)
        self.assertCellAt(pages[0][2], "R1C1", 54, 72)
        self.assertCellAt(pages[1][2], "R11C1", 54, 72)
        self.assertCellAt(pages[2][2], "R1C3", 54, 72)
        self.assertCellAt(pages[3][2], "R30C4", 54 + COLUMN, 72 + 19 * 15)

    def test_centring_on_and_off(self):
        _, _, centred, _ = self.pdf("centred.xls")
        _, _, plain, _ = self.pdf("not_centred.xls")
        self.assertCellAt(centred[0][2], "R1C1", 54 + (504 - 2 * COLUMN) / 2, 72 + (648 - 45) / 2)
        self.assertCellAt(plain[0][2], "R1C1", 54, 72)

    def test_header_page_of_pages(self):
        count, _, pages, _ = self.pdf("header_pages.xls")
        self.assertEqual(count, 3)
        for number, (width, height, words) in enumerate(pages, start=1):
            line = sorted((w for w in words if w[2] < 72), key=lambda w: w[1])
            self.assertEqual(" ".join(w[0] for w in line), f"Left text Page {number} of 3 Right text")
            # Hanging from the 0.5 in header margin; the sides at the page margins.
            self.assertAlmostEqual(min(w[2] for w in line), 36, delta=3)
            self.assertAlmostEqual(line[0][1], 54, delta=1)
            self.assertAlmostEqual(line[-1][3], width - 54, delta=1)
            footer = sorted((w for w in words if w[4] > height - 72), key=lambda w: w[1])
            self.assertEqual(" ".join(w[0] for w in footer), "Grid & more")
            self.assertAlmostEqual(max(w[4] for w in footer), height - 36, delta=3)
        self.assertCellAt(pages[1][2], "R44C1", 54, 72)

    def test_grid_lines_and_headings(self):
        _, _, pages, _ = self.pdf("grid_headings.xls")
        words = pages[0][2]
        # The column letters above the cells, the row numbers left of them.
        a, b, one = pdf_pages.find(words, "A"), pdf_pages.find(words, "B"), pdf_pages.find(words, "1")
        r1c1 = pdf_pages.find(words, "R1C1")
        self.assertTrue(a and b and one and r1c1, [w[0] for w in words])
        self.assertLess(a[4], r1c1[2])
        self.assertLess(a[1], b[1])
        self.assertLess(one[3], r1c1[1])
        self.assertAlmostEqual((one[2] + one[4]) / 2, (r1c1[2] + r1c1[4]) / 2, delta=2)

    def test_absurd_settings_print_and_say_so(self):
        count, size, pages, notes = self.pdf("absurd.xls")
        # The system default paper (this locale: A4), 400 %, every row a page of its own.
        self.assertEqual(count, 15)
        self.assertIn("paper size 999", notes)
        self.assertIn("print area lies outside the sheet", notes)
        self.assertCellAt(pages[0][2], "R1C1", 54, 72, 4)


if __name__ == "__main__":
    unittest.main(verbosity=2)
