#!/usr/bin/python3
"""Writes the sample workbooks the engine tests read, with xlwt (a writer no one here wrote),
and the damaged copies of them that the bad-input corpus lists in bad/expected.txt (with the
error each must give). Run from this folder:
    /usr/bin/python3 make_samples.py
"""
import struct
import xlwt

THIN, MEDIUM, THICK, DASHED, DOTTED = 1, 2, 5, 3, 4


def styled():
    """A one-sheet list laid out like our template: merged title, captions, bordered item
    cells, set widths and heights, hidden grid lines."""
    wb = xlwt.Workbook(encoding='utf-8')
    ws = wb.add_sheet('Grocery List', cell_overwrite_ok=True)
    ws.show_grid = False
    title = xlwt.easyxf('font: name Century Gothic, height 440, bold on, colour dark_blue;'
                        'align: horiz left, vert centre, indent 1;'
                        'pattern: pattern solid, fore_colour light_green;'
                        'borders: top medium, bottom thick, left thin, right thin')
    caption = xlwt.easyxf('font: name Century Gothic, height 180, bold on, colour dark_blue;'
                          'align: vert centre, wrap on;'
                          'pattern: pattern sparse_dots, fore_colour lime, back_colour pale_blue;'
                          'borders: top thick, bottom thin')
    number = xlwt.easyxf('font: name Century Gothic, height 160; borders: top thin, bottom thin, right dotted')
    text = xlwt.easyxf('font: name Century Gothic, height 160; align: wrap on;'
                       'borders: top thin, bottom thin, right thin')
    ws.write_merge(0, 0, 0, 5, '      Grocery List', title)
    ws.write_merge(0, 0, 7, 12, '      Grocery List', title)
    for c, w in enumerate([878, 4790, 842, 4790, 878, 4790, 950, 878, 4790, 878, 4790, 878, 4790]):
        ws.col(c).width = w
    ws.row(0).height_mismatch = True
    ws.row(0).height = 1002
    for band, names in enumerate([('Meat/Seafood', 'Produce', 'Dairy'), ('Natural/Organic', 'Canned ', 'Frozen')]):
        r = 1 + 11 * band
        ws.row(r).height_mismatch = True
        ws.row(r).height = 439
        for g, name in enumerate(names):
            for half in (0, 7):
                ws.write(r, half + 2 * g, None, caption)
                ws.write(r, half + 2 * g + 1, name, caption)
        for k in range(10):
            ws.row(r + 1 + k).height_mismatch = True
            ws.row(r + 1 + k).height = 360
            for c in list(range(6)) + list(range(7, 13)):
                ws.write(r + 1 + k, c, None, number if c % 7 % 2 == 0 else text)
    # A few filled cells of every kind the engine models.
    ws.write(2, 0, 1, number)
    ws.write(2, 1, 'Chicken', text)
    ws.write(3, 0, 2.5, number)
    ws.write(3, 1, 'Crème fraîche ünd Äpfel', text)
    ws.write(4, 0, -123456789.125, number)
    ws.write(4, 1, 'Ελληνικά 日本語', text)
    ws.write(5, 0, True)
    ws.write(5, 1, xlwt.Formula('A3*2'))
    return wb


def multi():
    """Three sheets, shared strings used from all of them."""
    wb = xlwt.Workbook(encoding='utf-8')
    for n in range(3):
        ws = wb.add_sheet('Sheet %d' % (n + 1))
        for r in range(40):
            ws.write(r, 0, 'shared')
            ws.write(r, 1, r * 1.5)
            ws.write(r, 2, 'row %d of sheet %d' % (r, n + 1))
    return wb


def longtext():
    """Strings long enough to cross several CONTINUE records, 8-bit and 16-bit."""
    wb = xlwt.Workbook(encoding='utf-8')
    ws = wb.add_sheet('Long')
    ws.write(0, 0, 'a' * 32767)
    ws.write(1, 0, ('ü€' * 16384)[:32767])
    ws.write(2, 0, 'x' * 8000 + 'Ω' + 'y' * 8000)
    return wb


def find_stream(data, name):
    """(first sector, size, sector size) of a root-level stream of a compound document."""
    sector = 1 << struct.unpack_from('<H', data, 0x1E)[0]
    dir_start = struct.unpack_from('<I', data, 0x30)[0]
    fat_sectors = [struct.unpack_from('<I', data, 0x4C + 4 * i)[0] for i in range(109)]
    fat = []
    for s in fat_sectors:
        if s >= 0xFFFFFFFA:
            break
        off = 512 + s * sector
        fat += struct.unpack_from('<%dI' % (sector // 4), data, off)
    s = dir_start
    while s < 0xFFFFFFFA:
        off = 512 + s * sector
        for e in range(sector // 128):
            entry = off + 128 * e
            nlen = struct.unpack_from('<H', data, entry + 0x40)[0]
            ename = data[entry:entry + max(nlen - 2, 0)].decode('utf-16-le', 'replace')
            if ename == name:
                return struct.unpack_from('<I', data, entry + 0x74)[0], struct.unpack_from('<I', data, entry + 0x78)[0], sector, fat, entry
        s = fat[s]
    raise SystemExit('no stream ' + name)


def damaged(good):
    """The bad-input corpus: each file with the problem the engine must name."""
    out = {}
    out['not_compound.xls'] = b'Item,Count\nMilk,2\n'
    out['empty.xls'] = b''
    out['truncated_header.xls'] = good[:300]
    d = bytearray(good)
    start, size, sector, fat, entry = find_stream(d, 'Workbook')
    d[entry:entry + 16] = 'Worksheet'.encode('utf-16-le')[:16]
    out['no_workbook_stream.xls'] = bytes(d)
    d = bytearray(good)
    d[entry:entry + 10] = 'Book\0'.encode('utf-16-le')
    struct.pack_into('<H', d, entry + 0x40, 10)
    out['biff5_book_stream.xls'] = bytes(d)
    base = 512 + start * sector
    d = bytearray(good)
    assert d[base:base + 2] == b'\x09\x08'
    struct.pack_into('<H', d, base + 4, 0x0500)
    out['biff5_version.xls'] = bytes(d)
    d = bytearray(good)
    struct.pack_into('<H', d, base, 0x0409)
    out['biff4_bof.xls'] = bytes(d)
    # FILEPASS in place of the first record after the BOF.
    d = bytearray(good)
    bof_len = struct.unpack_from('<H', d, base + 2)[0]
    struct.pack_into('<H', d, base + 4 + bof_len, 0x002F)
    out['encrypted.xls'] = bytes(d)
    # The Workbook stream's first sector names itself as the next: a chain that loops.
    d = bytearray(good)
    fat_sector0 = struct.unpack_from('<I', d, 0x4C)[0]
    struct.pack_into('<I', d, 512 + fat_sector0 * sector + 4 * start, start)
    out['sector_loop.xls'] = bytes(d)
    # A stream size far beyond the file.
    d = bytearray(good)
    struct.pack_into('<I', d, entry + 0x78, 0x7FFFFFF0)
    out['huge_stream_size.xls'] = bytes(d)
    # The first BOUNDSHEET points past the end of the stream.
    d = bytearray(good)
    stream = bytes(d[base:base + size])
    pos = 0
    while pos + 4 <= len(stream):
        rid, rlen = struct.unpack_from('<HH', stream, pos)
        if rid == 0x0085:
            struct.pack_into('<I', d, base + pos + 4, 0x00FFFFFF)
            break
        pos += 4 + rlen
    out['boundsheet_outside.xls'] = bytes(d)
    # The SST claims a million strings.
    d = bytearray(good)
    pos = 0
    while pos + 4 <= len(stream):
        rid, rlen = struct.unpack_from('<HH', stream, pos)
        if rid == 0x00FC:
            struct.pack_into('<I', d, base + pos + 8, 1000000)
            break
        pos += 4 + rlen
    out['sst_count_too_big.xls'] = bytes(d)
    # The globals' EOF record claims more bytes than the stream has.
    d = bytearray(good)
    pos = 0
    while pos + 4 <= len(stream):
        rid, rlen = struct.unpack_from('<HH', stream, pos)
        if rid == 0x000A:
            struct.pack_into('<H', d, base + pos + 2, 0xFFF0)
            break
        pos += 4 + rlen
    out['record_overrun.xls'] = bytes(d)
    # Excel 2.x to 4.0 saved a worksheet as a bare record stream, with no compound document
    # around it: BOF (version, sheet type 0x10 worksheet [, build]), a cell, EOF.
    out['excel2_worksheet.xls'] = (struct.pack('<HHHH', 0x0009, 4, 0x0002, 0x0010)
                                   + struct.pack('<HH', 0x0002, 9) + bytes([0, 0, 0, 0, 0, 0, 0]) + struct.pack('<H', 7)
                                   + struct.pack('<HH', 0x000A, 0))
    out['excel4_worksheet.xls'] = (struct.pack('<HHHHH', 0x0409, 6, 0x0000, 0x0010, 0x0000)
                                   + struct.pack('<HH', 0x000A, 0))
    return out


def libreoffice_copy():
    """styled.xls as LibreOffice writes it: another writer's record layout, with document
    property streams beside the Workbook stream."""
    import os, shutil, subprocess, tempfile
    if not shutil.which('soffice'):
        print('soffice missing: libreoffice_styled.xls left as it is')
        return
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(['soffice', '-env:UserInstallation=file://' + tmp + '/profile', '--headless',
                        '--convert-to', 'xls:MS Excel 97', '--outdir', tmp, 'styled.xls'], check=True)
        shutil.copy(os.path.join(tmp, 'styled.xls'), 'libreoffice_styled.xls')


SHARED_FORMULAS_FODS = '''<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet><table:table table:name="Sheet1">
%s
</table:table></office:spreadsheet></office:body></office:document>
'''


def libreoffice_formulas():
    """shared_formulas.xls: formulas filled down B1:B5 and C1:C5, which LibreOffice writes as
    two shared formulas (SHRFMLA after B1 and C1); A6 holds =1/0 (#DIV/0!); B6:B7 hold the
    array formula {=A1:A2*10}; A7 is text."""
    import os, shutil, subprocess, tempfile
    if not shutil.which('soffice'):
        print('soffice missing: shared_formulas.xls left as it is')
        return
    cell = '<table:table-cell %s/>'
    rows = []
    for r in range(1, 6):
        rows.append('<table:table-row>%s%s%s</table:table-row>' % (
            cell % ('office:value-type="float" office:value="%d"' % r),
            cell % ('table:formula="of:=[.A%d]*2+[.$A$1]" office:value-type="float" office:value="%d"' % (r, 2 * r + 1)),
            cell % ('table:formula="of:=SUM([.A%d:.B%d])" office:value-type="float" office:value="%d"' % (r, r, 3 * r + 1))))
    rows.append('<table:table-row>%s%s</table:table-row>' % (
        cell % 'table:formula="of:=1/0" office:value-type="float" office:value="0"',
        cell % ('table:formula="of:=[.A1:.A2]*10" table:number-matrix-columns-spanned="1" '
                'table:number-matrix-rows-spanned="2" office:value-type="float" office:value="10"')))
    rows.append('<table:table-row><table:table-cell office:value-type="string"><text:p>x</text:p></table:table-cell>'
                '<table:table-cell office:value-type="float" office:value="20"/></table:table-row>')
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, 'shared_formulas.fods'), 'w') as f:
            f.write(SHARED_FORMULAS_FODS % '\n'.join(rows))
        subprocess.run(['soffice', '-env:UserInstallation=file://' + tmp + '/profile', '--headless',
                        '--convert-to', 'xls:MS Excel 97', '--outdir', tmp, os.path.join(tmp, 'shared_formulas.fods')],
                       check=True)
        shutil.copy(os.path.join(tmp, 'shared_formulas.xls'), 'shared_formulas.xls')


if __name__ == '__main__':
    styled().save('styled.xls')
    multi().save('multi.xls')
    longtext().save('longtext.xls')
    libreoffice_copy()
    libreoffice_formulas()
    # xlwt keeps the Workbook stream in regular sectors, which is what the damage below needs.
    good = open('multi.xls', 'rb').read()
    for name, data in damaged(good).items():
        with open('bad/' + name, 'wb') as f:
            f.write(data)
