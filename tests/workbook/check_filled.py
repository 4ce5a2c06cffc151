"""Reads a filled grocery list workbook with readers nobody here wrote and compares it
with what the run was asked to write.

usage: check_filled.py WORKBOOK EXPECTED.json [--libreoffice] [--verdict FILE]

EXPECTED.json maps "row,col" (counted from 1) to the number or text of every item
cell the run wrote; every other item cell of the fifteen blocks must be blank, and the
captions and titles must be as the template has them. Exit 0 when all holds, 1 with a
list of differences, 77 when LibreOffice was asked for and is not installed; with
--verdict, the exit status and what was printed are also written to FILE."""

import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile

CAPTIONS = ["Meat/Seafood", "Produce", "Dairy", "Natural/Organic", "Canned ", "Frozen",
            "Spices/Condiments", "Beverages", "Pet Food", "Household Items", "Pharmacy",
            "Personal Hygiene", "Cereal/Grain/Pasta", "Snacks", "Other"]
TITLE = "      Grocery List"


def item_cells():
    """Every (row, col) of the cell mapping: 15 categories x 20 items x number and text."""
    for i in range(15):
        start = 3 + 11 * (i // 3)
        group = i % 3
        for k in range(20):
            if k < 10:
                yield start + k, 2 * group + 1, "number"
                yield start + k, 2 * group + 2, "text"
            else:
                yield start + k - 10, 2 * group + 8, "number"
                yield start + k - 10, 2 * group + 9, "text"


def caption_cells():
    for i, caption in enumerate(CAPTIONS):
        row = 2 + 11 * (i // 3)
        col = 2 * (i % 3) + 2
        yield row, col, caption
        yield row, col + 7, caption


def check(get, expected, numbers_typed):
    """get(row, col) -> (kind, value), kind in {"number", "text", "blank"}."""
    problems = []
    for row, col, role in item_cells():
        kind, value = get(row, col)
        want = expected.get(f"{row},{col}")
        if want is None:
            if kind != "blank" and value != "":
                problems.append(f"R{row}C{col}: expected blank, found {kind} {value!r}")
        elif role == "number":
            if numbers_typed and kind != "number":
                problems.append(f"R{row}C{col}: expected the number {want}, found {kind} {value!r}")
            elif float(value) != float(want):
                problems.append(f"R{row}C{col}: expected {want}, found {value!r}")
        else:
            if (numbers_typed and kind != "text") or value != want:
                problems.append(f"R{row}C{col}: expected text {want!r}, found {kind} {value!r}")
    for row, col, caption in caption_cells():
        kind, value = get(row, col)
        if value != caption:
            problems.append(f"R{row}C{col}: caption {caption!r} became {value!r}")
    for col in (1, 8):
        if get(1, col)[1] != TITLE:
            problems.append(f"R1C{col}: title became {get(1, col)[1]!r}")
    return problems


def with_xlrd(path, expected):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    if book.nsheets != 1 or book.sheet_names() != ["Grocery List"]:
        return [f"sheets are {book.sheet_names()}"]
    sheet = book.sheet_by_index(0)
    if (sheet.nrows, sheet.ncols) != (58, 13):
        return [f"used range is {sheet.nrows} rows x {sheet.ncols} columns"]

    def get(row, col):
        cell = sheet.cell(row - 1, col - 1)
        kind = {xlrd.XL_CELL_NUMBER: "number", xlrd.XL_CELL_TEXT: "text"}.get(cell.ctype, "blank")
        return kind, cell.value
    return check(get, expected, numbers_typed=True)


def with_libreoffice(path, expected):
    soffice = shutil.which("soffice") or shutil.which("libreoffice")
    if not soffice:
        print("SKIP: LibreOffice is not installed")
        sys.exit(77)
    work = tempfile.mkdtemp(prefix="pantrimo-lo-")
    try:
        subprocess.run([soffice, f"-env:UserInstallation=file://{work}/profile", "--headless",
                        "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false",
                        "--outdir", work, path], check=True, capture_output=True, timeout=180)
        out = os.path.join(work, os.path.splitext(os.path.basename(path))[0] + ".csv")
        with open(out, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))

        def get(row, col):
            try:
                text = rows[row - 1][col - 1]
            except IndexError:
                return "blank", ""
            return ("blank" if text == "" else "value"), text
        return check(get, expected, numbers_typed=False)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    args = sys.argv[1:]
    verdict = None
    if "--verdict" in args:
        at = args.index("--verdict")
        verdict = args[at + 1]
        del args[at:at + 2]
    path, expected_file = args[0], args[1]
    with open(expected_file, encoding="utf-8") as f:
        expected = json.load(f)
    try:
        problems = with_libreoffice(path, expected) if "--libreoffice" in args else with_xlrd(path, expected)
        lines = problems[:40] + [f"{len(problems)} differences"]
        code = 1 if problems else 0
    except SystemExit as e:
        lines, code = ["LibreOffice is not installed"], e.code
    except Exception as e:  # an unreadable workbook is a difference too, and must reach the verdict
        lines, code = [f"{type(e).__name__}: {e}"], 1
    for line in lines:
        print(line)
    if verdict:
        # Written whole, then renamed: whoever waits for the file never reads half of it.
        with open(verdict + ".part", "w", encoding="utf-8") as f:
            f.write(f"{code}\n" + "\n".join(lines) + "\n")
        os.replace(verdict + ".part", verdict)
    sys.exit(code)


if __name__ == "__main__":
    main()
