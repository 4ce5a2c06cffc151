#!/usr/bin/python3
"""Small workbooks, each with one kind of print setting, for the page layout tests.

    /usr/bin/python3 tests/print/make_print_books.py

writes tests/print/data/*.xls; commit them together with this script. Every sheet has a
plain grid of cells 100 px wide and 20 px tall (75 pt x 15 pt at 100 %), each holding its
own name ("R3C2" is row 3, column 2), so a PDF's text positions say where each cell landed.
The tests compute the expected pages from the numbers below; keep the two in step.
"""
import os
import struct

import xlwt
from xlwt import BIFFRecords

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")

COLUMN_WIDTH = 3640     # 100 px
ROW_HEIGHT = 300        # 20 px
LETTER, A4, UNKNOWN_PAPER = 1, 9, 999
DEFAULT_MARGINS = {"left": 0.75, "right": 0.75, "top": 1.0, "bottom": 1.0, "header": 0.5, "footer": 0.5}


# (label, value, format code) for formats.xls.
FORMATTED = [
    ("Date", 38406, "d/mm/yyyy"), ("Long date", 38406, "dddd, mmmm d, yyyy"), ("Percent", 0.974, "0.0%"),
    ("Currency", 1000.3, "#,##0.00 [$\u20ac-407]"), ("Dollars", -1234.5, '"$"#,##0.00_);[Red]("$"#,##0.00);"none"'),
    ("Thousands", 1234567, "#,##0"), ("Fraction", 2.75, "# ?/?"), ("Time", 0.75, "h:mm AM/PM"),
    ("Elapsed", 1.5, "[h]:mm"), ("Scientific", 12345, "0.00E+00"), ("Stamp", 38406.5, "yyyy-mm-dd hh:mm"),
]


def grid_book(rows, cols, paper=LETTER, portrait=True, scale=100, fit=None, centre=(False, False),
              header="", footer="", margins=None, grid_and_headings=False):
    book = xlwt.Workbook()
    sh = book.add_sheet("Grid")
    for c in range(cols):
        sh.col(c).width = COLUMN_WIDTH
    for r in range(rows):
        sh.row(r).height = ROW_HEIGHT
        sh.row(r).height_mismatch = 1
        for c in range(cols):
            sh.write(r, c, f"R{r + 1}C{c + 1}")
    sh.set_paper_size_code(paper)
    sh.set_portrait(portrait)
    sh.set_print_scaling(scale)
    if fit:
        sh.set_fit_num_pages(1)
        sh.set_fit_width_to_pages(fit[0])
        sh.set_fit_height_to_pages(fit[1])
    else:
        sh.set_fit_num_pages(0)
    sh.set_print_in_rows(False)  # xlwt's default is over, then down; a spreadsheet's is down, then over
    sh.set_print_centered_horz(centre[0])
    sh.set_print_centered_vert(centre[1])
    sh.set_header_str(header.encode("latin-1") if isinstance(header, str) else header)
    sh.set_footer_str(footer.encode("latin-1") if isinstance(footer, str) else footer)
    sh.set_print_grid(grid_and_headings)
    sh.set_print_headers(grid_and_headings)
    # xlwt's own margins are not a spreadsheet's defaults; state those.
    for side, inches in dict(DEFAULT_MARGINS, **(margins or {})).items():
        getattr(sh, f"set_{side}_margin")(inches)
    return book, sh


def with_print_area(book, sheet_index, first_row, last_row, first_col, last_col):
    """xlwt writes no defined names: add the built-in Print_Area (with the SUPBOOK and
    EXTERNSHEET its 3-D reference needs) where the link table goes."""
    rgce = struct.pack("<BHHHHH", 0x3B, 0, first_row, last_row, first_col, last_col)
    name = struct.pack("<HBBHHHBBBB", 0x0020, 0, 1, len(rgce), 0, sheet_index + 1, 0, 0, 0, 0) + b"\x00\x06" + rgce
    links = (BIFFRecords.InternalReferenceSupBookRecord(1).get()
             + BIFFRecords.ExternSheetRecord([(0, sheet_index, sheet_index)]).get()
             + struct.pack("<HH", 0x0018, len(name)) + name)
    original = book._Workbook__all_links_rec
    book._Workbook__all_links_rec = lambda: original() + links
    return book


def save(book, name):
    book.save(os.path.join(DATA, name))


def main():
    os.makedirs(DATA, exist_ok=True)
    # 8 x 20 cells (600 x 300 pt) fit one landscape A4 page (842 x 595 pt).
    save(grid_book(20, 8, paper=A4, portrait=False)[0], "landscape_a4.xls")
    # 20 x 30 cells (1500 x 450 pt) fitted to 2 Letter pages wide, 1 tall.
    save(grid_book(30, 20, fit=(2, 1))[0], "fit_2x1.xls")
    # 10 x 60 cells (750 x 900 pt) at 50 %: one Letter page instead of four.
    save(grid_book(60, 10, scale=50)[0], "scale_50.xls")
    # 10 x 40 cells, of which only C3:E10 is the print area.
    book, _ = grid_book(40, 10)
    save(with_print_area(book, 0, 2, 9, 2, 4), "print_area.xls")
    # 4 x 30 cells with a page break before row 11 and before column C: four pages.
    book, sh = grid_book(30, 4)
    sh.horz_page_breaks = [(10, 0, 255)]
    sh.vert_page_breaks = [(2, 0, 65535)]
    save(book, "manual_break.xls")
    # 2 x 3 cells, centred on the page both ways, and not.
    save(grid_book(3, 2, centre=(True, True))[0], "centred.xls")
    save(grid_book(3, 2, centre=(False, False))[0], "not_centred.xls")
    # 2 x 100 cells (1500 pt tall): three Letter pages, each with "Page n of 3" above.
    save(grid_book(100, 2, header="&LLeft text&CPage &P of &N&RRight text", footer="&C&A && more")[0],
         "header_pages.xls")
    # Absurd settings: an unknown paper, 10,000 %, a negative top margin, side margins that
    # overlap, 10,000 row breaks and a print area past column IV.
    book, sh = grid_book(5, 3, paper=UNKNOWN_PAPER, scale=10000,
                         margins={"top": -1.0, "left": 5.0, "right": 5.0})
    sh.horz_page_breaks = [(r, 0, 255) for r in range(1, 10001)]
    save(with_print_area(book, 0, 0, 4, 300, 310), "absurd.xls")
    # Text in rows 1 and 200 with formatted blanks between (five pages at 100 %): the three
    # blank pages do not print, header and footer alone making no page.
    book, sh = grid_book(1, 2, header="&CPage &P of &N")
    for r in range(1, 199):
        sh.write(r, 0, "", xlwt.easyxf("font: bold on"))
    sh.write(199, 0, "Last")
    save(book, "blank_pages.xls")
    # Dates, percentages, currency, thousands, fractions and times under their formats.
    book = xlwt.Workbook(encoding="utf-8")
    sh = book.add_sheet("Formats")
    sh.col(0).width, sh.col(1).width = 256 * 14, 256 * 30
    for r, (label, value, code) in enumerate(FORMATTED):
        sh.write(r, 0, label)
        sh.write(r, 1, value, xlwt.easyxf(num_format_str=code))
    save(book, "formats.xls")
    # Printed grid lines and row and column headings.
    save(grid_book(3, 2, grid_and_headings=True)[0], "grid_headings.xls")
    # Fit to 0 pages by 0 pages with a scale of 0 %: prints at 100 %.
    save(grid_book(5, 3, scale=0, fit=(0, 0))[0], "fit_zero.xls")


if __name__ == "__main__":
    main()
