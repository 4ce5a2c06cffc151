"""What the grocery list template must hold, written down independently of the
script that builds it, so the tests compare the file against these facts and
not against the builder's own tables."""
import os

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TEMPLATE = os.path.join(ROOT, "workbook", "template", "grocery_template.xls")
BUILDER = os.path.join(ROOT, "tools", "template", "make_template.py")
PYTHON = "/usr/bin/python3"  # the interpreter that has xlwt and xlrd

SHEET = "Grocery List"
TITLE = "      Grocery List"

# Category captions in category index order 0..14; band = i // 3, block = i % 3.
CATEGORIES = [
    "Meat/Seafood", "Produce", "Dairy",
    "Natural/Organic", "Canned ", "Frozen",
    "Spices/Condiments", "Beverages", "Pet Food",
    "Household Items", "Pharmacy", "Personal Hygiene",
    "Cereal/Grain/Pasta", "Snacks", "Other",
]
BAND_START_ROWS = [3, 14, 25, 36, 47]        # 1-based first item row of each band
CAPTION_ROWS = [r - 1 for r in BAND_START_ROWS]
LEFT_COLUMNS = [(0, 1), (2, 3), (4, 5)]      # (number, text), 0-based, items 1-10
RIGHT_COLUMNS = [(7, 8), (9, 10), (11, 12)]  # items 11-20

# Displayed width in characters -> stored width in 1/256 characters (with padding).
COLUMN_WIDTHS = [1060, 4973, 1024, 4973, 1060, 4973, 1133, 1060, 4973, 1060, 4973, 1060, 4973]


def row_height_twips(row):
    """Height of 1-based row, in twips."""
    if row == 1:
        return 1002
    if row == 46:
        return 435
    if row in CAPTION_ROWS:
        return 439
    return 360


def item_cells():
    """Every (row0, col0, category, n) that the generation run may write, n = 1..20."""
    cells = []
    for i in range(15):
        start = BAND_START_ROWS[i // 3]
        for k in range(20):
            number_col, text_col = (LEFT_COLUMNS if k < 10 else RIGHT_COLUMNS)[i % 3]
            row0 = start + k % 10 - 1
            cells.append((row0, number_col, i, k + 1))
            cells.append((row0, text_col, i, k + 1))
    return cells


# Default palette entries that the template refers to.
PALETTE = {
    56: (0x00, 0x33, 0x66), 42: (0xCC, 0xFF, 0xCC), 50: (0x99, 0xCC, 0x00),
    44: (0x99, 0xCC, 0xFF), 22: (0xC0, 0xC0, 0xC0), 55: (0x96, 0x96, 0x96),
    54: (0x66, 0x66, 0x99),
}
