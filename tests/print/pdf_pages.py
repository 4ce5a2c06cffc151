"""Reading back what a PDF shows, with poppler's tools: page count and size (pdfinfo), each
page's words with their boxes in points from the top-left corner (pdftotext -bbox), and the
fonts with their embedding (pdffonts)."""

import re
import subprocess
from html import unescape

WORD = re.compile(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">(.*?)</word>')
PAGE = re.compile(r'<page width="([\d.]+)" height="([\d.]+)">(.*?)</page>', re.S)


def info(path):
    out = subprocess.run(["pdfinfo", path], check=True, capture_output=True, text=True).stdout
    fields = dict(line.split(":", 1) for line in out.splitlines() if ":" in line)
    fields = {k.strip(): v.strip() for k, v in fields.items()}
    w, h = re.match(r"([\d.]+) x ([\d.]+)", fields["Page size"]).groups()
    return int(fields["Pages"]), (float(w), float(h)), fields


def pages(path):
    """[(width, height, [(text, x0, y0, x1, y1), ...]), ...] one per page."""
    out = subprocess.run(["pdftotext", "-bbox", path, "-"], check=True, capture_output=True, text=True).stdout
    result = []
    for w, h, body in PAGE.findall(out):
        words = [(unescape(t), float(a), float(b), float(c), float(d)) for a, b, c, d, t in WORD.findall(body)]
        result.append((float(w), float(h), words))
    return result


def text(path):
    return subprocess.run(["pdftotext", "-layout", path, "-"], check=True, capture_output=True, text=True).stdout


def fonts(path):
    """[(name, embedded)] from pdffonts."""
    out = subprocess.run(["pdffonts", path], check=True, capture_output=True, text=True).stdout.splitlines()[2:]
    found = []
    for line in out:
        parts = line.split()
        # name type... encoding emb sub uni object ID: emb is the fifth field from the end
        found.append((parts[0], parts[-5] == "yes"))
    return found


def box(words):
    """The union of the words' boxes."""
    return (min(w[1] for w in words), min(w[2] for w in words), max(w[3] for w in words), max(w[4] for w in words))


def find(words, text):
    return next((w for w in words if w[0] == text), None)


def gray_page(pdf, page=1, dpi=72):
    """The page as rows of grey bytes (0 black, 255 white), with its width and height."""
    out = subprocess.run(["pdftoppm", "-r", str(dpi), "-gray", "-f", str(page), "-l", str(page), pdf],
                         check=True, capture_output=True).stdout
    # binary PGM: P5 width height maxval, then the pixels
    header = re.match(rb"P5\s+(\d+)\s+(\d+)\s+(\d+)\s", out)
    width, height = int(header.group(1)), int(header.group(2))
    pixels = out[header.end():]
    return [pixels[y * width:(y + 1) * width] for y in range(height)], width, height


def content_box(pdf, page=1):
    """The box of the non-white pixels of a page rendered at 72 dpi, in points, and the page size."""
    rows, width, height = gray_page(pdf, page)
    ink = [y for y, row in enumerate(rows) if any(p < 200 for p in row)]
    cols = [x for x in range(width) if any(rows[y][x] < 200 for y in ink)]
    return (cols[0], ink[0], cols[-1] + 1, ink[-1] + 1), (width, height)


def ink(pdf, page=1, dpi=72):
    """How much of the page is dark: the count of pixels darker than mid-grey."""
    rows, _, _ = gray_page(pdf, page, dpi)
    return sum(1 for row in rows for p in row if p < 128)
