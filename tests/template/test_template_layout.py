#!/usr/bin/python3
"""Read the committed template with xlrd (a reader we did not write) and check
the layout the generation run and the preview rely on."""
import os
import struct
import sys
import unittest

import xlrd
from xlrd import compdoc

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import template_facts as F  # noqa: E402

THIN, MEDIUM, THICK = 1, 2, 5
SLATE, SILVER, GREY, NAVY, MINT = 54, 22, 55, 56, 42
HALF_COLUMNS = list(range(0, 6)) + list(range(7, 13))  # A-F, H-M


def setUpModule():
    global BOOK, SHEET
    BOOK = xlrd.open_workbook(F.TEMPLATE, formatting_info=True, on_demand=False)
    SHEET = BOOK.sheet_by_index(0)


def xf(row0, col0):
    return BOOK.xf_list[SHEET.cell_xf_index(row0, col0)]


def font(row0, col0):
    return BOOK.font_list[xf(row0, col0).font_index]


def line(border, side):
    return getattr(border, side + "_line_style"), getattr(border, side + "_colour_index")


class Workbook(unittest.TestCase):
    def test_one_visible_selected_sheet_without_grid_lines(self):
        self.assertEqual(BOOK.nsheets, 1)
        self.assertFalse(SHEET.show_grid_lines)
        self.assertTrue(SHEET.show_sheet_headers)
        self.assertEqual(SHEET.name, F.SHEET)
        self.assertEqual(SHEET.visibility, 0)
        self.assertTrue(SHEET.sheet_selected)
        self.assertTrue(SHEET.sheet_visible)

    def test_settings_code_page_dates_palette_default_font(self):
        self.assertEqual(BOOK.codepage, 1200)
        self.assertEqual(BOOK.datemode, 0)
        self.assertEqual(BOOK.palette_record, [])  # the default palette, none of our own
        for index, rgb in F.PALETTE.items():
            self.assertEqual(BOOK.colour_map[index], rgb, index)
        default = BOOK.font_list[0]
        self.assertEqual((default.name, default.height), ("Arial", 200))


class Geometry(unittest.TestCase):
    def test_column_widths(self):
        for col, width in enumerate(F.COLUMN_WIDTHS):
            with self.subTest(col=col):
                self.assertAlmostEqual(SHEET.colinfo_map[col].width, width, delta=3)

    def test_row_heights_are_fixed(self):
        self.assertEqual(SHEET.default_row_height, 270)
        for row in range(1, 59):
            with self.subTest(row=row):
                info = SHEET.rowinfo_map[row - 1]
                self.assertAlmostEqual(info.height, F.row_height_twips(row), delta=1)
                self.assertTrue(info.height_mismatch)

    def test_used_range_is_a1_to_m58(self):
        self.assertEqual((SHEET.nrows, SHEET.ncols), (58, 13))
        self.assertEqual(SHEET.cell_type(57, 12), xlrd.XL_CELL_BLANK)


class Content(unittest.TestCase):
    def test_merged_titles(self):
        self.assertEqual(sorted(SHEET.merged_cells), [(0, 1, 0, 6), (0, 1, 7, 13)])
        self.assertEqual(SHEET.cell_value(0, 0), F.TITLE)
        self.assertEqual(SHEET.cell_value(0, 7), F.TITLE)

    def test_captions_both_halves_in_category_order(self):
        for i, caption in enumerate(F.CATEGORIES):
            row0 = F.CAPTION_ROWS[i // 3] - 1
            for columns in (F.LEFT_COLUMNS, F.RIGHT_COLUMNS):
                number_col, text_col = columns[i % 3]
                with self.subTest(category=i, col=text_col):
                    self.assertEqual(SHEET.cell_value(row0, text_col), caption)
                    self.assertEqual(SHEET.cell_type(row0, number_col), xlrd.XL_CELL_BLANK)
        self.assertEqual(SHEET.cell_value(12, 3), "Canned ")  # trailing blank kept

    def test_every_item_cell_of_the_mapping_is_blank_and_formatted(self):
        cells = F.item_cells()
        self.assertEqual(len(set((r, c) for r, c, _, _ in cells)), 600)
        for row0, col0, i, n in cells:
            self.assertEqual(SHEET.cell_type(row0, col0), xlrd.XL_CELL_BLANK,
                             "category %d item %d at %s" % (i, n, xlrd.cellname(row0, col0)))

    def test_nothing_else_holds_a_value(self):
        texts = {(0, 0), (0, 7)} | {(r - 1, c) for r in F.CAPTION_ROWS
                                    for _, c in F.LEFT_COLUMNS + F.RIGHT_COLUMNS}
        for row0 in range(SHEET.nrows):
            for col0 in range(SHEET.ncols):
                if (row0, col0) not in texts:
                    self.assertIn(SHEET.cell_type(row0, col0),
                                  (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK),
                                  xlrd.cellname(row0, col0))


class Formatting(unittest.TestCase):
    def test_every_formatted_cell_uses_century_gothic_and_general(self):
        for row0 in range(58):
            for col0 in range(13):
                if col0 == 6 and SHEET.cell_type(row0, col0) == xlrd.XL_CELL_EMPTY:
                    continue
                with self.subTest(cell=xlrd.cellname(row0, col0)):
                    self.assertEqual(font(row0, col0).name, "Century Gothic")
                    self.assertEqual(xf(row0, col0).format_key, 0)

    def test_title(self):
        for col0 in HALF_COLUMNS:
            f, x = font(0, col0), xf(0, col0)
            self.assertEqual((f.height, f.bold, f.colour_index), (440, 1, NAVY))
            self.assertEqual((x.background.fill_pattern, x.background.pattern_colour_index),
                             (1, MINT))
            self.assertEqual(line(x.border, "top"), (MEDIUM, GREY))
            self.assertEqual(line(x.border, "bottom"), (THICK, SLATE))
        a = xf(0, 0).alignment
        self.assertEqual((a.hor_align, a.vert_align, a.indent_level), (1, 1, 1))

    def test_captions_use_the_green_on_blue_25_percent_pattern(self):
        for row in F.CAPTION_ROWS:
            for col0 in HALF_COLUMNS:
                with self.subTest(cell=xlrd.cellname(row - 1, col0)):
                    x, f = xf(row - 1, col0), font(row - 1, col0)
                    bg = x.background
                    self.assertEqual((bg.fill_pattern, bg.pattern_colour_index,
                                      bg.background_colour_index), (4, 50, 44))
                    self.assertEqual((f.height, f.bold), (180, 1))
                    self.assertEqual(line(x.border, "top"), (THICK, SLATE))
                    self.assertEqual(line(x.border, "bottom"), (THIN, SILVER))
                    self.assertEqual(x.alignment.vert_align, 1)
            self.assertEqual(font(row - 1, 1).colour_index, NAVY)
            self.assertTrue(xf(row - 1, 1).alignment.text_wrapped)

    def test_item_cells_small_print_in_the_upper_bands(self):
        for row0, col0, i, _ in F.item_cells():
            size = 160 if row0 + 1 <= 23 else 200
            self.assertEqual(font(row0, col0).height, size, xlrd.cellname(row0, col0))
            self.assertEqual(xf(row0, col0).background.fill_pattern, 0)
            if col0 in (1, 3, 5, 8, 10, 12):
                self.assertTrue(xf(row0, col0).alignment.text_wrapped)

    def test_bands_are_closed_by_their_rules(self):
        rules = {12: (THICK, SLATE), 23: (THICK, SLATE), 45: (THIN, GREY), 58: (THICK, SLATE)}
        for row, rule in rules.items():
            for col0 in HALF_COLUMNS:
                self.assertEqual(line(xf(row - 1, col0).border, "bottom"), rule,
                                 xlrd.cellname(row - 1, col0))



def workbook_records():
    """(id, data) of every record of the sheet substream, read through xlrd's
    compound document reader."""
    with open(F.TEMPLATE, "rb") as f:
        stream = compdoc.CompDoc(f.read(), logfile=open(os.devnull, "w")).get_named_stream(
            "Workbook")
    records, pos = [], 0
    while pos + 4 <= len(stream):
        rec_id, size = struct.unpack("<HH", stream[pos:pos + 4])
        records.append((rec_id, stream[pos + 4:pos + 4 + size]))
        pos += 4 + size
    return records


class SheetRecords(unittest.TestCase):
    """Settings xlrd does not expose, read from the records themselves."""

    @classmethod
    def setUpClass(cls):
        records = workbook_records()
        first_eof = next(i for i, (rid, _) in enumerate(records) if rid == 0x000A)
        cls.globals = records[:first_eof + 1]
        cls.sheet = records[first_eof + 1:]

    def one(self, rec_id):
        found = [data for rid, data in self.sheet if rid == rec_id]
        self.assertEqual(len(found), 1, hex(rec_id))
        return found[0]

    def test_active_cell_b3(self):
        pane, row, col, _, count = struct.unpack("<BHHHH", self.one(0x001D)[:9])
        self.assertEqual((pane, row, col, count), (3, 2, 1, 1))

    def test_page_setup(self):
        setup = self.one(0x00A1)
        paper, _scale, _start, fit_w, fit_h, options, hres, vres = struct.unpack(
            "<8H", setup[:16])
        header_margin, footer_margin = struct.unpack("<dd", setup[16:32])
        self.assertEqual(paper, 1)                  # Letter
        self.assertEqual((fit_w, fit_h), (1, 1))
        self.assertTrue(options & 0x0002)           # portrait
        self.assertFalse(options & 0x0004)          # printer settings are valid
        self.assertEqual((hres, vres), (600, 600))
        self.assertEqual((header_margin, footer_margin), (0.5, 0.5))
        self.assertTrue(struct.unpack("<H", self.one(0x0081))[0] & 0x0100)  # fit to page
        self.assertEqual(self.one(0x0083), b"\x01\x00")  # centred horizontally
        self.assertEqual(self.one(0x002B), b"\x00\x00")  # no headings printed
        self.assertEqual(self.one(0x002A), b"\x00\x00")  # no grid lines printed
        self.assertEqual(self.one(0x0014), b"")          # no page header
        self.assertEqual(self.one(0x0015), b"")          # no page footer

    def test_two_pictures_at_the_title_anchors_with_distinct_ids(self):
        objs = [data for rid, data in self.sheet if rid == 0x005D]
        ids = []
        for data in objs:
            ft, cb, kind, obj_id = struct.unpack("<HHHH", data[:8])
            self.assertEqual((ft, cb, kind), (0x15, 18, 8))  # ftCmo, picture
            ids.append(obj_id)
        self.assertEqual(len(set(ids)), 2)
        drawing = b"".join(data for rid, data in self.sheet if rid == 0x00EC)
        anchors = []
        pos = drawing.find(b"\x00\x00\x10\xf0\x12\x00\x00\x00")  # ClientAnchor, 18 bytes
        while pos >= 0:
            anchors.append(struct.unpack("<8H", drawing[pos + 10:pos + 26]))
            pos = drawing.find(b"\x00\x00\x10\xf0\x12\x00\x00\x00", pos + 1)
        self.assertEqual(anchors, [(0, 384, 0, 19, 1, 320, 1, 61), (7, 384, 0, 19, 8, 320, 1, 61)])

    def test_picture_is_stored_once_and_used_twice(self):
        group = b"".join(data for rid, data in self.globals if rid in (0x00EB, 0x003C))
        self.assertEqual(group.count(b"\x07\xf0"), 1)             # one FBSE
        bse = group.index(b"\x07\xf0") + 6
        self.assertEqual(struct.unpack("<I", group[bse + 24:bse + 28])[0], 2)  # cRef
        self.assertEqual(group.count(b"\x89PNG\r\n\x1a\n"), 1)



if __name__ == "__main__":
    unittest.main()
