"""Compares two workbooks cell by cell with xlrd, a reader nobody here wrote.

usage: compare_books.py A.xls B.xls

Every sheet's name and every cell's kind and value must agree; an empty cell and a blank
one (formatted, no value) count as the same, since writers differ in which they keep.
Exit 0 when the books agree, 1 with the differences, 77 when xlrd is missing."""

import sys

try:
    import xlrd
except ImportError:
    print("xlrd is not installed")
    sys.exit(77)

EMPTY = (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK)


def cell(sheet, r, c):
    if r >= sheet.nrows or c >= sheet.ncols:
        return ("empty", "")
    kind = sheet.cell_type(r, c)
    if kind in EMPTY:
        return ("empty", "")
    return (kind, sheet.cell_value(r, c))


def main(a_path, b_path):
    a, b = xlrd.open_workbook(a_path), xlrd.open_workbook(b_path)
    problems = []
    if a.sheet_names() != b.sheet_names():
        problems.append("sheet names %r != %r" % (a.sheet_names(), b.sheet_names()))
    for sa, sb in zip(a.sheets(), b.sheets()):
        for r in range(max(sa.nrows, sb.nrows)):
            for c in range(max(sa.ncols, sb.ncols)):
                va, vb = cell(sa, r, c), cell(sb, r, c)
                if va != vb:
                    problems.append("%s!%s: %r != %r" % (sa.name, xlrd.cellname(r, c), va, vb))
    for p in problems[:40]:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
