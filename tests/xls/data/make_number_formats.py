#!/usr/bin/python3
"""Writes number_formats.xls (1900 dates) and number_formats_1904.xls with xlwt: one row a
case, the format code as text in column A, the value in column B formatted with it. Then has
LibreOffice save each book as CSV "as shown", and prints the C++ test rows with LibreOffice's
own text of column B, for tests/xls/test_xls_number_format.cpp. Run from this folder:
    /usr/bin/python3 make_number_formats.py > rows.txt
"""
import csv
import os
import subprocess
import sys
import tempfile
import xlwt

# (format code, value); a value that is a str is written as text.
CASES_1900 = [
    ('General', 0), ('General', 1), ('General', -1), ('General', 0.5), ('General', 0.1 + 0.2),
    ('General', 1234567890123), ('General', 123456789012), ('General', 12345678901),
    ('General', 1e-5), ('General', 0.0001), ('General', 3.14159265358979), ('General', -1234.5678),
    ('General', 1e100), ('General', 123456.789), ('General', -0.000123456789),
    ('0', 0), ('0', 1.5), ('0', 2.5), ('0', -2.5), ('0', 1234.4), ('0', -0.4),
    ('0.00', 3.14159), ('0.00', 1.005), ('0.00', -0.001), ('0.00', 1e15),
    ('#,##0', 1234567), ('#,##0', -1234.5), ('#,##0', 0), ('#,##0', 999.5), ('#,##0', 12),
    ('#,##0.00', 1234.567), ('#,##0.00', 1000.3), ('#,##0.00', -0.5),
    ('0%', 0.974), ('0.00%', 0.974), ('0.00%', 0.005), ('0%', -0.125),
    ('0.00E+00', 12345), ('0.00E+00', 0.00012), ('0.00E+00', 0), ('0.00E+00', -12345),
    ('##0.0E+0', 12345), ('0E+00', 5e-10),
    ('# ?/?', 1.25), ('# ?/?', 0.333), ('# ?/?', 5), ('# ?/?', -2.5), ('# ??/??', 3.14159),
    ('# ?/8', 1.3), ('?/?', 0.75), ('# ?/?', 0.01),
    ('@', 'abc'), ('@', 12.5), ('"Item: "@', 'milk'),
    ('0.00" kg"', 2.5), ('"Total: "0', 5), ('\\$0.00', 3.5), ('0\\ \\m', 12),
    ('#,##0_);(#,##0)', 1234), ('#,##0_);(#,##0)', -1234),
    ('0;-0;"zero"', 0), ('0;-0;"zero"', 7), ('0.00;[Red]-0.00', -5), ('0;0', -5),
    ('"pos";"neg";"zero";"text:"@', 'x'), ('"pos";"neg";"zero"', -3),
    ('[>100]"big";[<=100]"small"', 150), ('[>100]"big";[<=100]"small"', 50),
    ('[Red]0.00', 1), ('[Blue]#,##0;[Red]-#,##0', -42), ('[Color10]0', 3),
    ('#,##0,', 1234567), ('0.0,,"M"', 2500000),
    ('m/d/yy', 38406), ('d-mmm-yy', 38406), ('d-mmm', 38406), ('mmm-yy', 38406),
    ('yyyy-mm-dd', 38406.5), ('dddd, mmmm d, yyyy', 38406), ('ddd dd/mm/yyyy', 40000),
    ('mmmmm', 38406), ('m/d/yyyy', 61), ('m/d/yyyy', 2958465),
    ('h:mm', 0.75), ('h:mm AM/PM', 0.75), ('h:mm:ss AM/PM', 0.0001), ('h:mm:ss', 0.5000115741),
    ('hh:mm:ss', 0.99999999), ('[h]:mm', 1.5), ('[h]:mm:ss', 2.75), ('[mm]:ss', 0.1),
    ('mm:ss.0', 0.000694), ('m/d/yy h:mm', 38406.75), ('h:mm A/P', 0.25), ('h AM/PM', 0.5),
    ('yyyy-mm-dd hh:mm', 44197.999999),
]
# Where the two spreadsheet programs differ we show what the file's writer shows; these cases
# are in the book but their rows in the test are written by hand.
WRITER_DIFFERS = {
    ('General', 1234567890123), ('General', 123456789012), ('General', 1e-5),
    ('General', 3.14159265358979), ('General', -0.000123456789), ('h:mm A/P', 0.25),
}
CASES_1904 = [
    ('m/d/yyyy', 0), ('m/d/yyyy', 1), ('m/d/yyyy', 38406), ('d-mmm-yy h:mm', 1000.25), ('dddd', 0),
]


def write_book(path, cases, dates1904):
    wb = xlwt.Workbook(encoding='utf-8')
    wb.dates_1904 = dates1904
    ws = wb.add_sheet('Formats')
    ws.col(1).width = 256 * 60  # wide enough that nothing turns into ###
    for r, (code, value) in enumerate(cases):
        ws.write(r, 0, code)
        ws.write(r, 1, value, xlwt.easyxf(num_format_str=code))
    wb.save(path)


def shown_by_libreoffice(path, outdir):
    subprocess.run(['soffice', '--headless', '--convert-to', 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true',
                    '--outdir', outdir, path], check=True, capture_output=True)
    with open(os.path.join(outdir, os.path.splitext(os.path.basename(path))[0] + '.csv'), encoding='utf-8') as f:
        return [row[1] for row in csv.reader(f)]


def cpp(s):
    # ?\? keeps "??/" from reading as a trigraph.
    return '"' + s.replace('\\', '\\\\').replace('"', '\\"').replace('??', '?\\?') + '"'


def main():
    out = tempfile.mkdtemp()
    for name, cases, d1904 in (('number_formats.xls', CASES_1900, False), ('number_formats_1904.xls', CASES_1904, True)):
        write_book(name, cases, d1904)
        shown = shown_by_libreoffice(name, out)
        for row, ((code, value), text) in enumerate(zip(cases, shown)):
            if (code, value) in WRITER_DIFFERS:
                print('    // row %d: %s of %r, LibreOffice shows %r' % (row, code, value, text))
                continue
            v = ('QVariant(QStringLiteral(%s))' % cpp(value)) if isinstance(value, str) else 'QVariant(%r)' % float(value)
            print('    {%s, %s, %s, %d, %s},' % (cpp(code), v, 'true' if d1904 else 'false', row, cpp(text)))


if __name__ == '__main__':
    sys.exit(main())
