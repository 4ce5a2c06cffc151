#!/usr/bin/python3
"""Overwrites the anchors of two shared formulas with the built-in server (through xls_fill) and
checks with readers no one here wrote that every other cell of each shared formula keeps its
formula and its value.

shared_formulas.xls, written by LibreOffice: B1:B5 =A1*2+$A$1 and C1:C5 =SUM(A1:B1), saved as
shared formulas anchored in B1 and C1.

Exit status 77 tells CTest a reader is missing (the check is skipped, not passed).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SKIP = 77
TABLE = '{urn:oasis:names:tc:opendocument:xmlns:table:1.0}'
OFFICE = '{urn:oasis:names:tc:opendocument:xmlns:office:1.0}'


def libreoffice_cells(path, tmp):
    """(formula, value) of every cell of the first sheet, as LibreOffice loads the file."""
    subprocess.run(['soffice', '-env:UserInstallation=file://' + os.path.join(tmp, 'lo-profile'), '--headless',
                    '--convert-to', 'fods', '--outdir', tmp, path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
    tree = ET.parse(os.path.join(tmp, os.path.splitext(os.path.basename(path))[0] + '.fods'))
    table = tree.find('.//' + TABLE + 'table')
    cells = {}
    for r, row in enumerate(table.iter(TABLE + 'table-row')):
        c = 0
        for cell in row:
            repeat = int(cell.get(TABLE + 'number-columns-repeated', '1'))
            for _ in range(min(repeat, 64)):
                cells[(r + 1, c + 1)] = (cell.get(TABLE + 'formula'), cell.get(OFFICE + 'value'))
                c += 1
    return cells


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--fill', required=True)
    ap.add_argument('--source', required=True)
    ap.add_argument('--reader', choices=['xlrd', 'libreoffice'], required=True)
    args = ap.parse_args()
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, 'anchors.xls')
        with open(os.path.join(tmp, 'cells.txt'), 'w') as f:
            f.write('1\t2\tn\t100\n1\t3\ts\tanchor gone\n')
        subprocess.run([args.fill, args.source, out, os.path.join(tmp, 'cells.txt')], check=True)
        if args.reader == 'xlrd':
            import xlrd
            sheet = xlrd.open_workbook(out).sheet_by_index(0)
            if sheet.cell_value(0, 1) != 100 or sheet.cell_value(0, 2) != 'anchor gone':
                problems.append('the anchors do not hold what was written')
            for r in range(2, 6):
                for c, want in ((2, 2 * r + 1), (3, 3 * r + 1)):
                    cell = sheet.cell(r - 1, c - 1)
                    if cell.ctype != xlrd.XL_CELL_NUMBER or cell.value != want:
                        problems.append('R%dC%d: %r, expected %r' % (r, c, cell.value, want))
        else:
            if not shutil.which('soffice'):
                print('SKIP: soffice (Debian libreoffice-calc-nogui) is not installed')
                return SKIP
            cells = libreoffice_cells(out, tmp)
            for r in range(2, 6):
                for c, formula, want in ((2, 'of:=[.A%d]*2+[.$A$1]' % r, 2 * r + 1),
                                         (3, 'of:=SUM([.A%d:.B%d])' % (r, r), 3 * r + 1)):
                    got = cells.get((r, c), (None, None))
                    if got[0] != formula or got[1] is None or float(got[1]) != want:
                        problems.append('R%dC%d: LibreOffice shows %r, expected %r = %r' % (r, c, got, formula, want))
    for p in problems:
        print(p)
    print('%d problem(s)' % len(problems))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
