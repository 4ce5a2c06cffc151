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
