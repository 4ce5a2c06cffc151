#!/usr/bin/python3
"""LibreOffice opens the template: its text comes out as CSV, and its flat ODF
conversion shows the two pictures in the title cells and the page setup.
Exits 77 (skipped) when soffice is not installed."""
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import template_facts as F  # noqa: E402

NS = {
    "table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
    "draw": "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0",
    "style": "urn:oasis:names:tc:opendocument:xmlns:style:1.0",
    "fo": "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0",
    "svg": "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0",
}


def q(name):
    prefix, local = name.split(":")
    return "{%s}%s" % (NS[prefix], local)


def inches(length):
    value = float(length.rstrip("incm"))
    return value / 2.54 if length.endswith("cm") else value


def setUpModule():
    global WORK, CSV_ROWS, ODF
    WORK = tempfile.mkdtemp()
    shutil.copy(F.TEMPLATE, os.path.join(WORK, "template.xls"))
    profile = "file://" + os.path.join(WORK, "profile")
    for fmt in ("csv", "fods"):
        subprocess.run(["soffice", "-env:UserInstallation=" + profile, "--headless",
                        "--convert-to", fmt, "--outdir", WORK,
                        os.path.join(WORK, "template.xls")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=240)
    with open(os.path.join(WORK, "template.csv"), newline="", encoding="utf-8") as f:
        CSV_ROWS = list(csv.reader(f))
    ODF = ET.parse(os.path.join(WORK, "template.fods")).getroot()


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


class OpensInLibreOffice(unittest.TestCase):
    def test_text_as_csv(self):
        self.assertEqual(CSV_ROWS[0][0], F.TITLE)
        self.assertEqual(CSV_ROWS[0][7], F.TITLE)
        for i, caption in enumerate(F.CATEGORIES):
            row = CSV_ROWS[F.CAPTION_ROWS[i // 3] - 1]
            self.assertEqual(row[F.LEFT_COLUMNS[i % 3][1]], caption)
            self.assertEqual(row[F.RIGHT_COLUMNS[i % 3][1]], caption)
        for row0, col0, _, _ in F.item_cells():
            if row0 < len(CSV_ROWS):
                self.assertEqual(CSV_ROWS[row0][col0], "")

    def test_one_sheet_named_grocery_list(self):
        tables = ODF.findall(".//table:table", NS)
        self.assertEqual([t.get(q("table:name")) for t in tables], [F.SHEET])

    def test_bag_picture_in_both_title_cells(self):
        table = ODF.find(".//table:table", NS)
        first_row = table.find(".//table:table-row", NS)
        frames = []
        col = 0
        for cell in first_row:
            if cell.tag not in (q("table:table-cell"), q("table:covered-table-cell")):
                continue
            for frame in cell.findall("draw:frame", NS):
                self.assertIsNotNone(frame.find("draw:image", NS))
                frames.append((col, frame))
            col += int(cell.get(q("table:number-columns-repeated"), "1"))
        self.assertEqual([c for c, _ in frames], [0, 7])
        for _, frame in frames:
            # The frame spans from 3/8 into column A to 5/16 into column B, and
            # from just below the top of the title into the caption row.
            self.assertAlmostEqual(inches(frame.get(q("svg:x"))), 0.12, delta=0.02)
            self.assertAlmostEqual(inches(frame.get(q("svg:y"))), 0.05, delta=0.02)
            self.assertAlmostEqual(inches(frame.get(q("svg:width"))), 0.66, delta=0.04)
            self.assertAlmostEqual(inches(frame.get(q("svg:height"))), 0.72, delta=0.03)

    def test_page_setup(self):
        props = ODF.find(".//style:page-layout/style:page-layout-properties", NS)
        self.assertEqual(inches(props.get(q("fo:page-width"))), 8.5)
        self.assertEqual(inches(props.get(q("fo:page-height"))), 11)
        self.assertEqual(props.get(q("style:print-orientation")), "portrait")
        self.assertEqual((props.get(q("style:scale-to-X")), props.get(q("style:scale-to-Y"))),
                         ("1", "1"))
        self.assertEqual(props.get(q("style:table-centering")), "horizontal")
        printed = props.get(q("style:print"), "")
        self.assertNotIn("grid", printed)
        self.assertNotIn("headers", printed)
        master = ODF.find(".//style:master-page", NS)
        for part in ("style:header", "style:footer"):
            element = master.find(part, NS)
            self.assertTrue(element is None or element.get(q("style:display")) == "false")


if __name__ == "__main__":
    if shutil.which("soffice") is None:
        print("soffice not installed: skipped")
        sys.exit(77)
    unittest.main()
