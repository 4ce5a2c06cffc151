#!/usr/bin/python3
"""Build the grocery list template workbook (Excel 97-2003, BIFF8).

The program carries this file as a resource and fills its item cells; the
layout below is the only place where the template's look is decided. Run it
after changing the layout or the clip-art and commit the result:

    /usr/bin/python3 tools/template/make_template.py [OUTPUT.xls]

Default output: workbook/template/grocery_template.xls. The same inputs always
give the same bytes (a test holds the committed file to that).

xlwt writes most of the sheet; what it cannot express is patched into the
record streams afterwards (finish_book_stream, finish_sheet_stream): the active
cell (SELECTION), an empty page header and footer, and the two title pictures.
xlwt only embeds opaque bitmaps, one copy per picture, at anchors it estimates
from font sizes; an opaque frame would hide the first letter of the title, so
the bag is a transparent PNG stored once in the workbook's drawing group and
placed twice at exact anchors, with distinct object ids.
"""
import hashlib
import os
import struct
import sys

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
DEFAULT_OUT = os.path.join(ROOT, "workbook", "template", "grocery_template.xls")
BAG_PNG = os.path.join(ROOT, "workbook", "template", "grocery-bag.png")

# --------------------------------------------------------------------------
# Layout. Rows and columns are counted from 1 / "A" as a spreadsheet shows them.
# --------------------------------------------------------------------------

SHEET_NAME = "Grocery List"
TITLE = "      Grocery List"  # the leading blanks leave room for the bag picture
FONT = "Century Gothic"

# Stored widths in 1/256 of the default font's digit width. These include the
# 5 pixels of cell padding that a spreadsheet adds on screen, so 1060 is what
# shows as 3.43 characters, 4973 as 18.71, 1024 as 3.29, 1133 as 3.71.
COLUMN_WIDTHS = {
    "A": 1060, "B": 4973, "C": 1024, "D": 4973, "E": 1060, "F": 4973,
    "G": 1133,
    "H": 1060, "I": 4973, "J": 1060, "K": 4973, "L": 1060, "M": 4973,
}
HALVES = ("A", "H")       # first column of each half; a half is six columns wide
SPACER = "G"

# Row heights in twips (1/20 pt). All of them are fixed: wrapped text must not
# make a row grow, or the capture of the sheet would change size.
DEFAULT_ROW_HEIGHT = 270  # 13.5 pt
TITLE_ROW = (1, 1002)     # 50.1 pt
ITEM_ROW_HEIGHT = 360     # 18 pt
ITEMS_PER_BLOCK = 10

# One band per line: caption row, its height, and the captions of its three
# blocks. Both halves carry the same captions. The item rows follow the caption
# row. "Canned " keeps its trailing blank: it must equal the category caption.
BANDS = [
    (2, 439, ("Meat/Seafood", "Produce", "Dairy")),
    (13, 439, ("Natural/Organic", "Canned ", "Frozen")),
    (24, 439, ("Spices/Condiments", "Beverages", "Pet Food")),
    (35, 439, ("Household Items", "Pharmacy", "Personal Hygiene")),
    (46, 435, ("Cereal/Grain/Pasta", "Snacks", "Other")),
]
CLOSING_ROWS = (57, 58)   # two spare item rows that close the last band
LAST_ROW = 58

# Default palette indexes (no palette of our own is written).
NAVY = 56         # #003366
MINT = 42         # #CCFFCC
OLIVE_GREEN = 50  # #99CC00
SKY = 44          # #99CCFF
SILVER = 22       # #C0C0C0
GREY = 55         # #969696
SLATE = 54        # #666699
AUTOMATIC = 0x7FFF

# Per-row rules: the bottom edge of these rows.
BAND_END_RULES = {12: ("thick", SLATE), 23: ("thick", SLATE), 45: ("thin", GREY),
                  58: ("thick", SLATE)}
OUTER_GREY_LAST_ROW = 45        # A and H carry a grey outer line down to here
SMALL_PRINT_LAST_ROW = 23       # item text is 8 pt down to here, 10 pt below
SPACER_ROWS = list(range(3, 13)) + list(range(14, 24))
LAST_BAND_FIRST_ROW = 47        # the last band draws its text cells' sides differently
AUTOMATIC_CAPTION_LAST_ROW = 35

# Pictures: (from column, x/1024, from row, y/256, to column, x/1024, to row, y/256)
PICTURES = [
    ("A", 384, 1, 19, "B", 320, 2, 61),
    ("H", 384, 1, 19, "I", 320, 2, 61),
]

PAPER_LETTER = 1
PRINT = dict(paper=PAPER_LETTER, portrait=True, fit_pages=(1, 1), centre_horizontally=True,
             dpi=600, header_footer_margin_in=0.5,
             # a spreadsheet's own default page margins, stated explicitly
             margins_in=dict(left=0.75, right=0.75, top=1.0, bottom=1.0))
ACTIVE_CELL = "B3"

# --------------------------------------------------------------------------
# Building
# --------------------------------------------------------------------------

LINE = {"none": xlwt.Borders.NO_LINE, "thin": xlwt.Borders.THIN,
        "medium": xlwt.Borders.MEDIUM, "dotted": xlwt.Borders.DOTTED,
        "thick": xlwt.Borders.THICK}


def col_index(letter):
    return ord(letter) - ord("A")


def caption_rows():
    return {row: (height, captions) for row, height, captions in BANDS}


def item_rows():
    rows = []
    for row, _, _ in BANDS:
        rows.extend(range(row + 1, row + 1 + ITEMS_PER_BLOCK))
    rows.extend(CLOSING_ROWS)
    return rows


def make_style(size_pt, bold=False, colour=AUTOMATIC, horz="general", vert="bottom",
               wrap=False, indent=0, fill=None, borders=None):
    """fill: None, ("solid", colour) or ("25%", pattern colour, background colour).
    borders: side -> (line, colour) for the sides that have a line."""
    style = xlwt.XFStyle()
    # xlwt knows the built-in format 0 only by its lower-case name; "General"
    # would become a custom number format of its own.
    style.num_format_str = "general"
    font = xlwt.Font()
    font.name = FONT
    font.height = int(size_pt * 20)
    font.bold = bold
    font.colour_index = colour
    font.family = xlwt.Font.FAMILY_SWISS
    font.charset = xlwt.Font.CHARSET_ANSI_LATIN
    style.font = font

    align = xlwt.Alignment()
    align.horz = {"general": align.HORZ_GENERAL, "left": align.HORZ_LEFT}[horz]
    align.vert = {"bottom": align.VERT_BOTTOM, "centre": align.VERT_CENTER}[vert]
    align.wrap = align.WRAP_AT_RIGHT if wrap else align.NOT_WRAP_AT_RIGHT
    align.inde = indent
    style.alignment = align

    pattern = xlwt.Pattern()
    if fill and fill[0] == "solid":
        pattern.pattern = xlwt.Pattern.SOLID_PATTERN
        pattern.pattern_fore_colour = fill[1]
        pattern.pattern_back_colour = 64  # system window background, as Excel writes it
    elif fill and fill[0] == "25%":
        pattern.pattern = 4  # fls 4: 25 % grey
        pattern.pattern_fore_colour = fill[1]
        pattern.pattern_back_colour = fill[2]
    style.pattern = pattern

    b = xlwt.Borders()
    for side, (line, colour) in (borders or {}).items():
        setattr(b, side, LINE[line])
        setattr(b, side + "_colour", colour)
    style.borders = b
    return style


def title_style(position):
    """position: 0 first cell of the merged title, 5 last, anything else inside."""
    borders = {"top": ("medium", GREY), "bottom": ("thick", SLATE)}
    if position == 0:
        borders["left"] = ("thin", GREY)
    if position == 5:
        borders["right"] = ("thin", GREY)
    return make_style(22, bold=True, colour=NAVY, horz="left", vert="centre", indent=1,
                      fill=("solid", MINT), borders=borders)


def number_side_borders(row, position):
    # The first number column of a half is the sheet's outer edge for the upper
    # bands; everything else is a light inner line. A dotted line leads the eye
    # from the number to its item.
    outer = position == 0 and row <= OUTER_GREY_LAST_ROW
    return {"left": ("thin", GREY if outer else SILVER), "right": ("dotted", SILVER)}


def caption_style(row, position):
    borders = {"top": ("thick", SLATE), "bottom": ("thin", SILVER)}
    fill = ("25%", OLIVE_GREEN, SKY)
    if position % 2 == 0:
        borders.update(number_side_borders(row, position))
        # The outer number captions of the upper four bands keep the automatic
        # font colour. They hold no text, so it shows only if someone types there.
        automatic = position == 0 and row <= AUTOMATIC_CAPTION_LAST_ROW
        return make_style(9, bold=True, colour=AUTOMATIC if automatic else NAVY,
                          vert="centre", fill=fill, borders=borders)
    return make_style(9, bold=True, colour=NAVY, vert="centre", wrap=True,
                      fill=fill, borders=borders)


def item_style(row, position):
    size = 8 if row <= SMALL_PRINT_LAST_ROW else 10
    borders = {"top": ("thin", SILVER), "bottom": BAND_END_RULES.get(row, ("thin", SILVER))}
    if position % 2 == 0:
        borders.update(number_side_borders(row, position))
        return make_style(size, borders=borders)
    if row >= LAST_BAND_FIRST_ROW:
        borders["left"] = ("dotted", SILVER)
        borders["right"] = ("thin", GREY)
    else:
        borders["right"] = ("thin", SILVER)
    return make_style(size, wrap=True, borders=borders)


def build_sheet(book):
    sheet = book.add_sheet(SHEET_NAME)
    captions = caption_rows()
    items = set(item_rows())

    for letter, width in COLUMN_WIDTHS.items():
        sheet.col(col_index(letter)).width = width

    sheet.set_row_default_height(DEFAULT_ROW_HEIGHT)
    sheet.row_default_height_mismatch = 1

    for row in range(1, LAST_ROW + 1):
        r = row - 1
        xrow = sheet.row(r)
        if row == TITLE_ROW[0]:
            height = TITLE_ROW[1]
        elif row in captions:
            height = captions[row][0]
            xrow.set_style(make_style(9))
        else:
            height = ITEM_ROW_HEIGHT
        xrow.height = height
        xrow.height_mismatch = 1

        for half in HALVES:
            first = col_index(half)
            for position in range(6):
                c = first + position
                if row == TITLE_ROW[0]:
                    sheet.write(r, c, TITLE if position == 0 else None, title_style(position))
                elif row in captions:
                    text = captions[row][1][position // 2] if position % 2 else None
                    sheet.write(r, c, text, caption_style(row, position))
                elif row in items:
                    sheet.write(r, c, None, item_style(row, position))
        if row in SPACER_ROWS:
            sheet.write(r, col_index(SPACER), None, make_style(8))

    for half in HALVES:
        first = col_index(half)
        # Recorded directly: xlwt's merge() would write the cells a second time.
        sheet.get_merged_ranges().append((0, 0, first, first + 5))

    sheet.set_show_grid(False)
    sheet.set_selected(True)
    sheet.set_sheet_visible(True)

    sheet.set_paper_size_code(PRINT["paper"])
    sheet.set_portrait(PRINT["portrait"])
    sheet.set_fit_num_pages(1)
    sheet.set_fit_width_to_pages(PRINT["fit_pages"][0])
    sheet.set_fit_height_to_pages(PRINT["fit_pages"][1])
    sheet.set_print_centered_horz(PRINT["centre_horizontally"])
    sheet.set_print_centered_vert(False)
    sheet.set_print_hres(PRINT["dpi"])
    sheet.set_print_vres(PRINT["dpi"])
    sheet.set_header_margin(PRINT["header_footer_margin_in"])
    sheet.set_footer_margin(PRINT["header_footer_margin_in"])
    sheet.set_left_margin(PRINT["margins_in"]["left"])
    sheet.set_right_margin(PRINT["margins_in"]["right"])
    sheet.set_top_margin(PRINT["margins_in"]["top"])
    sheet.set_bottom_margin(PRINT["margins_in"]["bottom"])
    sheet.set_print_grid(False)
    sheet.set_print_headers(False)
    sheet.set_copies_num(1)
    return sheet


# --------------------------------------------------------------------------
# Records xlwt does not write the way we need
# --------------------------------------------------------------------------

REC_EOF = 0x000A
REC_HEADER = 0x0014
REC_FOOTER = 0x0015
REC_SELECTION = 0x001D
REC_CONTINUE = 0x003C
REC_OBJ = 0x005D
REC_BOUNDSHEET = 0x0085
REC_MSODRAWINGGROUP = 0x00EB
REC_MSODRAWING = 0x00EC
REC_SST = 0x00FC
REC_WINDOW2 = 0x023E
MAX_RECORD_DATA = 8224

PANE_TOP_LEFT = 3           # the only pane of an unsplit window

# Office drawing (Escher) record types and values, as Excel 97 writes them.
DGG_CONTAINER, BSTORE_CONTAINER, DG_CONTAINER = 0xF000, 0xF001, 0xF002
SPGR_CONTAINER, SP_CONTAINER = 0xF003, 0xF004
FDGG, FBSE, FDG, FSPGR, FSP, FOPT = 0xF006, 0xF007, 0xF008, 0xF009, 0xF00A, 0xF00B
CLIENT_ANCHOR, CLIENT_DATA, BLIP_PNG, SPLIT_MENU_COLORS = 0xF010, 0xF011, 0xF01E, 0xF11E
BLIP_TYPE_PNG = 6
BLIP_PNG_ONE_UID = 0x6E0
SHAPE_PICTURE_FRAME = 75
SP_GROUP, SP_PATRIARCH, SP_HAVE_ANCHOR, SP_HAVE_SHAPE_TYPE = 0x001, 0x004, 0x200, 0x800
FIRST_SHAPE_ID = 1024       # shape ids of drawing 1 are 1024..2047
DRAWING_ID = 1
PROP_PIB = 0x4104           # picture = BSE index, 1-based (fBid set)
PROP_NO_FILL_HIT_TEST = 0x01BF
PROP_PRINT = 0x03BF
ANCHOR_MOVE_AND_SIZE = 0x0000

OBJ_TYPE_PICTURE = 0x0008
OBJ_PICTURE_FLAGS = 0x6011  # locked, printable, automatic fill and line
FT_END, FT_CF, FT_PIO_GRBIT, FT_CMO = 0x0000, 0x0007, 0x0008, 0x0015
CF_FROM_BLIP = 0xFFFF


def record(rec_id, data):
    return struct.pack("<HH", rec_id, len(data)) + data


def split_record(rec_id, data):
    """One record, with anything past the size limit carried on in CONTINUE records."""
    chunks = [data[i:i + MAX_RECORD_DATA] for i in range(0, len(data), MAX_RECORD_DATA)] or [b""]
    return record(rec_id, chunks[0]) + b"".join(record(REC_CONTINUE, c) for c in chunks[1:])


def selection_record(cell):
    row, col = int(cell[1:]) - 1, col_index(cell[0])
    ref = struct.pack("<HHBB", row, row, col, col)
    return record(REC_SELECTION, struct.pack("<BHHHH", PANE_TOP_LEFT, row, col, 0, 1) + ref)


def escher(fbt, body, version=0, instance=0):
    return struct.pack("<HHI", version | (instance << 4), fbt, len(body)) + body


def escher_container(fbt, children, instance=0):
    return escher(fbt, b"".join(children), 0xF, instance)


def escher_properties(props):
    fixed = b"".join(struct.pack("<HI", pid, value) for pid, value in props)
    return escher(FOPT, fixed, 3, len(props))


def drawing_group_record(png, uses):
    """The workbook's drawing group: one stored picture, referenced `uses` times."""
    uid = hashlib.md5(png).digest()
    blip = escher(BLIP_PNG, uid + b"\xff" + png, 0, BLIP_PNG_ONE_UID)
    bse = struct.pack("<BB16sHIIIBBBB", BLIP_TYPE_PNG, BLIP_TYPE_PNG, uid, 0xFF,
                      len(blip), uses, 0, 0, 0, 0, 0) + blip
    shapes = uses + 1  # the pictures and the sheet's group shape
    dgg = struct.pack("<IIII", FIRST_SHAPE_ID + shapes, 2, shapes, 1)
    dgg += struct.pack("<II", DRAWING_ID, shapes + 1)
    container = escher_container(DGG_CONTAINER, [
        escher(FDGG, dgg),
        escher_container(BSTORE_CONTAINER, [escher(FBSE, bse, 2, BLIP_TYPE_PNG)], instance=1),
        escher_properties([(0x00BF, 0x00080008), (0x0181, 0x08000041), (0x01C0, 0x08000040)]),
        escher(SPLIT_MENU_COLORS, struct.pack("<4I", 0x0800000D, 0x0800000C, 0x08000017,
                                              0x100000F7), 0, 4),
    ])
    return split_record(REC_MSODRAWINGGROUP, container)


def picture_shape(shape_id, anchor):
    col1, dx1, row1, dy1, col2, dx2, row2, dy2 = anchor
    return escher_container(SP_CONTAINER, [
        escher(FSP, struct.pack("<II", shape_id, SP_HAVE_ANCHOR | SP_HAVE_SHAPE_TYPE),
               2, SHAPE_PICTURE_FRAME),
        escher_properties([(PROP_PIB, 1), (PROP_NO_FILL_HIT_TEST, 0x00010000),
                           (PROP_PRINT, 0x00080000)]),
        escher(CLIENT_ANCHOR, struct.pack("<H8H", ANCHOR_MOVE_AND_SIZE,
                                          col_index(col1), dx1, row1 - 1, dy1,
                                          col_index(col2), dx2, row2 - 1, dy2)),
        escher(CLIENT_DATA, b""),
    ])


def picture_obj_record(obj_id):
    data = struct.pack("<HHHHH12x", FT_CMO, 18, OBJ_TYPE_PICTURE, obj_id, OBJ_PICTURE_FLAGS)
    data += struct.pack("<HHH", FT_CF, 2, CF_FROM_BLIP)
    data += struct.pack("<HHH", FT_PIO_GRBIT, 2, 0x0001)
    data += struct.pack("<HH", FT_END, 0)
    return record(REC_OBJ, data)


def drawing_records(anchors):
    """The sheet's drawing: a group shape holding one picture per anchor. The
    containers open in the first MSODRAWING record and every later picture comes
    in a record of its own, each followed by its OBJ record."""
    group = escher_container(SP_CONTAINER, [
        escher(FSPGR, bytes(16), 1),
        escher(FSP, struct.pack("<II", FIRST_SHAPE_ID, SP_GROUP | SP_PATRIARCH), 2, 0),
    ])
    pictures = [picture_shape(FIRST_SHAPE_ID + 1 + i, a) for i, a in enumerate(anchors)]
    last_id = FIRST_SHAPE_ID + len(anchors)
    spgr_body = group + b"".join(pictures)
    fdg = escher(FDG, struct.pack("<II", len(anchors) + 1, last_id), 0, DRAWING_ID)
    spgr_header = struct.pack("<HHI", 0xF, SPGR_CONTAINER, len(spgr_body))
    dg_header = struct.pack("<HHI", 0xF, DG_CONTAINER, len(fdg) + len(spgr_header) + len(spgr_body))
    out = b""
    for i, shape in enumerate(pictures):
        lead = dg_header + fdg + spgr_header + group if i == 0 else b""
        out += record(REC_MSODRAWING, lead + shape) + picture_obj_record(i + 1)
    return out


def check_png(png):
    if png[:8] != b"\x89PNG\r\n\x1a\n" or png[12:16] != b"IHDR":
        raise SystemExit("%s is not a PNG file (run tools/art/render_bag.sh)" % BAG_PNG)


def split_records(data):
    out, pos = [], 0
    while pos < len(data):
        rec_id, size = struct.unpack("<HH", data[pos:pos + 4])
        out.append((rec_id, data[pos:pos + 4 + size]))
        pos += 4 + size
    return out


def finish_sheet_stream(data):
    """Put the pictures before WINDOW2 and the active cell right before EOF, and
    empty the page header and footer: xlwt prints the page number and the file
    name there; a HEADER/FOOTER record without a string means none."""
    records = split_records(data)
    if records[-1][0] != REC_EOF or sum(1 for r in records if r[0] == REC_WINDOW2) != 1:
        raise SystemExit("unexpected worksheet stream from xlwt")
    out = []
    for rec_id, raw in records:
        if rec_id == REC_WINDOW2:
            out.append(drawing_records(PICTURES))
        if rec_id == REC_EOF:
            out.append(selection_record(ACTIVE_CELL))
        out.append(record(rec_id, b"") if rec_id in (REC_HEADER, REC_FOOTER) else raw)
    return b"".join(out)


def finish_book_stream(data, png):
    """Insert the drawing group before the shared strings (where Excel keeps it)
    and move the sheets' stream offsets in BOUNDSHEET along with it."""
    records = split_records(data)
    group = drawing_group_record(png, len(PICTURES))
    globals_end = next(i for i, (rec_id, _) in enumerate(records) if rec_id == REC_EOF)
    if not any(rec_id == REC_SST for rec_id, _ in records[:globals_end]):
        raise SystemExit("unexpected workbook stream from xlwt")
    out = []
    for index, (rec_id, raw) in enumerate(records):
        if index < globals_end and rec_id == REC_SST:
            out.append(group)
        if index < globals_end and rec_id == REC_BOUNDSHEET:
            (offset,) = struct.unpack("<I", raw[4:8])
            raw = raw[:4] + struct.pack("<I", offset + len(group)) + raw[8:]
        out.append(raw)
    return b"".join(out)


def build(out_path):
    with open(BAG_PNG, "rb") as f:
        png = f.read()
    check_png(png)

    book = xlwt.Workbook(encoding="utf-8", style_compression=2)
    book.owner = "Pantrimo"
    sheet = build_sheet(book)
    book.active_sheet = 0
    plain_sheet, plain_book = sheet.get_biff_data, book.get_biff_data
    sheet.get_biff_data = lambda: finish_sheet_stream(plain_sheet())
    book.get_biff_data = lambda: finish_book_stream(plain_book(), png)

    tmp = out_path + ".tmp"
    book.save(tmp)
    os.replace(tmp, out_path)


def main(argv):
    out = argv[1] if len(argv) > 1 else DEFAULT_OUT
    build(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
