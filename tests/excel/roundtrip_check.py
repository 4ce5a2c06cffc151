#!/usr/bin/python3
"""Fills a workbook with the built-in server (through xls_fill), saves it, fills the saved copy
again, and checks both results with a reader no one here wrote:

  --reader xlrd         every written cell reads back with its value and kind (number or text),
                        and the formatting is as before the write: fonts, number formats, XF of
                        every cell, merged cells, column widths, row heights, grid lines.
  --reader libreoffice  LibreOffice converts the result to CSV; every written cell matches.

Exit status 77 tells CTest the reader is missing (the check is skipped, not passed).
"""
import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def grocery_cells(round_no):
    """Two writes per item, as the generation run does: the number, then the text, for fifteen
    categories of up to twenty items in the template's bands."""
    cells = {}
    for i in range(15):
        s = 3 + 11 * (i // 3)
        g = i % 3
        count = 20 if i % 2 == 0 else 7 + round_no
        for k in range(count):
            r = s + (k % 10)
            num_col, text_col = (2 * g + 1, 2 * g + 2) if k < 10 else (2 * g + 8, 2 * g + 9)
            cells[(r, num_col)] = ('n', float(k + 1))
            text = 'Item %d.%d r%d' % (i, k, round_no)
            if k == 3:
                text = 'Crème brûlée für Zoë – 日本語 ✓'
            if k == 5:
                text = 'Leading and trailing spaces  '
            cells[(r, text_col)] = ('s', text)
    cells[(60, 2)] = ('s', 'x' * 32767)
    cells[(61, 1)] = ('n', 1234567.125)
    cells[(61, 2)] = ('n', -0.5)
    cells[(62, 1)] = ('s', '42')  # text that looks like a number stays text
    return cells


def fill(tool, src, dst, cells, tmp):
    cells_file = os.path.join(tmp, 'cells.txt')
    with open(cells_file, 'w', encoding='utf-8') as f:
        for (r, c), (kind, v) in cells.items():
            f.write('%d\t%d\t%s\t%s\n' % (r, c, kind, repr(v) if kind == 'n' else v))
    subprocess.run([tool, src, dst, cells_file], check=True)


def xlrd_facts(path):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_index(0)
    fonts = [(f.name, f.height, f.bold, f.italic, f.colour_index, f.underline_type) for f in book.font_list]
    formats = {k: v.format_str for k, v in book.format_map.items()}
    xfs = [(x.font_index, x.format_key, x.alignment.hor_align, x.alignment.vert_align, x.alignment.text_wrapped,
            x.border.top_line_style, x.border.bottom_line_style, x.border.left_line_style, x.border.right_line_style,
            x.background.fill_pattern, x.background.pattern_colour_index) for x in book.xf_list]
    widths = {c: (i.width, i.hidden) for c, i in sheet.colinfo_map.items()}
    heights = {r: (i.height, i.has_default_height) for r, i in sheet.rowinfo_map.items()}
    return book, sheet, {
        'fonts': fonts, 'formats': formats, 'xfs': xfs, 'merged': sorted(sheet.merged_cells),
        'widths': widths, 'heights': heights, 'grid': sheet.show_grid_lines,
        'defcolwidth': sheet.defcolwidth, 'standardwidth': sheet.standardwidth,
        'name': sheet.name, 'nsheets': book.nsheets,
    }


def check_xlrd(source, path, cells, previous):
    import xlrd
    _, before_sheet, before = xlrd_facts(previous)
    book, sheet, after = xlrd_facts(path)
    problems = []
    # Rows that only the new cells brought get a ROW record of their own; the rows that were
    # there keep their heights.
    after['heights'] = {r: h for r, h in after['heights'].items() if r in before['heights']}
    for key in before:
        if before[key] != after[key]:
            problems.append('%s changed: %r -> %r' % (key, before[key], after[key]))
    for (r, c), (kind, v) in cells.items():
        cell = sheet.cell(r - 1, c - 1)
        if kind == 'n':
            if cell.ctype != xlrd.XL_CELL_NUMBER or cell.value != v:
                problems.append('R%dC%d: expected number %r, got %r (type %d)' % (r, c, v, cell.value, cell.ctype))
        elif cell.ctype != xlrd.XL_CELL_TEXT or cell.value != v:
            problems.append('R%dC%d: expected text %r, got %r (type %d)' % (r, c, v[:40], cell.value[:40], cell.ctype))
        # The XF of a written cell is the one the cell had before (if it existed).
        if r - 1 < before_sheet.nrows and c - 1 < before_sheet.ncols:
            old = before_sheet.cell_xf_index(r - 1, c - 1)
            if old != 15 and sheet.cell_xf_index(r - 1, c - 1) != old:
                problems.append('R%dC%d: XF %d became %d' % (r, c, old, sheet.cell_xf_index(r - 1, c - 1)))
    # Cells nobody wrote keep their values.
    for r in range(before_sheet.nrows):
        for c in range(before_sheet.ncols):
            if (r + 1, c + 1) in cells:
                continue
            a = before_sheet.cell(r, c)
            b = sheet.cell(r, c) if r < sheet.nrows and c < sheet.ncols else None
            if b is None or (a.ctype, a.value) != (b.ctype, b.value):
                problems.append('R%dC%d changed without a write' % (r + 1, c + 1))
    return problems


def check_libreoffice(path, cells, tmp):
    if not shutil.which('soffice'):
        print('SKIP: soffice (Debian libreoffice-calc-nogui) is not installed')
        sys.exit(SKIP)
    profile = 'file://' + os.path.join(tmp, 'lo-profile')
    outdir = os.path.join(tmp, 'csv')
    # Filter options: comma, double quote, UTF-8 (76), first line 1, formatted text as shown.
    subprocess.run(['soffice', '-env:UserInstallation=' + profile, '--headless', '--convert-to',
                    'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true', '--outdir', outdir, path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
    name = os.path.splitext(os.path.basename(path))[0] + '.csv'
    with open(os.path.join(outdir, name), encoding='utf-8', newline='') as f:
        rows = list(csv.reader(f))
    problems = []
    for (r, c), (kind, v) in cells.items():
        got = rows[r - 1][c - 1] if r - 1 < len(rows) and c - 1 < len(rows[r - 1]) else None
        want = ('%.15g' % v) if kind == 'n' else v
        if kind == 'n' and got is not None:
            try:
                ok = float(got) == v  # the cell is a number LibreOffice shows in General format
            except ValueError:
                ok = False
        else:
            ok = got == want
        if not ok:
            problems.append('R%dC%d: LibreOffice shows %r, expected %r' % (r, c, (got or '')[:40], want[:40]))
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--fill', required=True)
    ap.add_argument('--source', required=True)
    ap.add_argument('--reader', choices=['xlrd', 'libreoffice'], required=True)
    args = ap.parse_args()
    if not os.path.exists(args.source):
        print('SKIP: %s does not exist yet' % args.source)
        return SKIP
    with tempfile.TemporaryDirectory() as tmp:
        first, second = os.path.join(tmp, 'first.xls'), os.path.join(tmp, 'second.xls')
        cells1 = grocery_cells(1)
        fill(args.fill, args.source, first, cells1, tmp)
        # A second round over the engine's own output: a save of a save must not decay.
        cells2 = grocery_cells(2)
        fill(args.fill, first, second, cells2, tmp)
        expected2 = dict(cells1)
        expected2.update(cells2)
        if args.reader == 'xlrd':
            problems = check_xlrd(args.source, first, cells1, args.source)
            problems += check_xlrd(args.source, second, cells2, first)
            problems += check_xlrd(args.source, second, expected2, args.source)
        else:
            problems = check_libreoffice(first, cells1, tmp) + check_libreoffice(second, expected2, tmp)
    for p in problems[:40]:
        print(p)
    print('%d problem(s)' % len(problems))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
