#!/usr/bin/python3
"""Small workbooks for the renderer tests, each built to put one thing at a known place.

    /usr/bin/python3 tests/render/make_test_books.py

writes tests/render/data/*.xls; commit them together with this script. The tests check
pixels at positions computed from the layout below, so keep the two in step.
"""
import os
import struct
import sys
import zlib

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")

# Default palette indexes.
BLACK, RED, GREEN, BLUE, YELLOW, MAGENTA = 8, 10, 11, 12, 13, 14
CUSTOM = 0x21        # redefined by a PALETTE record in fills.xls
CUSTOM_RGB = (10, 120, 200)


def style(borders=None, fill=None, font=None, horz=None, vert=None, wrap=False, indent=0):
    s = xlwt.XFStyle()
    if borders:
        b = xlwt.Borders()
        for side, (line, colour) in borders.items():
            setattr(b, side, line)
            setattr(b, side + "_colour", colour)
        s.borders = b
    if fill:
        p = xlwt.Pattern()
        p.pattern, p.pattern_fore_colour, p.pattern_back_colour = fill
        s.pattern = p
    if font:
        f = xlwt.Font()
        for k, v in font.items():
            setattr(f, k, v)
        s.font = f
    a = xlwt.Alignment()
    if horz is not None:
        a.horz = horz
    if vert is not None:
        a.vert = vert
    a.wrap = 1 if wrap else 0
    a.inde = indent
    s.alignment = a
    return s


def borders_book(path):
    """Grid hidden. Columns 100 px wide (3640/256), rows 30 px (450 twips)."""
    book = xlwt.Workbook()
    sh = book.add_sheet("Borders")
    sh.set_show_grid(False)
    for c in range(8):
        sh.col(c).width = 3640
    for r in range(40):
        sh.row(r).height = 450
        sh.row(r).height_mismatch = 1
    # B2: a thin red box.
    sh.write(1, 1, None, style(borders={s: (xlwt.Borders.THIN, RED) for s in ("left", "right", "top", "bottom")}))
    # D2 / D3: thin red bottom against thick blue top: the thick one is drawn.
    sh.write(1, 3, None, style(borders={"bottom": (xlwt.Borders.THIN, RED)}))
    sh.write(2, 3, None, style(borders={"top": (xlwt.Borders.THICK, BLUE)}))
    # F2 / F3: the same weight on both sides: the lower cell's line shows.
    sh.write(1, 5, None, style(borders={"bottom": (xlwt.Borders.THIN, RED)}))
    sh.write(2, 5, None, style(borders={"top": (xlwt.Borders.THIN, GREEN)}))
    # B6..B18: the bottom border of style 1..13 in black, one a row, every other row.
    for i, line in enumerate(range(1, 14)):
        sh.write(5 + 2 * i, 1, None, style(borders={"bottom": (line, BLACK)}))
    # D6: medium blue right edge against thin red left edge of E6.
    sh.write(5, 3, None, style(borders={"right": (xlwt.Borders.MEDIUM, BLUE)}))
    sh.write(5, 4, None, style(borders={"left": (xlwt.Borders.THIN, RED)}))
    # H2: a red diagonal from the top-left to the bottom-right corner.
    diagonal = style()
    diagonal.borders.diag, diagonal.borders.diag_colour = xlwt.Borders.THIN, RED
    diagonal.borders.need_diag1 = 1
    sh.write(1, 7, None, diagonal)
    book.save(path)


def fills_book(path):
    """Grid shown. Columns 100 px, rows 30 px. B2..B18: pattern 2..18 in red on blue."""
    book = xlwt.Workbook()
    book.set_colour_RGB(CUSTOM, *CUSTOM_RGB)
    sh = book.add_sheet("Fills")
    for c in range(6):
        sh.col(c).width = 3640
    for r in range(20):
        sh.row(r).height = 450
        sh.row(r).height_mismatch = 1
    for pattern in range(2, 19):
        sh.write(pattern - 1, 1, None, style(fill=(pattern, RED, BLUE)))
    # D2: solid: the colour is the pattern colour, the background colour is not used.
    sh.write(1, 3, None, style(fill=(1, YELLOW, BLUE)))
    # D4: solid in a colour the workbook's own palette redefines.
    sh.write(3, 3, None, style(fill=(1, CUSTOM, 65)))
    book.save(path)


def layout_book(path):
    """Grid shown. Column widths and row heights of the template's kinds."""
    book = xlwt.Workbook()
    sh = book.add_sheet("Layout")
    sh.col(0).width = 1060          # 29 px
    sh.col(1).width = 4973          # 136 px
    for c in range(2, 8):
        sh.col(c).width = 3640      # 100 px
    sh.row(0).height = 1002         # 67 px
    sh.row(0).height_mismatch = 1
    for r in range(1, 20):
        sh.row(r).height = 450      # 30 px
        sh.row(r).height_mismatch = 1
    sh.row(12).height = 900         # 60 px: room for two wrapped lines
    # Row 1: a merged title over C1:F1, centred.
    sh.write_merge(0, 0, 2, 5, "Title", style(font={"height": 360, "bold": True}, horz=xlwt.Alignment.HORZ_CENTER,
                                              vert=xlwt.Alignment.VERT_CENTER))
    # Row 3: a number (General: right-aligned) and a text (left-aligned) in 100 px columns.
    sh.write(2, 2, 12345)
    sh.write(2, 3, "Left")
    # Row 5: a long text that runs on into empty D5 and E5 but stops at F5, which holds text.
    sh.write(4, 2, "A rather long text that runs on far to the right")
    sh.write(4, 5, "X")
    # Row 7: indent 0 and indent 2 in columns C and D.
    sh.write(6, 2, "Indent", style(horz=xlwt.Alignment.HORZ_LEFT))
    sh.write(6, 3, "Indent", style(horz=xlwt.Alignment.HORZ_LEFT, indent=2))
    # Row 9: top, centre and bottom alignment in C, D, E (row 9 is 30 px).
    for col, v in ((2, xlwt.Alignment.VERT_TOP), (3, xlwt.Alignment.VERT_CENTER), (4, xlwt.Alignment.VERT_BOTTOM)):
        sh.write(8, col, "Vvv", style(vert=v))
    # Row 11: red bold italic underlined Times New Roman, and a font that is not installed.
    sh.write(10, 2, "Red", style(font={"colour_index": RED, "bold": True, "italic": True, "underline": 1,
                                        "name": "Times New Roman", "height": 240}))
    sh.write(10, 3, "Nowhere", style(font={"name": "No Such Font Anywhere"}))
    # Row 13 (60 px): wrapped text in C13 that needs two lines.
    sh.write(12, 2, "Wrapped words here", style(wrap=True, vert=xlwt.Alignment.VERT_TOP))
    # Row 15: a number too long for its cell, and a right-aligned text.
    sh.write(14, 2, 1234567.891)
    sh.write(14, 3, "Right", style(horz=xlwt.Alignment.HORZ_RIGHT))
    sh.write(14, 0, 123456789012345)  # 29 px: not even one digit fits
    # Sheet 2: the same grid, hidden.
    sh2 = book.add_sheet("NoGrid")
    sh2.set_show_grid(False)
    sh2.write(0, 0, "x")
    book.save(path)


def bmp_24(width, height, rgb):
    """A BMP file of one colour, 24 bits a pixel."""
    row = bytes((rgb[2], rgb[1], rgb[0])) * width
    row += b"\0" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(pixels), 0, 0, 14 + len(header)) + header + pixels


def png_rgb(width, height, rgb):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


# ---- Office drawing records, for pictures xlwt cannot place itself -----------------------

REC_CONTINUE, REC_OBJ, REC_MSODRAWINGGROUP, REC_MSODRAWING, REC_SST, REC_WINDOW2, REC_BOUNDSHEET, REC_EOF = (
    0x003C, 0x005D, 0x00EB, 0x00EC, 0x00FC, 0x023E, 0x0085, 0x000A)
BLIPS = {  # kind -> (FBSE blip type, BLIP record type, instance with one UID)
    "png": (6, 0xF01E, 0x6E0),
    "wmf": (3, 0xF01B, 0x216),
}


def record(rec_id, data):
    return struct.pack("<HH", rec_id, len(data)) + data


def escher(fbt, body, version=0, instance=0):
    return struct.pack("<HHI", version | (instance << 4), fbt, len(body)) + body


def container(fbt, children, instance=0):
    return escher(fbt, b"".join(children), 0xF, instance)


def blip_entry(kind, data):
    bt, fbt, inst = BLIPS[kind]
    uid = bytes(16)
    if kind == "wmf":  # metafile header: size, bounds, size in EMU, saved size, compression, filter
        body = uid + struct.pack("<I4iiiIBB", len(data), 0, 0, 100, 100, 1000, 1000, len(data), 0xFE, 0xFE) + data
    else:
        body = uid + b"\xff" + data
    blip = escher(fbt, body, 0, inst)
    bse = struct.pack("<BB16sHIIIBBBB", bt, bt, uid, 0xFF, len(blip), 1, 0, 0, 0, 0, 0) + blip
    return escher(0xF007, bse, 2, bt)


def drawing_group(blips):
    return record(REC_MSODRAWINGGROUP, container(0xF000, [
        escher(0xF006, struct.pack("<IIII", 1024 + len(blips) + 1, 2, len(blips) + 1, 1) + struct.pack("<II", 1, len(blips) + 1)),
        container(0xF001, [blip_entry(k, d) for k, d in blips], instance=len(blips)),
    ]))


def shape(shape_id, pib, anchor):
    return container(0xF004, [
        escher(0xF00A, struct.pack("<II", shape_id, 0xA00), 2, 75),
        escher(0xF00B, struct.pack("<HI", 0x4104, pib), 3, 1),
        escher(0xF010, struct.pack("<H8H", 0, *anchor)),
        escher(0xF011, b""),
    ])


def drawing(anchored):
    """anchored: (pib, (col1, dx1, row1, dy1, col2, dx2, row2, dy2)) per picture."""
    group = container(0xF004, [escher(0xF009, bytes(16), 1), escher(0xF00A, struct.pack("<II", 1024, 5), 2, 0)])
    shapes = [shape(1025 + i, pib, a) for i, (pib, a) in enumerate(anchored)]
    body = group + b"".join(shapes)
    dg = escher(0xF008, struct.pack("<II", len(shapes) + 1, 1024 + len(shapes)), 0, 1)
    spgr = struct.pack("<HHI", 0xF, 0xF003, len(body))
    dgc = struct.pack("<HHI", 0xF, 0xF002, len(dg) + len(spgr) + len(body))
    out = b""
    for i, s in enumerate(shapes):
        lead = dgc + dg + spgr + group if i == 0 else b""
        obj = struct.pack("<HHHHH12x", 0x15, 18, 8, i + 1, 0x6011) + struct.pack("<HHH", 7, 2, 0xFFFF) \
            + struct.pack("<HHH", 8, 2, 1) + struct.pack("<HH", 0, 0)
        out += record(REC_MSODRAWING, lead + s) + record(REC_OBJ, obj)
    return out


def split(data):
    out, pos = [], 0
    while pos < len(data):
        rec_id, size = struct.unpack("<HH", data[pos:pos + 4])
        out.append((rec_id, data[pos:pos + 4 + size]))
        pos += 4 + size
    return out


def with_drawing(book, sheet, blips, anchored):
    plain_sheet, plain_book = sheet.get_biff_data, book.get_biff_data

    def sheet_data():
        out = b""
        for rec_id, raw in split(plain_sheet()):
            if rec_id == REC_WINDOW2:
                out += drawing(anchored)
            out += raw
        return out

    def book_data():
        records = split(plain_book())
        group = drawing_group(blips)
        end = next(i for i, (rec_id, _) in enumerate(records) if rec_id == REC_EOF)
        out = b""
        for i, (rec_id, raw) in enumerate(records):
            if i < end and rec_id == REC_SST:
                out += group
            if i < end and rec_id == REC_BOUNDSHEET:
                (offset,) = struct.unpack("<I", raw[4:8])
                raw = raw[:4] + struct.pack("<I", offset + len(group)) + raw[8:]
            out += raw
        return out

    sheet.get_biff_data = sheet_data
    book.get_biff_data = book_data


def pictures_book(path):
    """Columns 100 px, rows 30 px, grid hidden.
    - B2:C3 (OfficeArt, blip 1): a green PNG from the middle of B2 to the middle of C3.
    - E2:F3 (blip 2): a metafile, which is not decoded: the frame stays empty.
    - B6:C7 (blip 3): a 'PNG' that is not one: empty too, and no failure.
    - B9:C10 (blip 7): an index past the store: empty.
    - E6 (OBJ + IMDATA, as xlwt's insert_bitmap writes): a magenta 40x20 bitmap."""
    book = xlwt.Workbook()
    sh = book.add_sheet("Pictures")
    sh.set_show_grid(False)
    for c in range(8):
        sh.col(c).width = 3640
    for r in range(12):
        sh.row(r).height = 450
        sh.row(r).height_mismatch = 1
    sh.write(0, 0, "pictures")
    sh.insert_bitmap_data(bmp_24(40, 20, (255, 0, 255)), 5, 4, 10, 5)
    blips = [("png", png_rgb(8, 8, (0, 160, 0))), ("wmf", b"\x01\x00\x09\x00" + bytes(60)),
             ("png", b"\x89PNG\r\n\x1a\n broken")]
    anchored = [(1, (1, 512, 1, 128, 2, 512, 2, 128)), (2, (4, 0, 1, 0, 5, 0, 2, 0)),
                (3, (1, 0, 5, 0, 2, 0, 6, 0)), (7, (1, 0, 8, 0, 2, 0, 9, 0))]
    with_drawing(book, sh, blips, anchored)
    book.save(path)


def main():
    os.makedirs(DATA, exist_ok=True)
    for name, build in (("borders", borders_book), ("fills", fills_book), ("layout", layout_book),
                        ("pictures", pictures_book)):
        build(os.path.join(DATA, name + ".xls"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
